#!/usr/bin/env python3
"""Runs a command while the release server serves a page on an ephemeral loopback port.

    serve_and_run.py PAGE COMMAND... 

Every "{url}" in COMMAND becomes the address of the release page on that
server. The page is served byte for byte (--keep-addresses), so its addresses
stay the ones the build has built in. Exits with the command's exit code.
"""

import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RELEASE_SERVER = os.path.join(HERE, "..", "support", "release_server.py")
PAGE_PATH = "/p/download-orvelline-2016-chn"


def main():
    page, command = sys.argv[1], sys.argv[2:]
    with tempfile.TemporaryDirectory(prefix="serve-and-run-") as tmp:
        port_file = os.path.join(tmp, "port")
        server = subprocess.Popen([sys.executable, RELEASE_SERVER, "--port", "0", "--port-file", port_file,
                                   "--page", page, "--keep-addresses"], stdout=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 20
            while not os.path.exists(port_file):
                if server.poll() is not None or time.monotonic() > deadline:
                    print("serve_and_run.py: the release server did not start", file=sys.stderr)
                    return 2
                time.sleep(0.02)
            with open(port_file) as f:
                url = f"http://127.0.0.1:{int(f.read())}{PAGE_PATH}"
            return subprocess.run([part.replace("{url}", url) for part in command]).returncode
        finally:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    sys.exit(main())

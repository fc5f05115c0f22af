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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import harness  # noqa: E402


def main():
    page, command = sys.argv[1], sys.argv[2:]
    with harness.ReleaseServer(page=page, keep_addresses=True) as server:
        return subprocess.run([part.replace("{url}", server.url()) for part in command]).returncode


if __name__ == "__main__":
    sys.exit(main())

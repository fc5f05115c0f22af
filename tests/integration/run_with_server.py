#!/usr/bin/env python3
"""Runs a test program against a release server on loopback.

  run_with_server.py [--port N] [--page FILE] [--keep-addresses] -- PROGRAM [ARGS...]

Starts tests/support/release_server.py (on a free port unless --port), runs
PROGRAM with these in its environment, stops the server and exits with
PROGRAM's exit code:

  TESSMOOR_SERVER_URL    http://127.0.0.1:PORT
  TESSMOOR_SERVER_LOG    the server's request log (one JSON object a line)
  TESSMOOR_SERVER_PAGE   the page file it serves
  TESSMOOR_CLOSED_PORT   a loopback port where connections are refused
  TESSMOOR_STALLED_PORT  a loopback port where a connect never completes (full accept queue)

http_proxy, https_proxy, all_proxy (both cases) point at the closed port and
no_proxy is removed, so a client that used a proxy would fail.
"""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from harness import ReleaseServer, StalledListener, closed_port  # noqa: E402

DEFAULT_PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support",
                            "sample_release_page.html")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--page", default=DEFAULT_PAGE)
    parser.add_argument("--keep-addresses", action="store_true")
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    program = args.program[1:] if args.program[:1] == ["--"] else args.program
    if not program:
        parser.error("no PROGRAM")

    refused, refused_port = closed_port()
    with refused, StalledListener() as stalled, \
            ReleaseServer(page=args.page, port=args.port, keep_addresses=args.keep_addresses) as server:
        env = dict(os.environ)
        for name in ("no_proxy", "NO_PROXY"):
            env.pop(name, None)
        proxy = f"http://127.0.0.1:{refused_port}"
        for name in ("http_proxy", "https_proxy", "all_proxy"):
            env[name] = env[name.upper()] = proxy
        env.update(TESSMOOR_SERVER_URL=server.url(""), TESSMOOR_SERVER_LOG=server.log,
                   TESSMOOR_SERVER_PAGE=os.path.abspath(args.page), TESSMOOR_CLOSED_PORT=str(refused_port),
                   TESSMOOR_STALLED_PORT=str(stalled.port))
        return subprocess.call(program, env=env)


if __name__ == "__main__":
    sys.exit(main())

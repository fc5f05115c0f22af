#!/usr/bin/env python3
"""Addresses that a build is configured with reach the program byte for byte.

  configured_addresses_test.py --source DIR --build-dir DIR --cmake CMAKE --generator G
                               [--make-program P] [--c-compiler CC] [--cxx-compiler CXX]

Configures this source tree a second time (in --build-dir, kept between runs so
that a run after the first only recompiles the addresses) with RELEASE_PAGE_URL
and DOWNLOAD_URL_PREFIX holding the characters that a list, a quoted
definition or a string literal would mangle, builds release-check alone, and
checks the exact request line that the release server receives from it and
the addresses its help shows.
"""

import argparse
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from harness import ReleaseServer  # noqa: E402

ARGS = None  # set by main()

# A ";" splits a CMake list, "'" and "%22" are what a shell or a quoting step
# trips over, '"' and '\' end or bend a C++ string literal.
PAGE_PATH = "/p;v=1/a'b%22c?q=x;y'z%22"
PREFIX_PATH = "/d;l'o%22\"q\\x/KALMERDINE_"


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, **kwargs)
    if result.returncode != 0:
        raise AssertionError(f"{command} failed ({result.returncode}):\n"
                             f"{result.stdout.decode(errors='replace')}{result.stderr.decode(errors='replace')}")
    return result


class ConfiguredAddresses(unittest.TestCase):
    def test_addresses_with_list_and_quote_characters(self):
        with ReleaseServer(port=0) as server:
            page_url = f"http://127.0.0.1:{server.port}{PAGE_PATH}"
            prefix = f"http://127.0.0.1:{server.port}{PREFIX_PATH}"
            configure = [ARGS.cmake, "-S", ARGS.source, "-B", ARGS.build_dir, "-G", ARGS.generator,
                         "-DCMAKE_BUILD_TYPE=Debug", "-DBUILD_TESTING=OFF",
                         f"-DRELEASE_PAGE_URL:STRING={page_url}", f"-DDOWNLOAD_URL_PREFIX:STRING={prefix}"]
            for name, value in (("CMAKE_MAKE_PROGRAM", ARGS.make_program), ("CMAKE_C_COMPILER", ARGS.c_compiler),
                                ("CMAKE_CXX_COMPILER", ARGS.cxx_compiler)):
                if value:
                    configure.append(f"-D{name}={value}")
            run(configure, timeout=300)
            run([ARGS.cmake, "--build", ARGS.build_dir, "--target", "release-check"], timeout=600)
            release_check = os.path.join(ARGS.build_dir, "bin", "release-check")

            run_built_in = subprocess.run([release_check], capture_output=True, timeout=60)
            self.assertIn(run_built_in.returncode, (0, 1), run_built_in.stderr)
            self.assertEqual([r["request_line"] for r in server.requests()], [f"GET {PAGE_PATH} HTTP/1.0"])

            shown = run([release_check, "--help"], timeout=60).stdout
            self.assertIn(page_url.encode(), shown)
            self.assertIn(f"var link1 = \"{prefix}VERSION".encode(), shown)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--generator", required=True)
    parser.add_argument("--make-program")
    parser.add_argument("--c-compiler")
    parser.add_argument("--cxx-compiler")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()

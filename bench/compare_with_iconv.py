#!/usr/bin/env python3
"""Times release-check --field latestVersion on a page against iconv converting it.

  compare_with_iconv.py RELEASE_CHECK PAGE [--runs N]

Both run as whole processes, alternately (which one goes first alternates
too), output to /dev/null. Prints the median of each and the median of the
per-pair ratios release-check / iconv. The conversion alone is the floor: the
aim is a ratio of at most 1.5. For scale, it also times release-check --help,
which is the program's start-up alone.
"""

import argparse
import statistics
import subprocess
import sys
import time

AIM = 1.5


def timed(command):
    begin = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - begin


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("release_check")
    parser.add_argument("page")
    parser.add_argument("--runs", type=int, default=15)
    args = parser.parse_args()

    check = [args.release_check, "--field", "latestVersion", args.page]
    iconv = ["iconv", "-f", "UTF-8", "-t", "GB18030", args.page]
    start_up = [args.release_check, "--help"]
    version = subprocess.run(check, capture_output=True).stdout
    print(f"release-check --field latestVersion: {version.decode('gb18030', 'replace')!r}")
    if not version:
        print("no version found: the page does not match this build's DOWNLOAD_URL_PREFIX", file=sys.stderr)
        return 1

    timed(check), timed(iconv)  # warm the page cache and both programs
    ours, theirs, bare, ratios = [], [], [], []
    for run in range(args.runs):
        if run % 2 == 0:
            a, b = timed(check), timed(iconv)
        else:
            b, a = timed(iconv), timed(check)
        ours.append(a)
        theirs.append(b)
        ratios.append(a / b)
        bare.append(timed(start_up))

    ratio = statistics.median(ratios)
    ms = lambda values: f"median {statistics.median(values) * 1000:.1f} ms"
    print(f"  {' '.join(check)}: {ms(ours)}")
    print(f"  {' '.join(iconv)}: {ms(theirs)}")
    print(f"  {' '.join(start_up)} (start-up alone): {ms(bare)}")
    print(f"ratio release-check / iconv (median of {args.runs} alternating pairs): {ratio:.2f}"
          f"  (aim <= {AIM}: {'met' if ratio <= AIM else 'missed'})")
    return 0


if __name__ == "__main__":
    sys.exit(main())

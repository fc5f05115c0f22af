#!/usr/bin/python3
"""The start-up and page-reading benchmark: four rows, each against its floor.

    bench/table.py [--build-dir DIR] [--runs N] [--page PATH]

  1. exec -> updater window mapped (the version is set before it maps), against
     a GTK 3 window of the same size and title with one Chinese label;
  2. peak resident memory (wait4's ru_maxrss) of the same runs, each ended by a
     close request;
  3. release-check --field latestVersion on an 8 MiB page from a file, against
     iconv -f UTF-8 -t GB18030 on the same file;
  4. release-check --help, against a C++ program that prints a page of text.

Each row alternates its program and its floor (which one goes first alternates
too) after two warm-up pairs; it prints the medians and the median of the
per-pair ratios. For the two release-check rows it also prints the processor
time (user + system): the wall time of a short process also measures how busy
the machine is. (The windows' processor time would include the fades and the
close sequence, so it is not shown.)

The build directory (default $TESSMOOR_BENCH_DIR or build/bench, the `bench`
preset) must already be built, with a loopback release page address: the
sample release server is started on its port. The floors and x11probe are
built in DIR/startup-floor. The page is written by release_bench --write-page.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "support"), os.path.join(ROOT, "tests", "gui")]
import harness  # noqa: E402
import window_support  # noqa: E402

WARM_UP_PAIRS = 2


def cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def build_floors(build_dir):
    floor_dir = os.path.join(build_dir, "startup-floor")
    subprocess.run(["cmake", "-S", os.path.join(ROOT, "bench", "startup"), "-B", floor_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=" + (cache_value(build_dir, "CMAKE_BUILD_TYPE") or "Release")],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", floor_dir, "-j", str(os.cpu_count() or 2)], check=True,
                   stdout=subprocess.DEVNULL)
    return {name: os.path.join(floor_dir, name) for name in ("minimal-gtk-window", "print-help", "x11probe")}


class Sample:
    def __init__(self, wall, usage):
        self.wall = wall  # seconds
        self.cpu = usage.ru_utime + usage.ru_stime  # seconds
        self.peak = usage.ru_maxrss / 1024  # MiB


def run_process(command, **popen):
    """One run of a process to its end, output discarded."""
    started = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **popen)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, Sample(wall, usage)


class Windows:
    """Runs a GTK program to its first mapped window, then asks it to close."""

    def __init__(self, x, watch, probe, server):
        self.x, self.watch, self.probe, self.server = x, watch, probe, server

    def run(self, command, reads_page):
        env = self.x.env(NO_AT_BRIDGE="1", GDK_BACKEND="x11")
        pages_before = len(self.server.requests())
        started = time.monotonic()
        process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def mapped():
            # X reuses a client's window ids for the next client: go by time alone.
            return next(((t, xid) for t, _, xid, _ in self.watch.events("map") if t >= started), None)

        found = harness.wait_until(lambda: mapped() or process.poll() is not None, 30, interval=0.005)
        if not found or process.poll() is not None:
            process.kill()
            raise RuntimeError(f"{command[0]}: no window (exit code {process.poll()})")
        mapped_at, xid = mapped()
        subprocess.run([self.probe, "close", hex(xid)], env=env, check=True)
        _, status, usage = os.wait4(process.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError(f"{command[0]}: exit code {os.waitstatus_to_exitcode(status)}")
        if reads_page and len(self.server.requests()) != pages_before + 1:
            raise RuntimeError(f"{command[0]} did not read the release page")
        return Sample(mapped_at - started, usage)


def alternate(runs, ours, floor):
    """[(our sample, floor sample)] of runs pairs, after the warm-up pairs."""
    pairs = []
    for i in range(WARM_UP_PAIRS + runs):
        if i % 2 == 0:
            a, b = ours(), floor()
        else:
            b, a = floor(), ours()
        if i >= WARM_UP_PAIRS:
            pairs.append((a, b))
    return pairs


class Row:
    def __init__(self, measure, floor_name, pairs, value, unit, aim_ratio=None, aim_value=None, cpu=False):
        self.measure, self.floor_name, self.unit = measure, floor_name, unit
        self.aim_ratio, self.aim_value = aim_ratio, aim_value
        ours = [value(a) for a, _ in pairs]
        floors = [value(b) for _, b in pairs]
        self.ours, self.floor = statistics.median(ours), statistics.median(floors)
        self.ratio = statistics.median(a / b for a, b in zip(ours, floors))
        self.cpu = None
        if cpu:
            self.cpu = (statistics.median(a.cpu * 1000 for a, _ in pairs),
                        statistics.median(b.cpu * 1000 for _, b in pairs))

    def aim(self):
        if self.aim_value is not None:
            return f"<= {self.aim_value:g} {self.unit}", self.ours <= self.aim_value
        return f"<= {self.aim_ratio:.2f}x", self.ratio <= self.aim_ratio


def print_table(rows, runs):
    print(f"medians of {runs} alternating runs each (after {WARM_UP_PAIRS} warm-up pairs); "
          "ratio: median of the per-pair ratios; cpu: user + system time")
    header = ("measure", "now", "floor", "ratio", "aim", "", "cpu now / floor")
    lines = []
    for row in rows:
        aim, met = row.aim()
        cpu = f"{row.cpu[0]:.1f} / {row.cpu[1]:.1f} ms" if row.cpu else ""
        lines.append((row.measure, f"{row.ours:.1f} {row.unit}", f"{row.floor:.1f} {row.unit}, {row.floor_name}",
                      f"{row.ratio:.2f}x", aim, "met" if met else "missed", cpu))
    widths = [max(len(line[i]) for line in [header] + lines) for i in range(len(header))]
    for line in [header] + lines:
        print("  " + "  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.environ.get("TESSMOOR_BENCH_DIR", os.path.join(ROOT, "build", "bench")))
    parser.add_argument("--runs", type=int, default=15, help="measured runs of each program (default 15)")
    parser.add_argument("--page", help="the 8 MiB page (default: BUILD_DIR/page-8MiB.html, written if missing)")
    args = parser.parse_args()

    bin_dir = os.path.join(args.build_dir, "bin")
    updater, release_check = os.path.join(bin_dir, "tessmoor-updater"), os.path.join(bin_dir, "release-check")
    floors = build_floors(args.build_dir)
    page = args.page or os.path.join(args.build_dir, "page-8MiB.html")
    if not os.path.exists(page):
        subprocess.run([os.path.join(bin_dir, "release_bench"), "--write-page=" + page], check=True)

    page_url = cache_value(args.build_dir, "RELEASE_PAGE_URL")
    prefix = "http://127.0.0.1:"
    if not page_url.startswith(prefix):
        sys.exit(f"table.py: {args.build_dir} reads its release page from {page_url}, not from a loopback server")
    port = int(page_url[len(prefix):].split("/", 1)[0])

    check = [release_check, "--field", "latestVersion", page]
    version = subprocess.run(check, capture_output=True).stdout
    if version != b"7.14":
        sys.exit(f"table.py: release-check found {version!r} on {page}, not 7.14: a page of another build?")

    def process(command):
        def one():
            code, sample = run_process(command)
            if code not in (0, 1):
                raise RuntimeError(f"{command[0]}: exit code {code}")
            return sample
        return one

    with harness.Xvfb() as x, harness.ReleaseServer(port=port) as server:
        watch = window_support.Watch(floors["x11probe"], x.env())
        try:
            windows = Windows(x, watch, floors["x11probe"], server)
            window_pairs = alternate(args.runs, lambda: windows.run([updater], True),
                                     lambda: windows.run([floors["minimal-gtk-window"]], False))
        finally:
            watch.stop()
    page_pairs = alternate(args.runs, process(check), process(["iconv", "-f", "UTF-8", "-t", "GB18030", page]))
    help_pairs = alternate(args.runs, process([release_check, "--help"]), process([floors["print-help"]]))

    ms = lambda sample: sample.wall * 1000
    print_table([
        Row("exec -> updater window mapped with the version (GTK)", "GTK window, one Chinese label", window_pairs, ms,
            "ms", aim_ratio=1.25),
        Row("peak RSS, same runs", "same", window_pairs, lambda sample: sample.peak, "MiB", aim_ratio=1.30),
        Row("release-check --field latestVersion, 8 MiB page, file", "iconv -f UTF-8 -t GB18030", page_pairs, ms,
            "ms", aim_ratio=1.5, cpu=True),
        Row("release-check --help", "C++ program printing its help", help_pairs, ms, "ms", aim_value=3, cpu=True),
    ], args.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())

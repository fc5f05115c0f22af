#!/usr/bin/python3
"""Start-up of the updater against the toolkit's floor, in the same X server and run.

    bench/startup.py [--build-dir DIR] [--runs N]

For the updater: the time from exec to its window being mapped, which happens only
after the release page has been read and the version set, and the peak resident
memory of the whole run (wait4's ru_maxrss, after a close request ends it). For the
floor, bench/startup/minimal_window.cpp: the same for a bare GTK 3 window of the
same size and title. Runs alternate; medians and their ratios are printed. Aims:
1.3 or less for the time, 1.2 or less for the peak memory.

For context the same program is also measured with a Chinese label and a button
(--text): the share of the gap that any GTK window showing Chinese text pays.

The build directory (default $TESSMOOR_BENCH_DIR or build/bench, the `bench`
preset) must have a loopback release page address; the sample release server is
started on its port. The floor and x11probe are built in DIR/startup-floor.
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

WARM_UP_RUNS = 2


def cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def build(build_dir):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "--preset", "bench", "-B", build_dir], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    jobs = str(os.cpu_count() or 2)
    subprocess.run(["cmake", "--build", build_dir, "-j", jobs, "--target", "tessmoor-updater"], check=True,
                   stdout=subprocess.DEVNULL)
    floor_dir = os.path.join(build_dir, "startup-floor")
    subprocess.run(["cmake", "-S", os.path.join(ROOT, "bench", "startup"), "-B", floor_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=" + (cache_value(build_dir, "CMAKE_BUILD_TYPE") or "Release")],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", floor_dir, "-j", jobs], check=True, stdout=subprocess.DEVNULL)
    return (os.path.join(build_dir, "bin", "tessmoor-updater"), os.path.join(floor_dir, "minimal-gtk-window"),
            os.path.join(floor_dir, "x11probe"))


class Bench:
    def __init__(self, x, watch, probe, server):
        self.x, self.watch, self.probe, self.server = x, watch, probe, server

    def run_once(self, command):
        """(seconds from exec to mapped, peak resident KiB) of one run, ended by a close request."""
        program = command[0]
        env = self.x.env(NO_AT_BRIDGE="1", GDK_BACKEND="x11")
        pages_before = len(self.server.requests())
        started = time.monotonic()
        process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def mapped():
            # X reuses a client's window ids for the next client: go by time alone.
            return next(((t, xid) for t, _, xid, _ in self.watch.events("map") if t >= started), None)

        found = harness.wait_until(lambda: mapped() or process.poll() is not None, 30, interval=0.01)
        if not found or process.poll() is not None:
            process.kill()
            raise RuntimeError(f"{program}: no window (exit code {process.poll()})")
        mapped_at, xid = mapped()
        subprocess.run([self.probe, "close", hex(xid)], env=env, check=True)
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise RuntimeError(f"{program}: exit code {process.returncode}")
        if program.endswith("tessmoor-updater") and len(self.server.requests()) != pages_before + 1:
            raise RuntimeError("the updater did not read the release page")
        return mapped_at - started, usage.ru_maxrss


def summary(name, samples):
    times = [t * 1000 for t, _ in samples]
    peaks = [kib / 1024 for _, kib in samples]
    print(f"  {name:<24} time to mapped: median {statistics.median(times):6.1f} ms "
          f"(min {min(times):6.1f}, max {max(times):6.1f})   "
          f"peak memory: median {statistics.median(peaks):5.1f} MiB (min {min(peaks):5.1f}, max {max(peaks):5.1f})")
    return statistics.median(times), statistics.median(peaks)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.environ.get("TESSMOOR_BENCH_DIR", os.path.join(ROOT, "build", "bench")))
    parser.add_argument("--runs", type=int, default=15, help="measured runs of each program (default 15)")
    args = parser.parse_args()

    updater, floor, probe = build(args.build_dir)
    page_url = cache_value(args.build_dir, "RELEASE_PAGE_URL")
    prefix = "http://127.0.0.1:"
    if not page_url.startswith(prefix):
        sys.exit(f"startup.py: {args.build_dir} reads its release page from {page_url}, not from a loopback server")
    port = int(page_url[len(prefix):].split("/", 1)[0])

    commands = {"tessmoor-updater": [updater], "minimal GTK window": [floor],
                "  the same with text": [floor, "--text"]}
    results = {name: [] for name in commands}
    with harness.Xvfb() as x, harness.ReleaseServer(port=port) as server:
        watch = window_support.Watch(probe, x.env())
        try:
            bench = Bench(x, watch, probe, server)
            for i in range(WARM_UP_RUNS + args.runs):
                for name, command in commands.items():
                    sample = bench.run_once(command)
                    if i >= WARM_UP_RUNS:
                        results[name].append(sample)
        finally:
            watch.stop()

    print(f"start-up, {args.runs} runs each, alternating, release server on 127.0.0.1:{port}:")
    medians = {name: summary(name, samples) for name, samples in results.items()}
    (time_, peak), (floor_time, floor_peak), (text_time, text_peak) = medians.values()
    print(f"  ratio to the minimal window: time {time_ / floor_time:.2f} (aim 1.3 or less), "
          f"peak memory {peak / floor_peak:.2f} (aim 1.2 or less)")
    print(f"  ratio to the same with text: time {time_ / text_time:.2f}, peak memory {peak / text_peak:.2f}")


if __name__ == "__main__":
    main()

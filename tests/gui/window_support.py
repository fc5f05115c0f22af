"""Running the real updater for a window test: its own Xvfb, the release server on the
build's loopback port, a recording xdg-open, x11probe watching the window, and the
inspection module reporting what GTK shows.

    config = window_support.parse_args()
    with window_support.Updater(config, page=...) as run:
        xid = run.wait_mapped()
        run.click_control("按钮2")
        run.fake.wait_calls(1)
"""

import argparse
import contextlib
import json
import os
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import harness  # noqa: E402

OPAQUE = 0xFFFFFFFF
SAMPLE_PAGE = os.path.join(HERE, "..", "support", "sample_release_page.html")


def parse_args(argv=None):
    """The build's facts, from CTest's command line; the rest goes to unittest."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--updater", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--inspect-module", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--artifacts", required=True)
    config, rest = parser.parse_known_args(argv)
    config.unittest_argv = [sys.argv[0]] + rest
    return config


def main(test_module):
    """Runs the TestCase classes of test_module with the configuration in their `config`."""
    config = parse_args()
    os.makedirs(config.artifacts, exist_ok=True)
    for value in vars(test_module).values():
        if isinstance(value, type) and issubclass(value, unittest.TestCase):
            value.config = config
    unittest.main(module=test_module, argv=config.unittest_argv, verbosity=2)


def alpha(value):
    """An opacity event's value as 0..255; an absent property means opaque."""
    return 255 if value is None else round(value * 255 / OPAQUE)


def page_with_links(directory, link1, link2, name="page.html"):
    """A release page holding the two assignments, with CR LF line ends as the reader expects.

    127.0.0.1:47613 in a link is rewritten by the server to the address it really listens on."""
    text = ("<html><head><meta charset=\"utf-8\"></head><body>\r\n<script>\r\n"
            f"var link1 = \"{link1}\";\r\nvar link2 = \"{link2}\";\r\n</script>\r\n</body></html>\r\n")
    path = os.path.join(directory, name)
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))
    return path


class Watch:
    """x11probe watch: every top-level window event, timestamped on time.monotonic()'s clock."""

    def __init__(self, probe, env):
        self.process = subprocess.Popen([probe, "watch"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.lines = []
        self.lock = threading.Lock()
        self.ready = threading.Event()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        if not self.ready.wait(10):
            raise RuntimeError("x11probe watch did not start")

    def _read(self):
        for raw in self.process.stdout:
            fields = raw.decode().split()
            if len(fields) >= 2 and fields[1] == "ready":
                self.ready.set()
                continue
            with self.lock:
                self.lines.append(fields)

    def events(self, kind=None, xid=None):
        """[(seconds, kind, xid, [rest...])]"""
        with self.lock:
            lines = list(self.lines)
        return [(float(f[0]), f[1], int(f[2], 16), f[3:]) for f in lines
                if (kind is None or f[1] == kind) and (xid is None or int(f[2], 16) == xid)]

    def opacities(self, xid):
        """[(seconds, raw value or None)] for the window, in order; None: the property is absent.

        The probe reads a value when it handles the event; a value it could not read
        because the window had gone by then is left out."""
        return [(t, None if rest[0] == "none" else int(rest[0]))
                for t, _, _, rest in self.events("opacity", xid) if rest[0] != "gone"]

    def stop(self):
        with contextlib.suppress(OSError):
            self.process.stdin.close()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.reader.join(5)
        self.process.stdout.close()


class Image:
    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def save_png(self, path):
        rows = b"".join(b"\0" + self.pixels[3 * self.width * y:3 * self.width * (y + 1)] for y in range(self.height))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    magic, width, height, maxval, pixels = data.split(maxsplit=4)
    assert magic == b"P6" and maxval == b"255"
    return Image(int(width), int(height), pixels)


class Updater:
    """The updater running in an X server of its own, with everything it talks to."""

    def __init__(self, config, page=None, mode="normal", server=True):
        self.config = config
        self.page = page
        self.mode = mode
        self.with_server = server
        self.stack = contextlib.ExitStack()
        self.process = None
        self.exit_code = None
        self.exited_at = None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.stack.close()
            raise
        return self

    def _start(self):
        tmp = self.stack.enter_context(tempfile.TemporaryDirectory(prefix="updater-window-"))
        self.tmp = tmp
        self.x = self.stack.enter_context(harness.Xvfb())
        self.server = None
        if self.with_server:
            self.server = self.stack.enter_context(
                harness.ReleaseServer(port=self.config.port, mode=self.mode, page=self.page))
        self.fake = harness.FakeXdgOpen(tmp)
        self.watch = Watch(self.config.probe, self.x.env())
        self.stack.callback(self.watch.stop)
        self.report_path = os.path.join(tmp, "report.json")
        env = self.x.env(
            PATH=self.fake.bin_dir + os.pathsep + os.environ["PATH"],
            GTK_MODULES=os.path.abspath(self.config.inspect_module),
            TESSMOOR_INSPECT_REPORT=self.report_path,
            GDK_BACKEND="x11",
            NO_AT_BRIDGE="1",  # no accessibility bus here; GTK would wait for one
            G_DEBUG="fatal-criticals")  # GTK API misuse ends the run
        self.stderr_path = os.path.join(tmp, "stderr")
        self.stderr = open(self.stderr_path, "wb")
        self.stack.callback(self.stderr.close)
        self.started_at = time.monotonic()
        self.process = subprocess.Popen([self.config.updater], env=env, stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.stack.callback(self._stop)

    def __exit__(self, *exc):
        self.stack.close()

    def _stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    # --- the window ---

    def wait_mapped(self, timeout=30):
        """The X window id of the updater's window once it is mapped."""
        ok = harness.wait_until(lambda: self.watch.events("map") or self.process.poll() is not None, timeout)
        if not ok or not self.watch.events("map"):
            raise AssertionError(f"the window was not mapped; exit code {self.process.poll()}\n{self.stderr_text()}")
        return self.watch.events("map")[0][2]

    def map_place(self):
        _, _, _, rest = self.watch.events("map")[0]
        return tuple(int(v) for v in rest)

    def opacities(self, xid):
        return self.watch.opacities(xid)

    def wait_opaque(self, xid, timeout=20):
        """Waits until the fade-in has set some opacity and ended fully opaque."""
        def done():
            values = self.opacities(xid)
            return any(v is not None for _, v in values) and values[-1][1] is None
        if not harness.wait_until(done, timeout):
            raise AssertionError(f"the window did not become opaque: {self.opacities(xid)}")

    def describe(self, xid):
        out = subprocess.run([self.config.probe, "describe", hex(xid)], env=self.x.env(), check=True,
                             capture_output=True).stdout
        return json.loads(out)

    def report(self):
        """What GTK shows, from the inspection module (the newest complete report)."""
        with open(self.report_path, encoding="utf-8") as f:
            return json.load(f)

    def wait_report(self, predicate, timeout=20):
        """The first report whose window satisfies predicate(window)."""
        def check():
            if not os.path.exists(self.report_path):
                return None
            windows = self.report()["windows"]
            return windows[0] if windows and predicate(windows[0]) else None
        window = harness.wait_until(check, timeout)
        if not window:
            last = self.report() if os.path.exists(self.report_path) else None
            raise AssertionError(f"no report matched; last report: {last}")
        return window

    def control(self, window, name):
        return next(c for c in window["controls"] if c["name"] == name)

    def click_control(self, name):
        """A real pointer click (XTEST) in the middle of the named control."""
        window = self.wait_report(lambda w: w["mapped"] and w["controls"])
        c = self.control(window, name)
        left, top, _, _ = self.map_place()
        x, y = left + c["x"] + c["width"] // 2, top + c["y"] + c["height"] // 2
        subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y)], env=self.x.env(), check=True)
        subprocess.run(["xdotool", "click", "1"], env=self.x.env(), check=True)

    def close(self, xid, count=1):
        """Close requests as a window manager sends them (WM_DELETE_WINDOW).

        Returns the time just before sending: the updater cannot have seen them earlier."""
        asked_at = time.monotonic()
        subprocess.run([self.config.probe, "close", hex(xid), str(count)], env=self.x.env(), check=True)
        return asked_at

    def screenshot(self, xid, png_path):
        ppm = os.path.join(self.tmp, "shot.ppm")
        subprocess.run([self.config.probe, "shot", hex(xid), ppm], env=self.x.env(), check=True)
        image = read_ppm(ppm)
        image.save_png(png_path)
        return image

    # --- the process ---

    def wait_exit(self, timeout=30):
        try:
            self.exit_code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the updater did not end within {timeout} s")
        self.exited_at = time.monotonic()
        return self.exit_code

    def stderr_text(self):
        self.stderr.flush()
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

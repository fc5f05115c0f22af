"""What the Wine tests share: a prefix of the test's own, the test driver, the updater, screenshots.

CTest passes the build's paths in the environment:
  TESSMOOR_WINE_ARCH      win32 (the i686 build, under 32-bit Wine) or win64 (the x86_64 build, under wine64)
  TESSMOOR_BIN_DIR        the build's bin/ (tessmoor-updater.exe, tessmoor-wine-driver.exe)
  TESSMOOR_WINE_TEMPLATE  the prepared prefix that each test clones
  TESSMOOR_WINE_OUTPUT    where prefixes and screenshots go, under the build tree
  TESSMOOR_LOOPBACK_PORT  the port the build's addresses point at
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))

import harness  # noqa: E402
import wineprefix  # noqa: E402

BIN_DIR = os.environ.get("TESSMOOR_BIN_DIR", "")
TEMPLATE = os.environ.get("TESSMOOR_WINE_TEMPLATE", "")
OUTPUT = os.environ.get("TESSMOOR_WINE_OUTPUT", "")
PORT = int(os.environ.get("TESSMOOR_LOOPBACK_PORT", "0") or 0)

UPDATER = os.path.join(BIN_DIR, "tessmoor-updater.exe")
DRIVER = os.path.join(BIN_DIR, "tessmoor-wine-driver.exe")
SAMPLE_PAGE = os.path.join(HERE, "..", "support", "sample_release_page.html")


class Session:
    """A prefix of the test's own (a clone of the template), with an X server
    and a fake xdg-open when the test shows windows. Wine ends with it."""

    def __init__(self, name, display=True, dpi=None):
        self.name = name
        self.display = display
        self.dpi = dpi
        self.prefix = os.path.join(OUTPUT, "prefixes", name)
        self.tmp = None
        self.xvfb = None
        self.fake = None
        self.env = None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)  # no Wine process or X server left behind
            raise
        return self

    def _start(self):
        wineprefix.check_wine()
        wineprefix.clone(TEMPLATE, self.prefix)
        self.tmp = tempfile.mkdtemp(prefix=f"wine-{self.name}-")
        extra = {}
        if self.display:
            self.xvfb = harness.Xvfb().__enter__()
            self.fake = harness.FakeXdgOpen(self.tmp)
            extra = {"DISPLAY": self.xvfb.display, "PATH": self.fake.bin_dir + os.pathsep + os.environ["PATH"]}
        self.env = wineprefix.wine_env(self.prefix, **extra)
        if not self.display:
            self.env.pop("DISPLAY", None)
        # One wineserver for the whole test, kept while the test runs, so
        # that each driver call starts in a fraction of a second.
        subprocess.run([wineprefix.WINESERVER, "-p"], env=self.env, check=True)
        # The server and Wine's background processes leave the test's process
        # tree, so CTest's kill at a time-out would not reach them: a detached
        # watcher ends them once this process is gone, however it ended.
        subprocess.run(["setsid", "-f", "sh", "-c",
                        'while kill -0 "$0" 2>/dev/null; do sleep 1; done; "$1" -k', str(os.getpid()),
                        wineprefix.WINESERVER], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Wine's background processes start with the first program and inherit
        # its standard handles: start them here, with none, so that no later
        # program's output pipe stays open behind it.
        subprocess.run([wineprefix.WINE, "wineboot"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=300)
        if self.dpi:
            wineprefix.set_dpi(self.prefix, self.dpi)

    def __exit__(self, *exc):
        wineprefix.stop_server(self.prefix)
        if self.xvfb:
            self.xvfb.__exit__(*exc)
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)

    def start_updater(self, exe=UPDATER):
        return subprocess.Popen([wineprefix.WINE, exe], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def driver(self, *args, timeout=120):
        """Runs the test driver; returns (exit code, its JSON answer or None)."""
        result = subprocess.run([wineprefix.WINE, DRIVER, *map(str, args)], env=self.env, capture_output=True,
                                timeout=timeout)
        text = result.stdout.decode("ascii", "replace").strip()
        return result.returncode, (json.loads(text) if text else None)

    def screenshot(self, name, box):
        """Saves the screen's box (left, top, width, height) as OUTPUT/screenshots/name.png; returns it as an Image."""
        ppm = os.path.join(self.tmp, name + ".ppm")
        subprocess.run(["import", "-window", "root", "-depth", "8", ppm], env=self.env, check=True)
        image = Image.read_ppm(ppm).crop(*box)
        directory = os.path.join(OUTPUT, "screenshots")
        os.makedirs(directory, exist_ok=True)
        png = os.path.join(directory, name + ".png")
        cropped = os.path.join(self.tmp, name + "-crop.ppm")
        image.write_ppm(cropped)
        subprocess.run(["convert", cropped, png], check=True)
        return image


class Image:
    """An RGB picture, enough to count pixels."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    @classmethod
    def read_ppm(cls, path):
        with open(path, "rb") as f:
            data = f.read()
        fields = []
        pos = 0
        while len(fields) < 4:  # magic, width, height, maximum value
            while data[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        assert fields[0] == b"P6" and fields[3] == b"255", fields
        width, height = int(fields[1]), int(fields[2])
        return cls(width, height, data[pos + 1:pos + 1 + width * height * 3])

    def write_ppm(self, path):
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.width, self.height) + self.pixels)

    def crop(self, left, top, width, height):
        rows = [self.pixels[((top + y) * self.width + left) * 3:((top + y) * self.width + left + width) * 3]
                for y in range(height)]
        return Image(width, height, b"".join(rows))

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def matching(self, box, predicate):
        """The (x, y) in box whose colour satisfies predicate."""
        left, top, width, height = box
        return [(x, y) for y in range(top, top + height) for x in range(left, left + width)
                if predicate(self.pixel(x, y))]


def near(colour, target, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, target))


def read_page(path=SAMPLE_PAGE, port=None):
    """A page as the release server serves it: the built-in host rewritten to the server's."""
    with open(path, "rb") as f:
        page = f.read()
    return page.replace(b"127.0.0.1:47613", b"127.0.0.1:%d" % (port or PORT))


def write_page(directory, text):
    """A release page file of the test's own, UTF-8 with CR LF line ends as the reader needs them."""
    path = os.path.join(directory, "page.html")
    with open(path, "wb") as f:
        f.write(text.replace("\n", "\r\n").encode("utf-8"))
    return path

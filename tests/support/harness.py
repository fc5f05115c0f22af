"""Shared pieces of the window tests: an X server, the release server, a fake browser launcher.

    import harness
    with harness.Xvfb() as x, harness.ReleaseServer(port=0) as srv:
        fake = harness.FakeXdgOpen(tmpdir)
        env = x.env(PATH=fake.bin_dir + os.pathsep + os.environ["PATH"])
"""

import json
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RELEASE_SERVER = os.path.join(HERE, "release_server.py")


def wait_until(predicate, timeout, interval=0.05):
    """Polls predicate until it is true or timeout seconds have passed; returns its last result."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)


def _stop(process, timeout=5):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Xvfb:
    """An X server of the test's own, on the first free display number."""

    def __init__(self, size="1024x768x24"):
        self.size = size
        self.display = None
        self.process = None

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.size, "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:  # Xvfb writes the number once it accepts clients
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            _stop(self.process)
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        _stop(self.process)

    def env(self, **extra):
        """The test's environment with this display, plus extra variables."""
        env = dict(os.environ, DISPLAY=self.display)
        env.pop("WAYLAND_DISPLAY", None)
        env.update(extra)
        return env


class ReleaseServer:
    """tests/support/release_server.py on loopback; port=0 picks a free port."""

    def __init__(self, port=0, mode="normal", page=None, log=None, keep_addresses=False):
        self.requested_port = port
        self.mode = mode
        self.page = page
        self.keep_addresses = keep_addresses
        self.tmp = tempfile.TemporaryDirectory(prefix="release-server-")
        self.log = log or os.path.join(self.tmp.name, "requests.jsonl")
        self.port = None
        self.process = None

    def __enter__(self):
        port_file = os.path.join(self.tmp.name, "port")
        command = [sys.executable, RELEASE_SERVER, "--port", str(self.requested_port), "--port-file", port_file,
                   "--mode", self.mode, "--log", self.log]
        if self.page:
            command += ["--page", self.page]
        if self.keep_addresses:
            command.append("--keep-addresses")
        output = os.path.join(self.tmp.name, "output")
        with open(output, "w") as out:
            self.process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT)
        wait_until(lambda: os.path.exists(port_file) or self.process.poll() is not None, 30, interval=0.01)
        if not os.path.exists(port_file):
            _stop(self.process)
            with open(output) as out:
                said = out.read()
            self.tmp.cleanup()
            raise RuntimeError(f"release server did not start on port {self.requested_port}: {said}")
        with open(port_file) as f:
            self.port = int(f.read())
        return self

    def __exit__(self, *exc):
        _stop(self.process)
        self.tmp.cleanup()

    def url(self, path="/p/download-orvelline-2016-chn"):
        return f"http://127.0.0.1:{self.port}{path}"

    def requests(self):
        """Each request received so far: {"request_line": str, "headers": [[name, value], ...]}."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            # A line still being written has no newline yet.
            return [json.loads(line) for line in f if line.endswith("\n") and line.strip()]


def closed_port():
    """A bound socket that never listens, and its port: connecting to it is refused.

    Keep the socket open while the port is in use, so nobody else takes it.
    """
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    return sock, sock.getsockname()[1]


class StalledListener:
    """A loopback listener whose accept queue is full: a connect to its port never completes.

    It listens with a backlog of 0 and is filled by connections nobody accepts;
    the kernel then drops every further SYN. Use as a context manager.
    """

    def __enter__(self):
        self.sockets = []
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sockets.append(listener)
        listener.bind(("127.0.0.1", 0))
        listener.listen(0)
        self.port = listener.getsockname()[1]
        for _ in range(16):  # until a connect no longer completes: the queue is full
            filler = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.sockets.append(filler)
            filler.setblocking(False)
            if filler.connect_ex(("127.0.0.1", self.port)) != 0:
                _, completed, _ = select.select([], [filler], [], 0.2)
                if not completed:
                    return self
        self.__exit__()
        raise RuntimeError("the listener's accept queue did not fill")

    def __exit__(self, *exc):
        for sock in self.sockets:
            sock.close()


class FakeXdgOpen:
    """An xdg-open that records its arguments instead of starting a browser.

    Put bin_dir first on PATH. Each call leaves one record; calls() gives the
    first argument of each call as exact bytes, calls_argv() every argument.
    """

    SCRIPT = """#!/bin/sh
record="{calls}/$(date +%s%N).$$"
for argument in "$@"; do printf '%s\\0' "$argument"; done > "$record.tmp"
mv "$record.tmp" "$record"
"""

    def __init__(self, directory):
        self.bin_dir = os.path.join(directory, "fake-bin")
        self.calls_dir = os.path.join(directory, "xdg-open-calls")
        os.makedirs(self.bin_dir, exist_ok=True)
        os.makedirs(self.calls_dir, exist_ok=True)
        path = os.path.join(self.bin_dir, "xdg-open")
        with open(path, "w") as f:
            f.write(self.SCRIPT.format(calls=self.calls_dir))
        os.chmod(path, 0o755)

    def calls_argv(self):
        records = sorted(n for n in os.listdir(self.calls_dir) if not n.endswith(".tmp"))
        result = []
        for name in records:
            with open(os.path.join(self.calls_dir, name), "rb") as f:
                data = f.read()
            result.append(data.split(b"\0")[:-1])
        return result

    def calls(self):
        return [argv[0] if argv else b"" for argv in self.calls_argv()]

    def clear(self):
        """Forgets the calls so far, for a test that runs the program again."""
        for name in os.listdir(self.calls_dir):
            os.unlink(os.path.join(self.calls_dir, name))

    def wait_calls(self, count, timeout=10):
        """Waits until at least count calls arrived; returns calls()."""
        wait_until(lambda: len(self.calls()) >= count, timeout)
        return self.calls()

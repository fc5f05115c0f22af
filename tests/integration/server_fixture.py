"""Starts tests/support/release_server.py for a test and stops it afterwards.

The server picks a free port (--port 0) and writes it to a port file; the
fixture waits for that file, never for a fixed time.
"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time

SERVER_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support", "release_server.py")
STARTUP_LIMIT_S = 30


class ReleaseServer:
    """A running release server: .port, .url(path), .requests()."""

    def __init__(self, page=None, mode=None, port=0, keep_addresses=False):
        self.page, self.mode, self.wanted_port, self.keep_addresses = page, mode, port, keep_addresses
        self.port = None
        self.process = None

    def __enter__(self):
        self.dir = tempfile.TemporaryDirectory(prefix="release-server-")
        self.port_file = os.path.join(self.dir.name, "port")
        self.log = os.path.join(self.dir.name, "requests.jsonl")
        self.output = open(os.path.join(self.dir.name, "output"), "w+")
        command = [sys.executable, SERVER_SCRIPT, "--port", str(self.wanted_port),
                   "--port-file", self.port_file, "--log", self.log]
        if self.page:
            command += ["--page", self.page]
        if self.mode:
            command += ["--mode", self.mode]
        if self.keep_addresses:
            command.append("--keep-addresses")
        self.process = subprocess.Popen(command, stdout=self.output, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + STARTUP_LIMIT_S
        while not os.path.exists(self.port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.output.seek(0)
                text = self.output.read()
                self.__exit__(None, None, None)
                raise RuntimeError(f"release server did not start: {text}")
            time.sleep(0.01)  # polling the port file, not waiting for a guess
        with open(self.port_file) as f:
            self.port = int(f.read())
        return self

    def __exit__(self, *exc):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.output.close()
        self.dir.cleanup()
        return False

    def url(self, path="/p/download-orvelline-2016-chn"):
        return f"http://127.0.0.1:{self.port}{path}"

    def requests(self):
        """Every request so far: dicts with request_line and headers ([name, value] pairs)."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]


def closed_port():
    """A bound socket that never listens, and its port: connecting to it is refused.

    Keep the socket open while the port is in use, so nobody else takes it.
    """
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    return sock, sock.getsockname()[1]

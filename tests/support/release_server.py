#!/usr/bin/env python3
"""A release server on loopback, for the demo and the tests.

Serves the release page at /p/download-orvelline-2016-chn and a small file for
each download address. Every occurrence of 127.0.0.1:47613 in the page (the
address that test and demo builds have built in) is rewritten to the address
the server really listens on (unless --keep-addresses: then the page is served
byte for byte as the file holds it).

--mode changes how the release page is answered, so a window test can meet a
broken server; the same behaviours are reachable at /fault/<mode> whatever
--mode says, for tests of the HTTP client:

  normal          200 with the page
  status-404      404 with the page (an error page is still searched)
  status-500      500 with the page
  hang            accept the connection, never answer
  trickle         headers, then one byte a second
  close-mid-body  Content-Length of the whole page, half of it, then close
  cut-utf8        the page cut inside a UTF-8 sequence, then close
  huge            a valid page of just over 16 MiB
  redirect        302 to the page
  redirect-loop   302 to itself, forever
  redirect-file   302 to file:///etc/passwd
  redirect-ftp    302 to ftp://127.0.0.1/page
  redirect-late   after ?after= seconds (15 unless given), 302 to ?to= (the page unless given)
  chunked         HTTP/1.1 chunked transfer encoding
  long-length     Content-Length larger than the body, then close
  empty           200 with no body

Each request is appended to --log as one JSON line: the request line and the
headers in the order they arrived.
"""

import argparse
import json
import os
import socketserver
import sys
import threading
import urllib.parse

PAGE_PATH = "/p/download-orvelline-2016-chn"
BUILT_IN_HOST = b"127.0.0.1:47613"
DEFAULT_PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample_release_page.html")
DOWNLOAD_BODY = b"PK\x05\x06" + b"\x00" * 18  # an empty zip archive
MODES = ("normal", "status-404", "status-500", "hang", "trickle", "close-mid-body", "cut-utf8", "huge",
         "redirect", "redirect-loop", "redirect-file", "redirect-ftp", "redirect-late", "chunked", "long-length",
         "empty")
REASONS = {200: "OK", 302: "Found", 404: "Not Found", 500: "Internal Server Error"}


def read_request(conn):
    """The request head as (request line, [(name, value), ...]); None when the peer left."""
    data = b""
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
        if len(data) > 65536:
            return None
    head = data.replace(b"\r\n", b"\n").split(b"\n\n", 1)[0].decode("latin-1")
    lines = head.split("\n")
    headers = []
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.append((name.strip(), value.strip()))
    return lines[0], headers


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        conn.settimeout(60)
        try:
            request = read_request(conn)
            if request is None:
                return
            request_line, headers = request
            self.server.record(request_line, headers)
            parts = request_line.split(" ")
            path = parts[1] if len(parts) > 1 else "/"
            self.route(conn, path)
        except OSError:
            pass

    def route(self, conn, path):
        server = self.server
        if path == PAGE_PATH:
            return self.answer_page(conn, server.mode)
        if path.startswith("/fault/"):
            mode = path[len("/fault/"):].split("?", 1)[0]
            if mode in MODES:
                return self.answer_page(conn, mode, self_path=path)
        if "/KALMERDINE_" in path:
            return self.send(conn, 200, DOWNLOAD_BODY, content_type="application/zip")
        return self.send(conn, 404, b"not here\r\n")

    def send(self, conn, status, body, content_type="text/html; charset=utf-8", extra=(), length=None,
             version="HTTP/1.0"):
        head = [f"{version} {status} {REASONS.get(status, 'Status')}", f"Content-Type: {content_type}"]
        head.append(f"Content-Length: {len(body) if length is None else length}")
        head.extend(extra)
        head.append("Connection: close")
        conn.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)

    def answer_page(self, conn, mode, self_path=None):
        page = self.server.page()
        if mode == "normal":
            return self.send(conn, 200, page)
        if mode in ("status-404", "status-500"):
            return self.send(conn, int(mode[-3:]), page)
        if mode == "empty":
            return self.send(conn, 200, b"")
        if mode == "hang":
            self.server.stopping.wait(120)
            return
        if mode == "trickle":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n")
            for byte in page:
                if self.server.stopping.wait(1):
                    return
                conn.sendall(bytes([byte]))
            return
        if mode == "close-mid-body":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(page) + page[: len(page) // 2])
            return
        if mode == "cut-utf8":
            # Stop one byte into the first multi-byte UTF-8 character.
            cut = next(i for i, b in enumerate(page) if b >= 0xC0) + 1
            conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + page[:cut])
            return
        if mode == "huge":
            filler = b"<!-- " + b"x" * 1018 + b" -->\n"
            body = filler * (16 * 1024 + 1) + page
            return self.send(conn, 200, body)
        if mode == "redirect":
            return self.send(conn, 302, b"", extra=[f"Location: {PAGE_PATH}"])
        if mode == "redirect-loop":
            return self.send(conn, 302, b"", extra=[f"Location: {self_path or PAGE_PATH}"])
        if mode == "redirect-file":
            return self.send(conn, 302, b"", extra=["Location: file:///etc/passwd"])
        if mode == "redirect-ftp":
            return self.send(conn, 302, b"", extra=["Location: ftp://127.0.0.1/page"])
        if mode == "redirect-late":
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(self_path or "").query)
            if self.server.stopping.wait(float(query.get("after", ["15"])[0])):
                return
            return self.send(conn, 302, b"", extra=[f"Location: {query.get('to', [PAGE_PATH])[0]}"])
        if mode == "chunked":
            chunks = [page[i:i + 100] for i in range(0, len(page), 100)]
            body = b"".join(b"%x\r\n%s\r\n" % (len(c), c) for c in chunks) + b"0\r\n\r\n"
            conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" + body)
            return
        if mode == "long-length":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % (len(page) + 1000) + page)
            return
        raise ValueError(mode)


class ReleaseServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, page_file, mode, log_file, keep_addresses=False):
        super().__init__(("127.0.0.1", port), Handler)
        self.page_file = page_file
        self.keep_addresses = keep_addresses
        self.mode = mode
        self.log_file = log_file
        self.lock = threading.Lock()
        self.stopping = threading.Event()

    def page(self):
        with open(self.page_file, "rb") as f:
            data = f.read()
        if self.keep_addresses:
            return data
        return data.replace(BUILT_IN_HOST, b"127.0.0.1:%d" % self.server_address[1])

    def record(self, request_line, headers):
        if not self.log_file:
            return
        with self.lock, open(self.log_file, "a", encoding="utf-8") as f:
            f.write(json.dumps({"request_line": request_line, "headers": headers}) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=47613, help="0 picks a free port")
    parser.add_argument("--port-file", help="write the port here once the server listens")
    parser.add_argument("--page", default=DEFAULT_PAGE, help="file served as the release page")
    parser.add_argument("--mode", default="normal", choices=MODES)
    parser.add_argument("--log", help="append each request here as a JSON line")
    parser.add_argument("--keep-addresses", action="store_true",
                        help="serve the page as the file holds it, without rewriting 127.0.0.1:47613")
    args = parser.parse_args()

    server = ReleaseServer(args.port, args.page, args.mode, args.log, args.keep_addresses)
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{port}\n")
        os.replace(tmp, args.port_file)
    print(f"release server on http://127.0.0.1:{port}{PAGE_PATH} ({args.mode})", flush=True)
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping.set()
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""platform::httpGet on WinINet, under Wine, against the release server's faults.

The driver's "get" calls httpGet with the given limits and writes the body to
a file; each row says what the body must be.
"""

import os
import tempfile
import unittest

import winetest
from winetest import Session, harness

USER_AGENT = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"
MIB = 1 << 20


def first_utf8_cut(page):
    return next(i for i, b in enumerate(page) if b >= 0xC0) + 1


# (name, path on the server, total time-out in ms, what the body must be given the page)
CASES = [
    ("page", "/p/download-orvelline-2016-chn", 20000, lambda page: page),
    ("error status still yields the body", "/fault/status-500", 20000, lambda page: page),
    ("redirect followed", "/fault/redirect", 20000, lambda page: page),
    ("chunked body", "/fault/chunked", 20000, lambda page: page),
    ("body shorter than its Content-Length", "/fault/long-length", 20000, lambda page: page),
    ("connection closed mid-body keeps what arrived", "/fault/close-mid-body", 20000,
     lambda page: page[:len(page) // 2]),
    ("cut inside a UTF-8 sequence keeps the bytes", "/fault/cut-utf8", 20000,
     lambda page: page[:first_utf8_cut(page)]),
    ("empty body", "/fault/empty", 20000, lambda page: b""),
    ("body over 16 MiB is no body", "/fault/huge", 20000, lambda page: b""),
    ("endless redirects give up", "/fault/redirect-loop", 20000, lambda page: b""),
    ("redirect to file: is not followed", "/fault/redirect-file", 20000, lambda page: b""),
    ("redirect to ftp: is not followed", "/fault/redirect-ftp", 20000, lambda page: b""),
    ("server that never answers", "/fault/hang", 2000, lambda page: b""),
]


class HttpWinInetTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="wine-http-test-")
        cls.session = Session("http", display=False).__enter__()
        cls.server = harness.ReleaseServer(port=0).__enter__()
        cls.page = winetest.read_page(port=cls.server.port)

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)
        cls.session.__exit__(None, None, None)
        cls.tmp.cleanup()

    def get(self, url, total_ms=20000, connect_ms=10000, max_bytes=16 * MIB):
        out = os.path.join(self.tmp.name, "body")
        code, answer = self.session.driver("get", url, connect_ms, total_ms, max_bytes, out, timeout=120)
        self.assertEqual(code, 0)
        with open(out, "rb") as f:
            body = f.read()
        self.assertEqual(len(body), answer["bytes"])
        return body, answer["ms"]

    def test_bodies(self):
        for name, path, total_ms, expected in CASES:
            with self.subTest(name):
                body, ms = self.get(self.server.url(path), total_ms)
                self.assertEqual(body, expected(self.page))
                self.assertLess(ms, total_ms + 3000)

    def test_request_is_http_1_0_with_the_agent_and_no_cache(self):
        before = len(self.server.requests())
        self.get(self.server.url("/fault/redirect"))
        requests = self.server.requests()[before:]
        self.assertEqual([r["request_line"] for r in requests],
                         ["GET /fault/redirect HTTP/1.0", "GET /p/download-orvelline-2016-chn HTTP/1.0"])
        for request in requests:
            headers = {name.lower(): value for name, value in request["headers"]}
            self.assertEqual(headers.get("accept"), "*/*")
            self.assertEqual(headers.get("user-agent"), USER_AGENT)
            self.assertEqual(headers.get("pragma"), "no-cache")
            self.assertNotIn("cookie", headers)

    def test_total_time_out_keeps_the_body_that_arrived(self):
        # One byte a second: after 3 s a few bytes of the page, and no more waiting.
        body, ms = self.get(self.server.url("/fault/trickle"), total_ms=3000)
        self.assertTrue(1 <= len(body) <= 4 and self.page.startswith(body), body)
        self.assertLess(ms, 6000)

    def test_smaller_cap_turns_a_normal_page_into_no_body(self):
        body, _ = self.get(self.server.url(), max_bytes=len(self.page) - 1)
        self.assertEqual(body, b"")
        body, _ = self.get(self.server.url(), max_bytes=len(self.page))
        self.assertEqual(body, self.page)

    def test_nobody_listening_is_no_body(self):
        with harness.ReleaseServer(port=0) as closed:
            url = closed.url()
        body, _ = self.get(url)
        self.assertEqual(body, b"")


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""release-check's sources, fields, report and exit codes.

  release_check_test.py --release-check PATH --prefix DOWNLOAD_URL_PREFIX
                        [--builtin-port PORT | --not-libcurl-dir DIR]

Without --builtin-port every case uses files, standard input or a release
server on a free port. With it, only the cases without SOURCE run: they need
the server on the build's own loopback port, where the built-in address points.
"""

import argparse
import contextlib
import http.server
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from harness import ReleaseServer, closed_port  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE_PAGE = os.path.join(HERE, os.pardir, "support", "sample_release_page.html")
SAMPLE_PREFIX = b"http://127.0.0.1:47613/KALMERDINE_"
MIRROR = b"http://127.0.0.1:47613/mirror/KALMERDINE_7.14.zip"
SENTINEL = "后文本".encode("gb18030")
# A self-signed certificate for 127.0.0.1 (and its key): no system trusts it.
UNTRUSTED_CERTIFICATE = os.path.join(HERE, "untrusted_server.pem")
FIELDS = ("pageText", "link1Raw", "link2Raw", "download1Url", "latestVersion", "download2Url")

ARGS = None  # set by main()


def run(args, stdin=b"", cwd=None):
    result = subprocess.run([ARGS.release_check] + args, input=stdin, capture_output=True, timeout=60, cwd=cwd)
    return result.returncode, result.stdout, result.stderr


@contextlib.contextmanager
def untrusted_https_server():
    """An https server on a free loopback port whose certificate nobody trusts; yields its address."""
    server = http.server.HTTPServer(("127.0.0.1", 0), http.server.SimpleHTTPRequestHandler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(UNTRUSTED_CERTIFICATE)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield f"https://127.0.0.1:{server.server_address[1]}/"
    finally:
        server.shutdown()
        server.server_close()
        thread.join()


@contextlib.contextmanager
def full_accept_queue():
    """A loopback port whose listener never accepts and whose accept queue is full: a new
    connection there never completes. Yields its address."""
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(0)
        fillers = [socket.socket() for _ in range(3)]
        try:
            for filler in fillers:
                filler.setblocking(False)
                filler.connect_ex(listener.getsockname())
            yield f"http://127.0.0.1:{listener.getsockname()[1]}/"
        finally:
            for filler in fillers:
                filler.close()


class Pages:
    """Page bodies whose first address carries this build's prefix."""

    def __init__(self, directory):
        self.dir = directory
        with open(SAMPLE_PAGE, "rb") as f:
            self.sample = f.read()
        self.prefix = ARGS.prefix.encode()
        self.good = self.sample.replace(SAMPLE_PREFIX, self.prefix, 1)
        self.first_url = self.prefix + b"7.14.zip?update=21"

    def write(self, name, body):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(body)
        return path


class ReleaseCheckTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="release-check-test-")
        cls.pages = Pages(cls.tmp.name)
        cls.good_file = cls.pages.write("good.html", cls.pages.good)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def expected_fields(self, body):
        """Every field of a good page, GB18030, as the updater derives it."""
        p = self.pages
        d1 = body.split(b'var link1 = "', 1)[1].split(b'";\r', 1)[0]
        d2 = body.split(b'var link2 = "', 1)[1].split(b'";\r', 1)[0]
        version = d1.split(p.prefix, 1)[1].split(b".zip?update=21", 1)[0]
        gb = lambda b: b.decode("utf-8").encode("gb18030")
        return {
            "pageText": gb(body),
            "link1Raw": b'var link1 = "' + gb(d1) + SENTINEL,
            "link2Raw": b'var link2 = "' + gb(d2) + SENTINEL,
            "download1Url": gb(d1),
            "latestVersion": gb(version),
            "download2Url": gb(d2),
        }

    def assertUsageError(self, args, stdin=b"", cwd=None):
        code, out, err = run(args, stdin, cwd)
        self.assertEqual(code, 2, err)
        self.assertEqual(out, b"")
        self.assertTrue(err.startswith(b"release-check: "), err)
        self.assertEqual(err.count(b"\n"), 1, err)  # one line
        return err

    # ------------------------------------------------------------ sources

    def test_file_report(self):
        code, out, err = run([self.good_file])
        self.assertEqual(code, 0, out + err)
        report = out.decode("utf-8")
        self.assertIn("latest version: 7.14\n", report)
        self.assertIn("download 1:     " + self.pages.first_url.decode() + "\n", report)
        self.assertIn("download 2:     " + MIRROR.decode() + "\n", report)
        self.assertNotIn("warning", report)
        self.assertEqual(err, b"")

    def test_every_field_from_file_and_standard_input(self):
        expected = self.expected_fields(self.pages.good)
        for name in FIELDS:
            for source, stdin in ((self.good_file, b""), ("-", self.pages.good)):
                with self.subTest(field=name, source=source):
                    code, out, err = run(["--field", name, source], stdin)
                    self.assertEqual(code, 0, err)
                    self.assertEqual(out, expected[name])
                    self.assertEqual(err, b"")

    def test_field_after_source(self):
        code, out, _ = run([self.good_file, "--field", "latestVersion"])
        self.assertEqual((code, out), (0, b"7.14"))

    def test_non_ascii_version_printed_in_gb18030_and_reported_in_utf8(self):
        body = self.pages.good.replace(b"7.14.zip?update=21", "7.14测试版.zip?update=21".encode(), 1)
        path = self.pages.write("chinese-version.html", body)
        code, out, _ = run(["--field", "latestVersion", path])
        self.assertEqual((code, out), (0, "7.14测试版".encode("gb18030")))
        code, out, _ = run([path])
        self.assertEqual(code, 0)
        self.assertIn("latest version: 7.14测试版\n", out.decode("utf-8"))

    def test_standard_input_is_read_as_bytes(self):
        # CR LF must survive: without the CR no value would be found.
        code, out, _ = run(["--field", "download1Url", "-"], self.pages.good)
        self.assertEqual((code, out), (0, self.pages.first_url))

    def test_file_that_cannot_seek(self):
        # A pipe named as a file (as with a shell's <(...)) is read to its end.
        read_end, write_end = os.pipe()
        with os.fdopen(write_end, "wb") as w:
            w.write(self.pages.good)  # a small page: it fits the pipe's buffer
        with os.fdopen(read_end, "rb") as r:
            result = subprocess.run([ARGS.release_check, "--field", "latestVersion", f"/dev/fd/{r.fileno()}"],
                                    capture_output=True, timeout=60, pass_fds=(r.fileno(),))
        self.assertEqual((result.returncode, result.stdout), (0, b"7.14"), result.stderr)

    def test_double_dash_ends_options(self):
        self.pages.write("-page.html", self.pages.good)
        code, out, _ = run(["--field", "latestVersion", "--", "-page.html"], cwd=self.tmp.name)
        self.assertEqual((code, out), (0, b"7.14"))

    def test_http_source(self):
        with ReleaseServer(page=self.good_file, keep_addresses=True) as server:
            code, out, err = run([server.url()])
            self.assertEqual(code, 0, out + err)
            self.assertIn("latest version: 7.14\n", out.decode())
            self.assertIn("source:         " + server.url(), out.decode())
            code, out, _ = run(["--field", "latestVersion", server.url()])
            self.assertEqual((code, out), (0, b"7.14"))
            # An error page is searched like any page.
            code, out, _ = run(["--field", "download1Url", server.url("/fault/status-404")])
            self.assertEqual((code, out), (0, self.pages.first_url))
            request = server.requests()[0]
            self.assertEqual(request["request_line"], "GET /p/download-orvelline-2016-chn HTTP/1.0")
            self.assertIn(["User-Agent", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"], request["headers"])

    def test_http_source_refused(self):
        sock, port = closed_port()
        with sock:
            code, out, err = run([f"http://127.0.0.1:{port}/p/download-orvelline-2016-chn"])
        self.assertEqual(code, 1, err)
        self.assertIn("page text:      (empty) no body: the request failed", out.decode())
        code, out, _ = run(["--field", "latestVersion", f"http://127.0.0.1:{port}/"])
        self.assertEqual((code, out), (1, b""))

    def test_fetch_names_how_the_request_ended(self):
        # What httpGet reports, in the updater's own limits (so the silent row takes the whole 20 s,
        # the one whose connection never completes the 10 s of the connect limit).
        cases = [
            # name, path on the release server or one of the other places below, the fetch line, exit code,
            # why the page text is empty
            ("Refused", "refusing port", "the connection was refused or the host is unreachable", 1,
             "(empty) no body: the request failed (see fetch)"),
            ("ConnectionNeverCompletes", "full accept queue", "no connection within 10 s", 1,
             "(empty) no body: the request failed (see fetch)"),
            ("SilentServer", "/fault/hang", "timed out: no answer within 20 s", 1,
             "(empty) no body: the request failed (see fetch)"),
            ("OverTheCap", "/fault/huge", "the body is over 16 MiB, which the updater counts as no body", 1,
             "(empty) no body: the request failed (see fetch)"),
            ("RedirectLoop", "/fault/redirect-loop", "more than 10 redirects (the last answered 302)", 1,
             "(empty) no body: the request failed (see fetch)"),
            ("RedirectToFtp", "/fault/redirect-ftp",
             "redirected to an address that is neither http nor https, which the updater does not follow", 1,
             "(empty) no body: the request failed (see fetch)"),
            ("EmptyPage", "/fault/empty", "answered with status 200", 1, "(empty) no body: the page is empty"),
            ("ErrorStatus", "/fault/status-404", "answered with status 404 (the updater searches the body all the same)",
             0, None),
            ("ClosedMidBody", "/fault/close-mid-body",
             "answered with status 200, but the connection closed before the body's end: "
             "the updater uses the body as far as it arrived", 1, None),  # the links lie in the second half
            ("UntrustedCertificate", "untrusted https", "the server's certificate is not trusted", 1,
             "(empty) no body: the request failed (see fetch)"),
        ]
        sock, refused = closed_port()
        with sock, ReleaseServer(page=self.good_file, keep_addresses=True) as server, \
                untrusted_https_server() as https, full_accept_queue() as no_connection:
            places = {"refusing port": f"http://127.0.0.1:{refused}/", "untrusted https": https,
                      "full accept queue": no_connection}
            for name, path, fetch, exit_code, why_empty in cases:
                with self.subTest(name):
                    url = places.get(path) or server.url(path)
                    code, out, err = run([url])
                    report = out.decode()
                    self.assertEqual(code, exit_code, report + err.decode())
                    self.assertIn("\nfetch:          " + fetch, report)
                    page_text = report.split("\npage text:      ", 1)[1].split("\n", 1)[0]
                    if why_empty is None:
                        self.assertTrue(page_text.endswith(" bytes of GB18030"), page_text)
                    else:
                        self.assertEqual(page_text, why_empty)
                    self.assertEqual(err, b"")
    # ------------------------------------------------------------ libcurl

    def test_libcurl_is_loaded_only_for_an_address(self):
        # The dynamic loader names every library it loads; a page from a file
        # or standard input must not bring in libcurl and its dependency tree.
        traced = dict(os.environ, LD_DEBUG="files")
        for args, stdin in ((["--field", "latestVersion", self.good_file], b""),
                            (["--field", "latestVersion", "-"], self.pages.good), (["--help"], b"")):
            with self.subTest(args=args):
                result = subprocess.run([ARGS.release_check] + args, input=stdin, capture_output=True, timeout=60,
                                        env=traced)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertNotIn(b"libcurl", result.stderr)
        sock, port = closed_port()
        with sock:
            result = subprocess.run([ARGS.release_check, f"http://127.0.0.1:{port}/"], capture_output=True,
                                    timeout=60, env=traced)
        self.assertIn(b"file=libcurl.so.4", result.stderr)  # the trace does show it when it is loaded

    def test_without_libcurl_an_address_has_no_body(self):
        # A libcurl.so.4 without libcurl's functions, found first: the fetch
        # fails cleanly before any request, and a file still reads as always.
        without = dict(os.environ, LD_LIBRARY_PATH=ARGS.not_libcurl_dir)
        with ReleaseServer(page=self.good_file) as server:
            result = subprocess.run([ARGS.release_check, server.url()], capture_output=True, timeout=60, env=without)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn("page text:      (empty) no body", result.stdout.decode())
            self.assertEqual(server.requests(), [])
        result = subprocess.run([ARGS.release_check, "--field", "latestVersion", self.good_file], capture_output=True,
                                timeout=60, env=without)
        self.assertEqual((result.returncode, result.stdout), (0, b"7.14"), result.stderr)

    # ------------------------------------------------------- usage errors

    def test_usage_errors(self):
        cases = [
            ("UnknownOption", ["--bogus", self.good_file]),
            ("UnknownShortOption", ["-x"]),
            ("FieldWithoutName", ["--field"]),
            ("UnknownField", ["--field", "version", self.good_file]),
            ("FieldTwice", ["--field", "pageText", "--field", "latestVersion", self.good_file]),
            ("TwoSources", [self.good_file, self.good_file]),
            ("MissingFile", [os.path.join(self.tmp.name, "missing.html")]),
            ("Directory", [self.tmp.name]),
        ]
        for name, args in cases:
            with self.subTest(name):
                self.assertUsageError(args)

    def test_missing_file_names_it(self):
        missing = os.path.join(self.tmp.name, "missing.html")
        err = self.assertUsageError(["--field", "latestVersion", missing])
        self.assertIn(missing.encode(), err)

    def test_help(self):
        code, out, err = run(["--help"])
        self.assertEqual((code, err), (0, b""))
        text = out.decode()
        self.assertTrue(text.startswith("Usage: release-check [--field NAME] [SOURCE]\n"))
        for word in FIELDS + ("http://", "standard input", "Exit status", "byte offset", "LF line ends"):
            self.assertIn(word, text)

    # ------------------------------------------------ broken pages: exit 1

    def test_broken_pages(self):
        p = self.pages
        good = p.good
        lf = good.replace(b"\r\n", b"\n")
        bad_byte_at = good.index(b"<body>")
        invalid = good[:bad_byte_at] + b"\xff" + good[bad_byte_at:]
        zero_at = good.index(b"var link1")
        cases = [
            # name, body, text expected in the report, field checked, its value
            ("LfLineEnds", lf, "the page has LF line ends", "download1Url", b""),
            ("InvalidUtf8", invalid, f"not UTF-8 throughout: the first bad sequence is at byte offset {bad_byte_at}",
             "pageText", b""),
            ("CutInsideCharacter", good + "中".encode()[:2], f"ends inside a sequence at byte offset {len(good)}",
             "latestVersion", b""),
            ("ZeroByte", good[:zero_at] + b"\0" + good[zero_at:], f"zero byte at byte offset {zero_at}",
             "download1Url", b""),
            ("NoFirstMarker", good.replace(b"var link1", b"var linkA"), "the page has no 'var link1 = \"'",
             "download2Url", MIRROR),
            ("EmptyFirstValue", good.replace(p.first_url, b""), "the value after 'var link1 = \"' is empty",
             "latestVersion", b""),
            ("FirstAddressWithoutPrefix", good.replace(p.prefix, b"http://elsewhere.example/"),
             "does not contain DOWNLOAD_URL_PREFIX", "download1Url",
             b"http://elsewhere.example/7.14.zip?update=21"),
            ("FirstAddressWithoutSuffix", good.replace(b".zip?update=21", b".zip"),
             "has no DOWNLOAD_URL_SUFFIX '.zip?update=21'", "latestVersion", b""),
            ("EmptyBody", b"", "no body", "pageText", b""),
        ]
        for name, body, reason, field, value in cases:
            with self.subTest(name):
                path = p.write(name + ".html", body)
                code, out, err = run([path])
                self.assertEqual(code, 1, out + err)
                self.assertIn(reason, out.decode("utf-8"))
                self.assertEqual(err, b"")
                code, out, _ = run(["--field", field, path])
                self.assertEqual((code, out), (1, value))

    def test_warns_about_addresses_the_updater_would_not_open(self):
        longest = b"http://mirror.example/" + b"a" * (2082 - 22)  # the most Windows takes
        wide = "http://mirror.example/".encode() + "中".encode() * 2060 + b"a"  # one UTF-16 unit per character
        cases = [
            # name, download 2, the warning (None: the address is opened)
            ("OtherScheme", b"ftp://mirror.example/a b.zip", "it does not begin with http:// or https://"),
            ("DoubleQuote", b'http://mirror.example/a"b.zip', "it holds a double quote (0x22) at byte offset 23"),
            ("Space", b"http://mirror.example/a b.zip", "it holds a space (0x20) at byte offset 23"),
            ("ControlByte", b"http://mirror.example/a\x1bb.zip", "it holds a control byte (0x1B) at byte offset 23"),
            ("NothingAfterScheme", b"https://", "nothing follows the scheme"),
            ("AtTheLengthLimit", longest, None),
            ("OneOverTheLengthLimit", longest + b"b",
             "it is longer than 2082 characters (UTF-16 units), the most that Windows takes; "
             "the character at byte offset 2082 is one too many"),
            ("OverTheLimitInChineseCharacters", wide,
             "it is longer than 2082 characters (UTF-16 units), the most that Windows takes; "
             f"the character at byte offset {22 + 2060 * 2} is one too many"),
        ]
        for name, address, warning in cases:
            with self.subTest(name):
                body = self.pages.good.replace(MIRROR, address)
                code, out, _ = run([self.pages.write(name + ".html", body)])
                self.assertEqual(code, 0)  # the fields are all there; the warning is for a person
                report = out.decode()
                if warning is None:
                    self.assertNotIn("would not open", report)  # (it is plain http: that warning may stand)
                else:
                    self.assertIn(f"warning: the updater would not open download 2: {warning}\n", report)


class BuiltInAddressTest(unittest.TestCase):
    def test_no_source_fetches_the_built_in_page(self):
        with ReleaseServer(port=ARGS.builtin_port) as server:
            code, out, err = run([])
            self.assertEqual(code, 0, out + err)
            self.assertIn(f"source:         {server.url()} ", out.decode())
            self.assertIn("latest version: 7.14\n", out.decode())
            code, out, _ = run(["--field", "latestVersion"])
            self.assertEqual((code, out), (0, b"7.14"))


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--release-check", required=True)
    parser.add_argument("--prefix", required=True, help="the build's DOWNLOAD_URL_PREFIX")
    parser.add_argument("--builtin-port", type=int)
    parser.add_argument("--not-libcurl-dir", help="a directory holding a libcurl.so.4 without libcurl's functions")
    ARGS = parser.parse_args()
    ARGS.release_check = os.path.abspath(ARGS.release_check)
    case = BuiltInAddressTest if ARGS.builtin_port else ReleaseCheckTest
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())

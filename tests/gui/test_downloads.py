#!/usr/bin/python3
"""The version the window shows and what its two buttons hand to xdg-open, clicked
with the real pointer: the right address, byte for byte, or nothing at all."""

import sys
import tempfile
import time
import unittest

import window_support
from window_support import page_with_links

# The release server rewrites 127.0.0.1:47613 to the address it listens on,
# which is the build's built-in one.
HOST = "127.0.0.1:47613"
VALID = f"http://{HOST}/ok"
# After the last expected call, how long to wait for one that should not come.
GRACE = 0.5


class Downloads(unittest.TestCase):
    def served_host(self, server):
        return f"127.0.0.1:{server.port}"

    def click_both(self, updater):
        """按钮2 ("下载1") first, then 按钮1 ("下载2")."""
        updater.click_control("按钮2")
        updater.click_control("按钮1")

    def test_each_button_opens_its_own_address_byte_exact(self):
        cases = [
            # name, link1, link2, version shown
            ("sample page", None, None, "7.14"),
            ("Chinese and four-byte characters",
             f"http://{HOST}/KALMERDINE_7.15测试版.zip?update=21",
             "https://镜像.example/下载/𠀀😀.zip?名=值&x=%E4", "7.15测试版"),
            ("second address only", "", f"http://{HOST}/mirror/second.zip", ""),
        ]
        for name, link1, link2, version in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                page = page_with_links(tmp, link1, link2) if link1 is not None else None
                with window_support.Updater(self.config, page=page) as updater:
                    updater.wait_mapped()
                    window = updater.wait_report(lambda w: w["mapped"] and w["controls"])
                    self.assertEqual(updater.control(window, "版本")["caption"], version)
                    self.assertEqual(updater.control(window, "透明标签1")["caption"], "当前最新版本：")

                    host = self.served_host(updater.server)
                    if link1 is None:  # the sample page's own addresses
                        link1 = f"http://{HOST}/KALMERDINE_7.14.zip?update=21"
                        link2 = f"http://{HOST}/mirror/KALMERDINE_7.14.zip"
                    expected = [link.replace(HOST, host).encode("utf-8") for link in (link1, link2) if link]

                    self.click_both(updater)
                    # A click is not guarded against repetition: 下载1 again asks again.
                    updater.click_control("按钮2")
                    if link1:
                        expected.append(expected[0])
                    updater.fake.wait_calls(len(expected))
                    time.sleep(GRACE)
                    self.assertEqual(updater.fake.calls(), expected)
                    self.assertTrue(all(len(argv) == 1 for argv in updater.fake.calls_argv()),
                                    "the address must reach xdg-open as its one argument")

    def test_addresses_that_are_not_plain_web_addresses_never_reach_xdg_open(self):
        refused = [
            ("empty", ""),
            ("local file", "file:///etc/passwd"),
            ("script", "javascript:alert(1)"),
            ("local path", "/usr/bin/xterm"),
            ("option-like", "--help"),
            ("other scheme", "ftp://127.0.0.1/x.zip"),
            ("scheme only", "http://"),
            ("space", f"http://{HOST}/a b"),
            ("double quote", f"http://{HOST}/a\"b"),
            ("tab", f"http://{HOST}/a\tb"),
            ("delete", f"http://{HOST}/a\x7fb"),
        ]
        for name, address in refused:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                # The second button holds a good address, so the clicks are known to arrive.
                page = page_with_links(tmp, address, VALID)
                with window_support.Updater(self.config, page=page) as updater:
                    updater.wait_mapped()
                    self.click_both(updater)
                    updater.fake.wait_calls(1)
                    time.sleep(GRACE)
                    self.assertEqual(updater.fake.calls(),
                                     [VALID.replace(HOST, self.served_host(updater.server)).encode()])

    def test_failed_read_shows_an_empty_version_and_leaves_both_buttons_enabled(self):
        cases = [
            # name, server mode (None: nothing listens), page
            ("nothing listens", None, None),
            ("body cut inside a UTF-8 sequence", "cut-utf8", None),
            ("empty body", "empty", None),
            ("LF line ends only", "normal", "lf"),
        ]
        for name, mode, page_kind in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                page = None
                if page_kind == "lf":
                    with open(window_support.SAMPLE_PAGE, "rb") as f:
                        text = f.read().replace(b"\r\n", b"\n")
                    page = f"{tmp}/lf.html"
                    with open(page, "wb") as f:
                        f.write(text)
                with window_support.Updater(self.config, page=page, mode=mode or "normal",
                                            server=mode is not None) as updater:
                    updater.wait_mapped()
                    window = updater.wait_report(lambda w: w["mapped"] and w["controls"])
                    self.assertEqual(updater.control(window, "版本")["caption"], "")
                    for button in ("按钮2", "按钮1"):
                        self.assertTrue(updater.control(window, button)["sensitive"], button)
                    # Both addresses are empty: the clicks are taken and nothing is opened.
                    self.click_both(updater)
                    time.sleep(GRACE)
                    self.assertEqual(updater.fake.calls(), [])
                    self.assertIsNone(updater.process.poll(), "the window stays after the clicks")


if __name__ == "__main__":
    window_support.main(sys.modules[__name__])

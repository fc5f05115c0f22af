#!/usr/bin/env python3
"""The Windows updater under Wine and Xvfb, driven by tessmoor-wine-driver.exe.

Each test runs the real executable in a Wine prefix of its own against the
release server on the build's loopback port, and looks at the window the way
the system sees it: captions, places, layered alpha, the addresses that reach
the browser launcher, the exit code.
"""

import os
import tempfile
import time
import unittest

import winetest
from winetest import PORT, Session, harness

LABEL_GREEN = (138, 219, 83)
PAGE_PATH = "/p/download-orvelline-2016-chn"
LINK1 = f"http://127.0.0.1:{PORT}/KALMERDINE_7.14.zip?update=21"
LINK2 = f"http://127.0.0.1:{PORT}/mirror/KALMERDINE_7.14.zip"
USER_AGENT = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"

WINDOW_TITLE = "Tessmoor更新程序_Halvani专版"
WINDOW_RECT = [50, 50, 316, 219]
# In the order the definition creates them: (class, caption, left, top, width, height).
CONTROLS = [
    ("Static", "如果下载1无效就换下载2", 32, 144, 240, 32),
    ("Button", "下载1", 72, 96, 48, 40),
    ("Button", "下载2", 176, 96, 48, 40),
    ("Static", "版本", 128, 32, 72, 32),  # the caption is the version once the page is read
    ("Static", "当前最新版本：", 32, 32, 96, 32),
]
VERSION_INDEX = 3
HINT_INDEX = 0  # 透明标签3, 19 px bold


def controls_with_version(version):
    rows = [list(row) for row in CONTROLS]
    rows[VERSION_INDEX][1] = version
    return [tuple(row) for row in rows]


def seen_controls(state):
    controls = sorted(state["controls"], key=lambda c: c["id"])
    return [(c["class"], c["text"], *c["rect"]) for c in controls]


def button_id(state, caption):
    return next(c["id"] for c in state["controls"] if c["class"] == "Button" and c["text"] == caption)


class UpdaterWindowTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="wine-window-test-")
        self.addCleanup(self.tmp.cleanup)

    # --- steps shared by the tests ---------------------------------------

    def start(self, session):
        app = session.start_updater()
        self.addCleanup(lambda: app.poll() is None and app.kill())
        return app

    def fade_in(self, session):
        """Follows the fade-in from the window's creation to full opacity; returns the window's state."""
        # Generous: under qemu user mode 32-bit Wine takes seconds to show the window.
        _, trace = session.driver("trace", "opaque", 60000)
        self.assertTrue(trace["alphas"], "no updater window appeared")
        alphas = [a for a in trace["alphas"] if a >= 0]  # -1: not yet set, just after creation
        self.assertEqual(alphas[-1], 255, trace)
        self.assertEqual(alphas, sorted(alphas), "the fade-in went down")
        code, state = session.driver("wait", "opaque", 5000)
        self.assertEqual(code, 0, state)
        return state

    def close_and_fade_out(self, session, app, requests=1):
        """Asks the window to close; it must stay, fade out and the program end with 0."""
        code, answer = session.driver("close", requests, 5000)
        self.assertEqual(code, 0)
        trace = answer["trace"]
        alphas = trace["alphas"]
        self.assertTrue(trace["gone"], trace)
        # Refused: the window was still there, fading, after the request.
        self.assertGreater(len(alphas), 10, trace)
        # Several fade-outs run side by side, and the window shows whichever set
        # its opacity last: only a single one must fall steadily.
        if requests == 1:
            self.assertEqual(alphas, sorted(alphas, reverse=True), "the fade-out went up")
        self.assertLessEqual(alphas[-1], 10, trace)
        self.assertEqual(app.wait(30), 0)

    def clicks(self, session, state, captions, expected_calls):
        for caption in captions:
            self.assertEqual(session.driver("click", button_id(state, caption))[0], 0)
        if expected_calls:
            session.fake.wait_calls(len(expected_calls), 30)
        else:
            time.sleep(2)  # nothing should come; give Wine's browser launcher the time it would need
        time.sleep(0.5)  # and no extra call after the expected ones
        self.assertEqual(session.fake.calls(), expected_calls)

    def label_ink(self, image, state, index):
        """The label's green pixels, in screenshot coordinates, and the rest of its area."""
        left, top = (o - r for o, r in zip(state["window"]["client_origin"], state["window"]["rect"][:2]))
        _, _, x, y, width, height = seen_controls(state)[index]
        box = (left + x, top + y, width, height)
        green = image.matching(box, lambda c: winetest.near(c, LABEL_GREEN))
        return green, box

    # --- tests ---------------------------------------------------------------

    def test_normal_run(self):
        """Fade-in, the definition's window with the version, the request, both addresses by mouse and by
        keyboard, the fade-out and exit 0."""
        with harness.ReleaseServer(port=PORT) as server, Session("normal-run") as session:
            app = self.start(session)
            state = self.fade_in(session)

            window = state["window"]
            self.assertEqual(window["title"], WINDOW_TITLE)
            self.assertEqual(window["rect"], WINDOW_RECT)
            self.assertTrue(window["layered"] and window["visible"])
            self.assertFalse(window["resizable"] or window["maximizable"])
            self.assertEqual(seen_controls(state), controls_with_version("7.14"))
            self.assertTrue(all(c["enabled"] and c["visible"] for c in state["controls"]))

            requests = server.requests()
            self.assertEqual(len(requests), 1, requests)
            self.assertEqual(requests[0]["request_line"], f"GET {PAGE_PATH} HTTP/1.0")
            headers = {name.lower(): value for name, value in requests[0]["headers"]}
            self.assertEqual(headers.get("accept"), "*/*")
            self.assertEqual(headers.get("user-agent"), USER_AGENT)
            self.assertEqual(headers.get("pragma"), "no-cache")
            self.assertEqual(headers.get("host"), f"127.0.0.1:{PORT}")

            # Green text drawn straight on the window's background: the labels
            # paint no box of their own. The 19 px hint is about 19 px high.
            image = session.screenshot("updater-96dpi", window["rect"])
            background = image.pixel(window["client_origin"][0] - window["rect"][0] + 2,
                                     window["client_origin"][1] - window["rect"][1] + 2)
            for index in (0, 3, 4):
                green, box = self.label_ink(image, state, index)
                self.assertGreater(len(green), 20, f"no green text in {seen_controls(state)[index]}")
                behind = image.matching(box, lambda c: c == background)
                self.assertGreater(len(behind), box[2] * box[3] // 2, "the label paints a background")
            green, _ = self.label_ink(image, state, HINT_INDEX)
            ink_height = max(y for _, y in green) - min(y for _, y in green) + 1
            self.assertTrue(14 <= ink_height <= 22, ink_height)

            # 按钮2 carries "下载1" and opens the first address, 按钮1 the second.
            self.clicks(session, state, ["下载1", "下载2"], [LINK1.encode(), LINK2.encode()])

            # The keyboard does what the mouse does: Tab moves between the two
            # buttons, Space and Enter press the one that has the focus.
            session.fake.clear()
            first, second = button_id(state, "下载1"), button_id(state, "下载2")
            code, answer = session.driver("keys", "tab", "tab", "tab", "space")
            self.assertEqual(code, 0)
            self.assertEqual(answer["focus"], [first, second, first, first])
            session.fake.wait_calls(1, 30)  # Wine starts its browser launcher for each address
            code, answer = session.driver("keys", "tab", "return")
            self.assertEqual(answer["focus"], [second, second])
            session.fake.wait_calls(2, 30)
            time.sleep(0.5)
            self.assertEqual(session.fake.calls(), [LINK1.encode(), LINK2.encode()])
            self.close_and_fade_out(session, app)

    def test_failed_read_shows_empty_version_and_opens_nothing(self):
        """Nobody listens on the port: the version is empty, the buttons stay enabled, clicks open nothing."""
        with Session("failed-read") as session:
            app = self.start(session)
            state = self.fade_in(session)
            self.assertEqual(seen_controls(state), controls_with_version(""))
            self.assertTrue(all(c["enabled"] for c in state["controls"]))
            self.clicks(session, state, ["下载1", "下载2"], [])
            self.close_and_fade_out(session, app)

    def test_addresses_reach_the_browser_byte_exact_and_refused_ones_never(self):
        """A non-ASCII address arrives as its exact UTF-8 bytes; one that is not http(s) is not opened."""
        link1 = f"http://127.0.0.1:{PORT}/KALMERDINE_7.15测试版.zip?update=21"
        page = winetest.write_page(self.tmp.name, (
            "<script>\n"
            f'var link1 = "{link1}";\n'
            'var link2 = "file:///C:/windows/notepad.exe";\n'
            "</script>\n"))
        with harness.ReleaseServer(port=PORT, page=page), Session("addresses") as session:
            app = self.start(session)
            state = self.fade_in(session)
            self.assertEqual(seen_controls(state)[VERSION_INDEX][1], "7.15测试版")
            # The refused one first: had it been opened, it would be among the calls.
            self.clicks(session, state, ["下载2", "下载1"], [link1.encode("utf-8")])
            self.close_and_fade_out(session, app)

    def test_two_close_requests_end_once_with_0(self):
        with harness.ReleaseServer(port=PORT), Session("two-closes") as session:
            app = self.start(session)
            self.fade_in(session)
            self.close_and_fade_out(session, app, requests=2)

    def test_close_during_fade_in_still_ends_with_0(self):
        """The close is posted as soon as the window exists, long before the fade-in can be done."""
        with harness.ReleaseServer(port=PORT), Session("close-during-fade-in") as session:
            app = self.start(session)
            code, answer = session.driver("close", 1, 60000)
            self.assertEqual(code, 0)
            self.assertLess(answer["alpha_at_close"], 255)
            self.assertTrue(answer["trace"]["gone"], answer)
            self.assertEqual(app.wait(30), 0)

    def test_layout_at_144_dpi_scales_by_one_and_a_half(self):
        """Places, sizes and fonts follow the DPI, so that nothing is stretched."""
        with harness.ReleaseServer(port=PORT), Session("dpi-144", dpi=144) as session:
            app = self.start(session)
            state = self.fade_in(session)
            window = state["window"]
            left, top, width, height = window["rect"]
            self.assertEqual([left, top, width], [75, 75, 474])
            self.assertIn(height, (328, 329))  # 219 × 1.5 = 328.5
            scaled = [(kind, caption, *(value * 3 // 2 for value in place))
                      for kind, caption, *place in controls_with_version("7.14")]
            self.assertEqual(seen_controls(state), scaled)

            image = session.screenshot("updater-144dpi", window["rect"])
            green, _ = self.label_ink(image, state, HINT_INDEX)
            ink_height = max(y for _, y in green) - min(y for _, y in green) + 1
            self.assertTrue(22 <= ink_height <= 32, ink_height)  # 19 px × 1.5, not 19 px
            self.close_and_fade_out(session, app)


if __name__ == "__main__":
    unittest.main()

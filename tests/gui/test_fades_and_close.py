#!/usr/bin/python3
"""The fade-in after start, and the close sequence: a close request never closes the
window at once; it fades out and the program ends with exit code 0.

Opacity is watched as the window manager would see it, through PropertyNotify on
_NET_WM_WINDOW_OPACITY (GTK removes the property at full opacity)."""

import sys
import unittest

import window_support
from window_support import alpha

# 255 steps, each followed by a sleep of at least 1 ms.
FADE_AT_LEAST = 0.255


class Fades(unittest.TestCase):
    def test_window_starts_transparent_and_rises_to_opaque(self):
        with window_support.Updater(self.config) as updater:
            xid = updater.wait_mapped()
            updater.wait_opaque(xid)
            values = updater.opacities(xid)
            # From the first value set on; before it the property is simply absent.
            levels = [alpha(v) for _, v in values[next(i for i, (_, v) in enumerate(values) if v is not None):]]
            self.assertLess(levels[0], 255, "shown opaque before fading in")
            self.assertEqual(levels, sorted(levels), f"the fade-in went down: {levels}")
            self.assertTrue(any(0 < a < 255 for a in levels), f"no step between: {levels}")
            self.assertEqual(levels[-1], 255)
            self.assertIsNone(updater.process.poll(), "still running once opaque")


class CloseSequence(unittest.TestCase):
    def check_ended_after_fade_out(self, updater, xid, asked_at):
        code = updater.wait_exit()
        self.assertEqual(code, 0, updater.stderr_text())
        gone = [t for t, kind, _, _ in updater.watch.events(xid=xid) if kind in ("unmap", "destroy")]
        first_gone = gone[0] if gone else updater.exited_at
        self.assertGreaterEqual(first_gone - asked_at, FADE_AT_LEAST, "the window went before its fade-out")
        self.assertGreaterEqual(updater.exited_at - asked_at, FADE_AT_LEAST)

    def test_close_request_after_the_fade_in(self):
        for count in (1, 2):
            with self.subTest(close_requests=count), window_support.Updater(self.config) as updater:
                xid = updater.wait_mapped()
                updater.wait_opaque(xid)
                asked_at = updater.close(xid, count)
                self.check_ended_after_fade_out(updater, xid, asked_at)
                after = [alpha(v) for t, v in updater.opacities(xid) if t >= asked_at]
                self.assertTrue(any(0 < a < 255 for a in after), f"no step between: {after}")
                self.assertTrue(all(a < 255 for a in after), f"opaque again while closing: {after}")
                if count == 1:
                    self.assertEqual(after, sorted(after, reverse=True), f"the fade-out went up: {after}")
                    self.assertEqual(after[-1], 0, "the last value set is 0")
                # With two, the fade-outs run side by side and the window shows
                # whichever value was set last.

    def test_close_request_during_the_fade_in(self):
        with window_support.Updater(self.config) as updater:
            # The first opacity the window gets is the transparent start, set before
            # the window is shown and the fade-in has applied a single step.
            xid = updater.wait_mapped()
            first = updater.opacities(xid)
            self.assertTrue(any(v is not None for _, v in first))
            if first[-1][1] is None:
                self.skipTest("the fade-in ended before the test could ask to close")
            asked_at = updater.close(xid)
            self.check_ended_after_fade_out(updater, xid, asked_at)


if __name__ == "__main__":
    window_support.main(sys.modules[__name__])

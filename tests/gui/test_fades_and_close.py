#!/usr/bin/python3
"""The fade-in after start, and the close sequence: a close request never closes the
window at once; it fades out and the program ends with exit code 0.

Opacity is watched as the window manager would see it, through PropertyNotify on
_NET_WM_WINDOW_OPACITY (GTK removes the property at full opacity)."""

import os
import signal
import sys
import time
import unittest

import window_support
from window_support import alpha, harness

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
        # Arranged rather than raced: the updater starts its fade-in and then asks
        # for the page. It is held (SIGSTOP) as soon as the request arrives, the
        # close is sent to its window, and it goes on once the page is on its
        # way: the close then waits only for the page to be read, long before
        # the fade-in can be over.
        with window_support.Updater(self.config) as updater:
            page_asked = harness.wait_until(lambda: updater.server.requests(), 30, interval=0.001)
            self.assertTrue(page_asked, "the updater did not ask for the page")
            os.kill(updater.process.pid, signal.SIGSTOP)
            try:
                # Its window has had its transparent start since before the fade-in began.
                xid = harness.wait_until(lambda: next((x for _, kind, x, rest in updater.watch.events("opacity")
                                                       if rest[0] not in ("none", "gone")), None), 10)
                self.assertTrue(xid, f"no window with an opacity: {updater.watch.events()}")
                asked_at = updater.close(xid)
                time.sleep(0.2)  # the server answers at once: let the page reach the updater's socket
            finally:
                os.kill(updater.process.pid, signal.SIGCONT)
            self.check_ended_after_fade_out(updater, xid, asked_at)
            # Both fades set the opacity in turn: the fade-in's rising values
            # show between the fade-out's falling ones.
            after = [alpha(v) for t, v in updater.opacities(xid) if t >= asked_at]
            self.assertNotEqual(after, sorted(after, reverse=True), f"the fade-in was over: {after}")

if __name__ == "__main__":
    window_support.main(sys.modules[__name__])

#!/usr/bin/env python3
"""Hostile page values through the Windows updater under Wine: the version label
shows what the rules take out of the page, and BM_CLICK on "下载1" opens nothing.

CTest passes the build's paths in the environment, as for tests/wine.
"""

import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))

import hostile_pages  # noqa: E402
import test_updater_window as window_tests  # noqa: E402  (its helpers; a module import runs none of its tests)
import wineprefix  # noqa: E402
import winetest  # noqa: E402
from winetest import PORT, Session, harness  # noqa: E402

# After the expected call, how long to wait for one that should not come:
# Wine starts its browser launcher as a program of its own for each address.
GRACE = 2.0


def version_shown(state):
    return window_tests.seen_controls(state)[window_tests.VERSION_INDEX][1]


def shell_requests(trace):
    """The addresses ShellExecuteW was asked to open, from Wine's "exec" trace.

    Wine's browser launcher reaches xdg-open for http addresses only; this also
    sees what would have gone elsewhere (a program path, a share, a script)."""
    with open(trace, encoding="ascii", errors="replace") as f:
        return re.findall(r'trace:exec:SHELL_execute mask=.* file=L"(.*?)" parm=', f.read())


class HostilePages(unittest.TestCase):
    # The window tests' own steps: follow the fade-in, close and follow the fade-out.
    fade_in = window_tests.UpdaterWindowTest.fade_in
    close_and_fade_out = window_tests.UpdaterWindowTest.close_and_fade_out

    def test_hostile_first_address_shows_the_rules_version_and_opens_nothing(self):
        # One prefix for all rows: starting Wine in a new one costs more than a
        # run of the updater, many times more under qemu.
        with Session("hostile") as session:
            for name, link1, version in hostile_pages.ROWS:
                with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                    session.fake.clear()
                    page = hostile_pages.write_page(tmp, link1)
                    with harness.ReleaseServer(port=PORT, page=page):
                        self.run_row(session, tmp, version)

    def run_row(self, session, tmp, version):
        # As session.start_updater(), with Wine tracing each ShellExecuteW.
        trace = os.path.join(tmp, "exec-trace")
        with open(trace, "wb") as stderr:
            app = subprocess.Popen([wineprefix.WINE, winetest.UPDATER], stdout=subprocess.DEVNULL,
                                   stderr=stderr, env=dict(session.env, WINEDEBUG="+exec"))
        self.addCleanup(lambda app=app: app.poll() is None and app.kill())
        state = self.fade_in(session)
        self.assertTrue(version_shown(state) == version,
                        f"版本 shows {hostile_pages.shown(version_shown(state))}")

        # BM_CLICK returns once the click handler has run: "下载1"
        # holds the hostile address, "下载2" the plain one, whose
        # call shows that the launcher had its chance.
        for caption in ("下载1", "下载2"):
            self.assertEqual(session.driver("click", window_tests.button_id(state, caption))[0], 0)
        session.fake.wait_calls(1, 15)
        time.sleep(GRACE)
        self.assertEqual(session.fake.calls(), [hostile_pages.plain_call(PORT)])
        self.assertEqual(shell_requests(trace), [hostile_pages.plain_call(PORT).decode()])

        _, state = session.driver("state")
        self.assertTrue(version_shown(state) == version,
                        f"版本 now shows {hostile_pages.shown(version_shown(state))}")
        self.close_and_fade_out(session, app)


if __name__ == "__main__":
    unittest.main()

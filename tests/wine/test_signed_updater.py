#!/usr/bin/env python3
"""The updater signed by scripts/sign (with a throw-away root and signer) still runs under
Wine: the window appears with the version read from the release server, and a close ends
it with 0. The signature only appends to the file; this shows nothing else changed."""

import os
import sys
import tempfile
import unittest

import test_updater_window as window_tests
import winetest
from winetest import PORT, Session, harness

sys.path.insert(0, os.path.join(winetest.HERE, "..", "support"))
import signing  # noqa: E402


class SignedUpdaterTest(unittest.TestCase):
    # The steps of the window tests, on the signed file.
    fade_in = window_tests.UpdaterWindowTest.fade_in
    close_and_fade_out = window_tests.UpdaterWindowTest.close_and_fade_out

    def test_signed_updater_shows_the_version_and_ends_with_0(self):
        with tempfile.TemporaryDirectory(prefix="wine-signed-") as tmp:
            certificates = signing.TestCertificates(os.path.join(tmp, "certificates"))
            signed = os.path.join(tmp, "tessmoor-updater.exe")
            result = signing.sign(winetest.UPDATER, signed, certificates)
            self.assertEqual(result.returncode, 0, result.stderr)
            verified = signing.verify(signed, certificates.root)
            self.assertEqual(verified.returncode, 0, verified.stdout)

            with harness.ReleaseServer(port=PORT), Session("signed-updater") as session:
                app = session.start_updater(signed)
                self.addCleanup(lambda: app.poll() is None and app.kill())
                state = self.fade_in(session)
                self.assertEqual(window_tests.seen_controls(state), window_tests.controls_with_version("7.14"))
                self.close_and_fade_out(session, app)


if __name__ == "__main__":
    unittest.main()

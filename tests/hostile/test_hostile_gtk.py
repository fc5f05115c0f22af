#!/usr/bin/python3
"""Hostile page values through the GTK updater: the version label shows what the
rules take out of the page, and a real pointer click on "下载1" opens nothing."""

import os
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "gui"))

import hostile_pages  # noqa: E402
import window_support  # noqa: E402

# After the expected call, how long to wait for one that should not come.
GRACE = 1.0


class HostilePages(unittest.TestCase):
    def test_hostile_first_address_shows_the_rules_version_and_opens_nothing(self):
        for name, link1, version in hostile_pages.ROWS:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                page = hostile_pages.write_page(tmp, link1)
                with window_support.Updater(self.config, page=page) as updater:
                    updater.wait_mapped()
                    window = updater.wait_report(lambda w: w["mapped"] and w["controls"])
                    caption = updater.control(window, "版本")["caption"]
                    self.assertTrue(caption == version, f"版本 shows {hostile_pages.shown(caption)}")

                    updater.click_control("按钮2")  # "下载1": the hostile address
                    updater.click_control("按钮1")  # "下载2": the plain one, proof that both clicks were handled
                    updater.fake.wait_calls(1)
                    time.sleep(GRACE)
                    self.assertEqual(updater.fake.calls(), [hostile_pages.plain_call(updater.server.port)])

                    self.assertIsNone(updater.process.poll(), "the window stays after the clicks")
                    caption = updater.control(updater.report()["windows"][0], "版本")["caption"]
                    self.assertTrue(caption == version, f"版本 now shows {hostile_pages.shown(caption)}")


if __name__ == "__main__":
    window_support.main(sys.modules[__name__])

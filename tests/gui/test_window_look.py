#!/usr/bin/python3
"""The updater window as the user sees it: title, place and size, the controls with
their captions, places, fonts and colours, and the pixels on the screen."""

import os
import sys
import unittest

import window_support

TITLE = "Tessmoor更新程序_Halvani专版"
GREEN = (138, 219, 83)

# In creation order: kind, name, (left, top, width, height), caption, (pixel height, weight) for labels.
CONTROLS = [
    ("label", "透明标签3", (32, 144, 240, 32), "如果下载1无效就换下载2", (19, 700)),
    ("button", "按钮2", (72, 96, 48, 40), "下载1", None),
    ("button", "按钮1", (176, 96, 48, 40), "下载2", None),
    ("label", "版本", (128, 32, 72, 32), "7.14", (16, 700)),
    ("label", "透明标签1", (32, 32, 96, 32), "当前最新版本：", (14, 400)),
]
LABEL_RECTS = {name: place for kind, name, place, _, _ in CONTROLS if kind == "label"}


def is_greenish(rgb):
    """Text in the label colour, anti-aliased edges included, over the grey background."""
    r, g, b = rgb
    return g - b > 40 and g > r


class WindowLook(unittest.TestCase):
    """One run with the sample release page (version 7.14), looked at from every side."""

    @classmethod
    def setUpClass(cls):
        cls.updater = window_support.Updater(cls.config).__enter__()
        try:
            cls.xid = cls.updater.wait_mapped()
            cls.updater.wait_opaque(cls.xid)
            cls.window = cls.updater.wait_report(lambda w: w["mapped"] and w["controls"])
        except BaseException:
            cls.updater.__exit__(None, None, None)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.updater.__exit__(None, None, None)

    def test_title_place_and_fixed_size(self):
        x = self.updater.describe(self.xid)
        self.assertEqual(bytes.fromhex(x["name_hex"]).decode("utf-8"), TITLE)
        self.assertEqual((x["x"], x["y"], x["width"], x["height"]), (50, 50, 316, 219))
        # Not resizable: the window manager is told that the only size is this one.
        self.assertEqual(x["min_size"], [316, 219])
        self.assertEqual(x["max_size"], [316, 219])
        self.assertTrue(x["viewable"])

    def test_has_an_icon(self):
        sizes = self.updater.describe(self.xid)["icon_sizes"]
        self.assertIn([48, 48], sizes)
        self.assertIn([16, 16], sizes)

    def test_controls_in_definition_order_with_captions_places_and_sizes(self):
        shown = [(c["kind"], c["name"], (c["x"], c["y"], c["width"], c["height"]), c["caption"])
                 for c in self.window["controls"]]
        expected = [(kind, name, place, caption) for kind, name, place, caption, _ in CONTROLS]
        self.assertEqual(shown, expected)
        for control in self.window["controls"]:
            self.assertTrue(control["visible"] and control["sensitive"], control["name"])

    def test_labels_ask_for_their_face_size_weight_and_colour_and_render_every_character(self):
        for kind, name, _, _, look in CONTROLS:
            if kind != "label":
                continue
            with self.subTest(name):
                label = self.updater.control(self.window, name)
                pixels, weight = look
                font = label["font"]
                self.assertEqual(font["family"].split(",")[0], "微软雅黑")
                self.assertTrue(font["absolute"], "a pixel size, not points")
                self.assertEqual((font["pixels"], font["weight"]), (pixels, weight))
                self.assertEqual(tuple(label["colour"]), GREEN)
                # Without 微软雅黑 a CJK face must stand in: no character drawn as a box.
                self.assertEqual(label["unknown_glyphs"], 0, label["faces"])

    def test_screenshot_shows_each_label_in_its_colour_at_its_character_height(self):
        path = os.path.join(self.config.artifacts, "updater-window.png")
        image = self.updater.screenshot(self.xid, path)
        print(f"screenshot: {path}", file=sys.stderr)
        self.assertEqual((image.width, image.height), (316, 219))
        for name, (left, top, width, height) in LABEL_RECTS.items():
            with self.subTest(name):
                inside = [(x, y) for y in range(top, top + height) for x in range(left, left + width)]
                self.assertIn(GREEN, {image.at(x, y) for x, y in inside}, "no pixel in the label colour")
                rows = {y for x, y in inside if is_greenish(image.at(x, y))}
                ink = max(rows) - min(rows) + 1
                pixels = next(look[0] for _, n, _, _, look in CONTROLS if n == name)
                if name != "版本":  # Chinese glyphs fill most of the em; digits do not
                    # A character height in pixels: points (x 1.33) or a cell height (/ 1.2) would miss this.
                    self.assertTrue(0.8 * pixels <= ink <= pixels, f"ink {ink} px for a {pixels} px font")
        strays = [(x, y) for y in range(image.height) for x in range(image.width)
                  if is_greenish(image.at(x, y)) and not any(
                      l <= x < l + w and t <= y < t + h for l, t, w, h in LABEL_RECTS.values())]
        self.assertEqual(strays, [], "label colour outside the labels")


if __name__ == "__main__":
    window_support.main(sys.modules[__name__])

#!/usr/bin/python3
"""`cmake --install` puts the updater where a Linux desktop finds it: the program in
bin/, a valid .desktop entry in share/applications/ that starts it, and its icon in
the hicolor theme at the sizes the folders claim."""

import argparse
import configparser
import os
import shutil
import struct
import subprocess
import sys
import unittest

PROGRAM = "tessmoor-updater"


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)
        subprocess.run(["cmake", "--install", cls.build_dir, "--prefix", cls.prefix], check=True,
                       stdout=subprocess.DEVNULL)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def desktop_entry(self):
        parser = configparser.ConfigParser(interpolation=None)
        parser.optionxform = str  # keys are case-sensitive
        parser.read(self.path("share", "applications", f"{PROGRAM}.desktop"), encoding="utf-8")
        return parser["Desktop Entry"]

    def test_program_is_installed_and_runnable(self):
        self.assertTrue(os.access(self.path("bin", PROGRAM), os.X_OK))

    def test_desktop_entry_starts_the_installed_program_with_its_icon(self):
        entry = self.desktop_entry()
        self.assertEqual(entry["Type"], "Application")
        self.assertEqual(entry["Exec"].split()[0], PROGRAM)
        self.assertTrue(os.path.exists(self.path("bin", entry["Exec"].split()[0])))
        self.assertEqual(entry["Icon"], PROGRAM)
        # GTK names the window's class after the executable: desktops match the two.
        self.assertEqual(entry["StartupWMClass"], PROGRAM)
        self.assertEqual(entry["Terminal"], "false")
        if shutil.which("desktop-file-validate"):
            subprocess.run(["desktop-file-validate", self.path("share", "applications", f"{PROGRAM}.desktop")],
                           check=True)

    def test_icon_sizes_match_their_theme_folders(self):
        apps = self.path("share", "icons", "hicolor")
        folders = sorted(os.listdir(apps))
        self.assertIn("48x48", folders)  # the size every desktop asks for first
        for folder in folders:
            with self.subTest(folder):
                with open(os.path.join(apps, folder, "apps", f"{PROGRAM}.png"), "rb") as f:
                    head = f.read(24)
                self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
                width, height = struct.unpack(">II", head[16:24])
                self.assertEqual(f"{width}x{height}", folder)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--prefix", required=True)
    args, rest = parser.parse_known_args()
    Install.build_dir, Install.prefix = args.build_dir, args.prefix
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

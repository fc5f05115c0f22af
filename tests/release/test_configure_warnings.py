#!/usr/bin/env python3
"""Configuring with plain-http built-in addresses warns, and only then: https and loopback
addresses (test and demo builds) configure quietly."""

import os
import subprocess
import tempfile
import unittest

import release_build

WARNING = "is plain http"


class ConfigureWarnings(unittest.TestCase):
    def configure(self, page, prefix):
        with tempfile.TemporaryDirectory(prefix="configure-warnings-") as build_dir:
            result = subprocess.run(
                [release_build.CMAKE, "-S", release_build.SOURCE, "-B", build_dir, "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                 f"-DRELEASE_PAGE_URL={page}", f"-DDOWNLOAD_URL_PREFIX={prefix}"],
                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stderr

    def test_a_warning_for_each_plain_http_address(self):
        cases = [
            # RELEASE_PAGE_URL, DOWNLOAD_URL_PREFIX, the names warned about
            ("http://www.example.org/p/page", "HTTPS://dl.example.org/KALMERDINE_", ["RELEASE_PAGE_URL"]),
            ("https://www.example.org/p/page", "HTTP://dl.example.org/KALMERDINE_", ["DOWNLOAD_URL_PREFIX"]),
            ("http://127.0.0.1:47613/p/page", "http://localhost/KALMERDINE_", []),
        ]
        for page, prefix, warned in cases:
            with self.subTest(page=page, prefix=prefix):
                stderr = self.configure(page, prefix)
                self.assertEqual(stderr.count("CMake Warning"), len(warned), stderr)
                for name in warned:
                    self.assertIn(f"{name} {WARNING}", stderr)
                    self.assertIn("Anyone on the network path", " ".join(stderr.split()))
                    self.assertIn("https:// address avoids it", " ".join(stderr.split()))


if __name__ == "__main__":
    unittest.main()

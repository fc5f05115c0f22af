#!/usr/bin/env python3
"""The .deb of the linux-release preset: what it holds, what lintian, desktop-file-validate and
appstreamcli say of it, and the installed release-check on release pages.

The package is built in a copy of the sources under TESSMOOR_RELEASE_WORK, with the sample
page's download prefix compiled in so that the installed release-check reads its version.
"""

import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import release_build

SAMPLE_PAGE = os.path.join(release_build.HERE, "..", "support", "sample_release_page.html")
SAMPLE_PREFIX = "http://127.0.0.1:47613/KALMERDINE_"
WORK = os.environ.get("TESSMOOR_RELEASE_WORK", os.path.join(release_build.SOURCE, "build", "release-tests"))
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=300, **kwargs)


class DebPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        source = release_build.copy_source(os.path.join(WORK, "linux-release"))
        cls.build_dir, _ = release_build.configure(
            source, "linux-release",
            "RELEASE_PAGE_URL=https://www.tessmoor.example/p/download-orvelline-2016-chn",
            f"DOWNLOAD_URL_PREFIX={SAMPLE_PREFIX}")
        release_build.build(cls.build_dir, "package")
        cls.version = release_build.project_version(cls.build_dir)
        architecture = run("dpkg", "--print-architecture").stdout.strip()
        cls.name = f"tessmoor-updater_{cls.version}_{architecture}.deb"
        cls.deb = os.path.join(cls.build_dir, "packages", cls.name)
        cls.tmp = tempfile.TemporaryDirectory(prefix="deb-test-")
        cls.root = os.path.join(cls.tmp.name, "root")
        subprocess.run(["dpkg", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def installed(self, *parts):
        return os.path.join(self.root, "usr", *parts)

    def test_the_packages_folder_holds_the_deb_and_its_checksum(self):
        release_build.checked_package_folder(self, os.path.join(self.build_dir, "packages"), self.name)

    def test_control_has_the_project_version_and_dependencies_from_the_programs(self):
        fields = run("dpkg-deb", "--field", self.deb, "Package", "Version", "Depends").stdout
        self.assertIn("Package: tessmoor-updater\n", fields)
        self.assertIn(f"Version: {self.version}\n", fields)
        # Versioned library packages as dpkg-shlibdeps finds them in the two programs.
        depends = fields.split("Depends: ", 1)[1]
        for library in ("libc6 (>= ", "libgtk-3-0 (>= ", "libcurl4 (>= ", "libstdc++6 (>= "):
            self.assertIn(library, depends)

    def test_lintian_reports_no_errors(self):
        result = run("lintian", "--no-cfg", self.deb)
        errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [], result.stdout)

    def test_it_installs_both_programs_the_desktop_entry_icons_and_metadata(self):
        for program in ("tessmoor-updater", "release-check"):
            self.assertTrue(os.access(self.installed("bin", program), os.X_OK), program)
        for size in ICON_SIZES:
            self.assertTrue(os.path.isfile(
                self.installed("share", "icons", "hicolor", f"{size}x{size}", "apps", "tessmoor-updater.png")), size)
        for doc in ("copyright", "changelog.gz"):
            self.assertTrue(os.path.isfile(self.installed("share", "doc", "tessmoor-updater", doc)), doc)

    def test_desktop_entry_and_appstream_metadata_validate(self):
        desktop = self.installed("share", "applications", "tessmoor-updater.desktop")
        result = run("desktop-file-validate", desktop)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
        metainfo = self.installed("share", "metainfo", "example.tessmoor.updater.metainfo.xml")
        result = run("appstreamcli", "validate", "--no-net", metainfo)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        component = ElementTree.parse(metainfo).getroot()
        self.assertEqual(component.find("launchable").text, "tessmoor-updater.desktop")
        self.assertEqual(component.find("releases/release").get("version"), self.version)

    def test_installed_release_check(self):
        self.assertEqual(run(self.installed("bin", "release-check"), "--version").stdout,
                         f"release-check {self.version}\n")
        with open(SAMPLE_PAGE, "rb") as f:
            sample = f.read()
        mirror = b"http://127.0.0.1:47613/mirror/KALMERDINE_7.14.zip"
        plain = "warning: download 2 is plain http: anyone on the network path"
        cases = [
            # name, page, what the report holds, what it must not
            ("sample page", sample, ["latest version: 7.14\n"], ["warning"]),
            ("plain http mirror", sample.replace(mirror, b"http://mirror.example.org/KALMERDINE_7.14.zip"),
             [plain, "an https:// address avoids it"], ["download 1 is plain http"]),
            ("scheme in capitals", sample.replace(mirror, b"HTTP://mirror.example.org/KALMERDINE_7.14.zip"),
             [plain], []),
            ("https mirror", sample.replace(mirror, b"https://mirror.example.org/KALMERDINE_7.14.zip"),
             [], ["warning"]),
        ]
        for name, page, present, absent in cases:
            with self.subTest(name):
                path = os.path.join(self.tmp.name, "page.html")
                with open(path, "wb") as f:
                    f.write(page)
                result = run(self.installed("bin", "release-check"), path)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                for text in present:
                    self.assertIn(text, result.stdout)
                for text in absent:
                    self.assertNotIn(text, result.stdout)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The Windows release: the win32 package, executables that two builds make byte for byte
alike, and Authenticode signing with scripts/sign.

Win32Package builds the win32 preset in a copy of the sources under TESSMOOR_RELEASE_WORK
and makes its package; Win32Reproducible and Signing use that build (a CTest fixture).
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import release_build
from release_build import read

sys.path.insert(0, os.path.join(release_build.HERE, "..", "support"))
import signing  # noqa: E402

WORK = os.environ.get("TESSMOOR_RELEASE_WORK", os.path.join(release_build.SOURCE, "build", "release-tests"))
FIRST = os.path.join(WORK, "win32-first")
# A second copy at a path of another length: a build path anywhere in the file would show.
SECOND = os.path.join(WORK, "win32-second-build-elsewhere")
EXECUTABLES = ("tessmoor-updater.exe", "release-check.exe")


def first_build():
    return os.path.join(FIRST, "build", "win32")


def utf16(text):
    return text.encode("utf-16-le")


class Win32Package(unittest.TestCase):
    def test_zip_holds_both_programs_and_a_utf8_read_me_beside_its_checksum(self):
        source = release_build.copy_source(FIRST)
        build_dir, _ = release_build.configure(source, "win32")
        release_build.build(build_dir, "package")
        version = release_build.project_version(build_dir)
        name = f"tessmoor-updater-{version}-win32"
        release_build.checked_package_folder(self, os.path.join(build_dir, "packages"), name + ".zip")

        with zipfile.ZipFile(os.path.join(build_dir, "packages", name + ".zip")) as package:
            self.assertEqual(sorted(package.namelist()),
                             sorted(f"{name}/{f}" for f in (*EXECUTABLES, "README.txt")))
            # The built files unchanged: what was checked for reproducibility is what ships.
            for exe in EXECUTABLES:
                self.assertEqual(package.read(f"{name}/{exe}"), read(os.path.join(build_dir, "bin", exe)), exe)
            readme = package.read(f"{name}/README.txt")
        # Notepad takes UTF-8 without a BOM for the ANSI code page.
        self.assertTrue(readme.startswith(b"\xef\xbb\xbf"), readme[:8])
        text = readme[3:].decode("utf-8")
        self.assertNotIn("\n", text.replace("\r\n", ""), "not CR LF throughout")
        self.assertIn(f"Tessmoor updater {version} for Windows", text)

        # The project's version in the updater's VERSIONINFO (UTF-16 strings, key then value).
        updater = read(os.path.join(build_dir, "bin", "tessmoor-updater.exe"))
        for key in ("FileVersion", "ProductVersion"):
            pattern = re.escape(utf16(key)) + b"\x00\x00(?:\x00\x00)?" + re.escape(utf16(version)) + b"\x00\x00"
            self.assertRegex(updater, pattern, key)


class Win32Reproducible(unittest.TestCase):
    def test_a_second_clean_build_elsewhere_gives_the_same_executables(self):
        source = release_build.copy_source(SECOND)
        build_dir, _ = release_build.configure(source, "win32")
        release_build.build(build_dir, "tessmoor-updater", "release-check")
        for exe in EXECUTABLES:
            with self.subTest(exe):
                first = read(os.path.join(first_build(), "bin", exe))
                second = read(os.path.join(build_dir, "bin", exe))
                self.assertEqual(len(first), len(second))
                differing = [i for i, (a, b) in enumerate(zip(first, second)) if a != b]
                self.assertEqual(differing[:16], [], f"{exe}: {len(differing)} bytes differ")
        shutil.rmtree(SECOND)  # kept only when they differ, to be looked at


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="sign-test-")
        cls.certificates = signing.TestCertificates(os.path.join(cls.tmp.name, "ours"))
        cls.stranger = signing.TestCertificates(os.path.join(cls.tmp.name, "stranger"), name="Stranger")
        cls.unsigned = os.path.join(first_build(), "bin", "tessmoor-updater.exe")
        cls.signed = os.path.join(cls.tmp.name, "signed.exe")
        cls.result = signing.sign(cls.unsigned, cls.signed, cls.certificates)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)

    def test_the_signed_file_verifies_against_its_root_and_no_other(self):
        self.assertEqual(self.result.stdout + self.result.stderr, "")
        accepted = signing.verify(self.signed, self.certificates.root)
        self.assertEqual(accepted.returncode, 0, accepted.stdout + accepted.stderr)
        self.assertNotEqual(signing.verify(self.signed, self.stranger.root).returncode, 0)
        self.assertNotEqual(signing.verify(self.unsigned, self.certificates.root).returncode, 0)
        self.assertTrue(os.access(self.signed, os.X_OK))

    def test_one_changed_byte_is_rejected(self):
        data = bytearray(read(self.signed))
        data[len(data) // 2] ^= 0x01
        changed = os.path.join(self.tmp.name, "changed.exe")
        with open(changed, "wb") as f:
            f.write(data)
        rejected = signing.verify(changed, self.certificates.root)
        self.assertNotEqual(rejected.returncode, 0, rejected.stdout)

    def test_removing_the_signature_gives_back_the_unsigned_bytes(self):
        stripped = os.path.join(self.tmp.name, "stripped.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", self.signed, "-out", stripped], check=True,
                       capture_output=True)
        self.assertNotEqual(read(self.signed), read(self.unsigned))
        self.assertEqual(read(stripped), read(self.unsigned))

    def test_missing_or_wrong_certificate_exits_2_with_a_message_and_writes_nothing(self):
        certificates = self.certificates
        subprocess.run(["openssl", "pkcs12", "-export", "-nokeys", "-in", certificates.path("signer.pem"),
                        "-out", certificates.path("no-key.p12"), "-passout", f"pass:{certificates.password}"],
                       check=True, capture_output=True)
        missing_exe = os.path.join(self.tmp.name, "missing.exe")
        cases = [
            # name, input, environment changes, what stderr says
            ("certificate not set", self.unsigned, {"TESSMOOR_SIGN_PKCS12": None}, "TESSMOOR_SIGN_PKCS12 is not set"),
            ("certificate file missing", self.unsigned,
             {"TESSMOOR_SIGN_PKCS12": certificates.path("absent.p12")}, "cannot read the certificate"),
            ("wrong password", self.unsigned, {"TESSMOOR_SIGN_PASSWORD": "wrong"}, "wrong password"),
            ("password not set", self.unsigned, {"TESSMOOR_SIGN_PASSWORD": None}, "wrong password"),
            ("not a PKCS#12 file", self.unsigned, {"TESSMOOR_SIGN_PKCS12": certificates.root}, "not a PKCS#12 file"),
            ("no private key in it", self.unsigned, {"TESSMOOR_SIGN_PKCS12": certificates.path("no-key.p12")},
             "holds no private key"),
            ("input missing", missing_exe, {}, "cannot read"),
        ]
        for name, unsigned, changes, message in cases:
            with self.subTest(name):
                out = os.path.join(self.tmp.name, "out.exe")
                result = signing.sign(unsigned, out, certificates, **changes)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertTrue(result.stderr.startswith("sign: "), result.stderr)
                self.assertNotIn(certificates.password, result.stderr)
                self.assertEqual([n for n in os.listdir(self.tmp.name) if n.startswith("out.exe")], [])


if __name__ == "__main__":
    unittest.main()

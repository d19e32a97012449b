#!/usr/bin/python3
"""Tests of payload_tool's content checks on fixtures made from the stand-ins:
what is refused as Korvane.exe or WebView2Loader.dll, and with which line.

    payload_content_test.py <payload_tool> <stand-in Korvane.exe> <stand-in loader> <version>
"""

import gzip
import os
import subprocess
import sys
import tempfile
import unittest

import pefile

TOOL = APP = LOADER = VERSION = None  # set from the command line
ADVICE = "; set KORVANE_VERSION or rebuild the application"


def other_version(version):
    """Another version of the same length, e.g. 0.3.0 for 0.2.0."""
    major, minor, patch = (int(n) for n in version.split("."))
    for m in (minor + 1, minor - 1):
        other = f"{major}.{m}.{patch}"
        if m >= 0 and len(other) == len(version):
            return other
    raise AssertionError(f"no other version of the length of {version}")


def edited(path, edit):
    """The bytes of the PE file `path` after `edit(pe)`."""
    pe = pefile.PE(path)
    edit(pe)
    return bytes(pe.write())


def with_version(data, old, new):
    """`data` with the fixed file and product versions and every UTF-16
    version string set to `new`."""
    major, minor, patch = (int(n) for n in new.split("."))
    data = data.replace(old.encode("utf-16-le") + b"\0\0", new.encode("utf-16-le") + b"\0\0")
    pe = pefile.PE(data=data)
    fixed = pe.VS_FIXEDFILEINFO[0]
    fixed.FileVersionMS = fixed.ProductVersionMS = (major << 16) | minor
    fixed.FileVersionLS = fixed.ProductVersionLS = patch << 16
    return bytes(pe.write())


def without_version_resource(pe):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.struct.Id == pefile.RESOURCE_TYPE["RT_VERSION"]:
            entry.struct.Name = pefile.RESOURCE_TYPE["RT_DLGINCLUDE"]


def run_tool(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, check=False)


class ContentChecks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        with open(APP, "rb") as f:
            cls.app = f.read()
        with open(LOADER, "rb") as f:
            cls.loader = f.read()
        cls.signed_loader = cls.sign(LOADER)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def sign(cls, path):
        """`path` signed by osslsigncode with a throwaway self-signed certificate."""
        key, cert, p12, password = (os.path.join(cls.dir, n) for n in ("k.pem", "c.pem", "c.p12", "pw"))
        with open(password, "w") as f:
            f.write("throwaway\n")
        for cmd in (["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                     "-out", cert, "-days", "2", "-subj", "/CN=Korvane test signer"],
                    ["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12,
                     "-passout", "file:" + password],
                    ["osslsigncode", "sign", "-pkcs12", p12, "-readpass", password, "-h", "sha256",
                     "-in", path, "-out", os.path.join(cls.dir, "signed.dll")]):
            subprocess.run(cmd, check=True, capture_output=True)
        with open(os.path.join(cls.dir, "signed.dll"), "rb") as f:
            return f.read()

    def write(self, name, data, packed=False):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(gzip.compress(data, mtime=0) if packed else data)
        return path

    def check(self, kind, name, data, packed=False):
        path = self.write(name, data, packed)
        args = ["check-app", path, VERSION] if kind == "app" else ["check-loader", path]
        return path, run_tool(*args)

    def test_accepted(self):
        cases = [
            ("app", "Korvane.exe", self.app, False),
            ("app", "Korvane.exe.gz", self.app, True),
            ("loader", "WebView2Loader.dll", self.loader, False),
            ("loader", "signed.dll", self.signed_loader, False),
            ("loader", "signed.dll.gz", self.signed_loader, True),
        ]
        for kind, name, data, packed in cases:
            with self.subTest(name):
                _, result = self.check(kind, name, data, packed)
                self.assertEqual(0, result.returncode, result.stderr)

    def test_refused_with_one_line_naming_the_file(self):
        other = other_version(VERSION)
        flipped = bytearray(self.signed_loader)
        text = pefile.PE(data=self.signed_loader).sections[0]
        flipped[text.PointerToRawData + text.SizeOfRawData // 2] ^= 0x01
        cases = [
            ("app", "text.exe", b"Korvane\n", False, "not a PE file (no MZ header)"),
            ("app", "empty.exe", b"", False, "not a PE file (the file is empty)"),
            ("app", "loader.exe", self.loader, False, "a DLL, not an executable"),
            ("app", "console.exe", edited(APP, lambda pe: setattr(pe.OPTIONAL_HEADER, "Subsystem", 3)),
             False, "not a GUI program (subsystem 3)"),
            ("app", "no-loader.exe", self.app.replace(b"WebView2Loader.dll\0", b"WebView2Loadex.dll\0"),
             False, "does not import WebView2Loader.dll"),
            ("app", "other.exe", with_version(self.app, VERSION, other), False,
             f"Korvane.exe is version {other} but the installer says {VERSION}{ADVICE}"),
            ("app", "other.exe.gz", with_version(self.app, VERSION, other), True,
             f"Korvane.exe is version {other} but the installer says {VERSION}{ADVICE}"),
            ("app", "no-version.exe", edited(APP, without_version_resource), False,
             f"Korvane.exe has no version resource but the installer says {VERSION}{ADVICE}"),
            ("loader", "app.dll", self.app, False, "an executable, not a DLL"),
            ("loader", "four-exports.dll",
             self.loader.replace(b"CompareBrowserVersions\0", b"CompareBrowserVersionX\0"), False,
             "does not export CompareBrowserVersions"),
            ("loader", "flipped.dll", bytes(flipped), False,
             "the Authenticode signature does not match the file (SHA256 digest differs)"),
        ]
        for kind, name, data, packed, reason in cases:
            with self.subTest(name):
                path, result = self.check(kind, name, data, packed)
                self.assertEqual(1, result.returncode)
                self.assertEqual("", result.stdout)
                lines = result.stderr.splitlines()
                self.assertEqual(1, len(lines), result.stderr)
                self.assertTrue(lines[0].startswith(f"payload_tool: bad payload {path}: {reason}"),
                                lines[0])

    def test_stub_size_leaves_out_the_payload_files_and_the_icon_images(self):
        # The stand-in application carries the installer's five icon images.
        pe = pefile.PE(APP)
        [icons] = [e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries
                   if e.struct.Id == pefile.RESOURCE_TYPE["RT_ICON"]]
        icon_bytes = sum(lang.data.struct.Size for name in icons.directory.entries
                         for lang in name.directory.entries)
        self.assertEqual(5, len(icons.directory.entries))
        payloads = [self.write("a.gz", b"x" * 1000), self.write("b.gz", b"y" * 24)]
        want = len(self.app) - 1024 - icon_bytes
        result = run_tool("stub-size", APP, *payloads)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(str(want), result.stdout.split()[0])
        self.assertEqual(0, run_tool("stub-size", APP, *payloads, str(want)).returncode)
        over = run_tool("stub-size", APP, *payloads, str(want - 1))
        self.assertEqual(1, over.returncode)
        self.assertIn("over the limit", over.stderr)


if __name__ == "__main__":
    TOOL, APP, LOADER, VERSION = sys.argv[1:5]
    unittest.main(argv=[sys.argv[0], *sys.argv[5:]], verbosity=2)

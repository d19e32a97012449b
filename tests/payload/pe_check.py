#!/usr/bin/python3
"""Checks of the built Windows files, read with pefile:

* an installer (korvane_setup.exe, or another built by korvane_add_installer):
  exactly its manifest and icon resources, Windows' own DLLs only, GUI,
  AMD64, no signature, and the payload files embedded byte for byte with
  their (start, length) descriptors;
* the stand-in Korvane.exe (--standin-app) and WebView2Loader.dll
  (--standin-loader), when given.

    pe_check.py --installer X.exe --manifest korvane.manifest --icon korvane.ico
                --app-gz Korvane.exe.gz --loader-gz WebView2Loader.dll.gz
                [--standin-app Korvane.exe --standin-loader WebView2Loader.dll]
                [--app-raw Korvane.exe --loader-raw WebView2Loader.dll]

--app-raw / --loader-raw: the files the payloads must decode to.
"""

import argparse
import gzip
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
LANG_EN_US = 1033
ICON_SIZES = (16, 32, 48, 128, 256)
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

# Windows' own DLLs, lower case. Anything else (libstdc++-6.dll,
# libgcc_s_seh-1.dll, libwinpthread-1.dll, zlib1.dll, ...) would have to
# travel beside the .exe.
WINDOWS_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "ntdll.dll", "msvcrt.dll", "advapi32.dll",
    "shell32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll", "comctl32.dll", "bcrypt.dll",
    "version.dll",
}

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
WS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"

ARGS = None  # the parsed command line, for the test cases


def load(path):
    return pefile.PE(path, fast_load=False)


def resources(pe):
    """{(type, id, lang): bytes} of every resource; names (not IDs) as strings."""
    out = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        tkey = rtype.id if rtype.id is not None else str(rtype.name)
        for rid in rtype.directory.entries:
            ikey = rid.id if rid.id is not None else str(rid.name)
            for lang in rid.directory.entries:
                d = lang.data.struct
                out[(tkey, ikey, lang.id)] = pe.get_data(d.OffsetToData, d.Size)
    return out


def imports(pe):
    """{dll name (lower case): [imported names]} of ordinary imports."""
    out = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        names = [i.name.decode() if i.name else "#%d" % i.ordinal for i in entry.imports]
        out.setdefault(entry.dll.decode().lower(), []).extend(names)
    return out


def delay_imports(pe):
    return {e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])}


def png_header(data):
    """(width, height, bit depth, colour type) of a PNG image."""
    if not data.startswith(PNG_SIGNATURE) or data[12:16] != b"IHDR":
        raise AssertionError("not a PNG image")
    return struct.unpack(">IIBB", data[16:26])


def group_entries(data):
    """Entries of an RT_GROUP_ICON: (width, height, colours, reserved, planes, bpp, bytes, id)."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if (reserved, kind) != (0, 1) or len(data) != 6 + 14 * count:
        raise AssertionError("malformed icon group header %r" % ((reserved, kind, count),))
    return [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]


def ico_images(path):
    """The images of an .ico file, in directory order."""
    with open(path, "rb") as f:
        data = f.read()
    _, _, count = struct.unpack_from("<HHH", data, 0)
    out = []
    for i in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        out.append(data[offset:offset + size])
    return out


def read(path):
    with open(path, "rb") as f:
        return f.read()


def version_strings(pe):
    out = {}
    for group in getattr(pe, "FileInfo", []) or []:
        for info in group:
            if getattr(info, "Key", b"") == b"StringFileInfo":
                for table in info.StringTable:
                    out.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return out


class PeChecks(unittest.TestCase):
    def assert_windows_dlls_only(self, pe, allowed_extra=()):
        allowed = WINDOWS_DLLS | {d.lower() for d in allowed_extra}
        foreign = sorted(set(imports(pe)) - allowed)
        self.assertEqual([], foreign, "imports from DLLs that are not Windows' own")

    def assert_amd64(self, pe):
        self.assertEqual(pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"], pe.FILE_HEADER.Machine)
        self.assertEqual(pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, pe.OPTIONAL_HEADER.Magic)


class Installer(PeChecks):
    @classmethod
    def setUpClass(cls):
        cls.pe = load(ARGS.installer)
        cls.res = resources(cls.pe)

    def test_resources_are_exactly_manifest_icon_group_and_five_icons(self):
        want = {(RT_MANIFEST, 1, LANG_EN_US), (RT_GROUP_ICON, 1, LANG_EN_US)}
        want |= {(RT_ICON, n, LANG_EN_US) for n in range(1, 6)}
        self.assertEqual(sorted(want, key=str), sorted(self.res, key=str))

    def test_manifest_is_the_file_byte_for_byte(self):
        self.assertEqual(read(ARGS.manifest), self.res.get((RT_MANIFEST, 1, LANG_EN_US)))

    def test_manifest_is_utf8_without_bom_with_line_feeds_only(self):
        data = self.res[(RT_MANIFEST, 1, LANG_EN_US)]
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"), "byte-order mark")
        self.assertNotIn(b"\r", data)
        data.decode("utf-8")
        self.assertTrue(data.startswith(b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'))

    def test_manifest_holds_long_paths_and_as_invoker_and_nothing_else(self):
        root = ET.fromstring(self.res[(RT_MANIFEST, 1, LANG_EN_US)])
        self.assertEqual("{%s}assembly" % ASM_V1, root.tag)
        self.assertEqual({"manifestVersion": "1.0"}, root.attrib)
        tags = sorted(e.tag for e in root.iter())
        want = sorted([
            "{%s}assembly" % ASM_V1,
            "{%s}application" % ASM_V3,
            "{%s}windowsSettings" % ASM_V3,
            "{%s}longPathAware" % WS_2016,
            "{%s}trustInfo" % ASM_V3,
            "{%s}security" % ASM_V3,
            "{%s}requestedPrivileges" % ASM_V3,
            "{%s}requestedExecutionLevel" % ASM_V3,
        ])
        self.assertEqual(want, tags, "the manifest's elements")
        long_paths = root.find("./{%s}application/{%s}windowsSettings/{%s}longPathAware"
                               % (ASM_V3, ASM_V3, WS_2016))
        self.assertIsNotNone(long_paths)
        self.assertEqual("true", long_paths.text)
        level = root.find("./{%s}trustInfo/{%s}security/{%s}requestedPrivileges/"
                          "{%s}requestedExecutionLevel" % ((ASM_V3,) * 4))
        self.assertIsNotNone(level)
        self.assertEqual({"level": "asInvoker", "uiAccess": "false"}, level.attrib)

    def test_icon_group_lists_five_png_images_in_order(self):
        entries = group_entries(self.res[(RT_GROUP_ICON, 1, LANG_EN_US)])
        self.assertEqual(len(ICON_SIZES), len(entries))
        for n, (size, entry) in enumerate(zip(ICON_SIZES, entries), start=1):
            width, height, colours, reserved, planes, bpp, nbytes, icon_id = entry
            dim = 0 if size == 256 else size
            with self.subTest(entry=n, size=size):
                self.assertEqual((dim, dim), (width, height))
                self.assertEqual((0, 0, 1, 32), (colours, reserved, planes, bpp))
                self.assertEqual(n, icon_id)
                image = self.res[(RT_ICON, icon_id, LANG_EN_US)]
                self.assertEqual(len(image), nbytes)
                self.assertEqual((size, size, 8, 6), png_header(image), "RGBA, 8 bits a channel")

    def test_icon_images_are_those_of_the_icon_file(self):
        images = [self.res[(RT_ICON, n, LANG_EN_US)] for n in range(1, 6)]
        self.assertEqual(ico_images(ARGS.icon), images)

    def test_gui_amd64_pe32_plus(self):
        self.assert_amd64(self.pe)
        self.assertEqual(pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
                         self.pe.OPTIONAL_HEADER.Subsystem)
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x2000, "a DLL")

    def test_imports_windows_dlls_only(self):
        self.assertIn("kernel32.dll", imports(self.pe))
        self.assert_windows_dlls_only(self.pe)
        self.assertEqual(set(), delay_imports(self.pe))

    def test_carries_no_signature(self):
        security = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        self.assertEqual(0, security.Size)

    def payload_descriptor(self, payload):
        """The one read-only place holding `payload`, and its descriptor's count."""
        base = self.pe.OPTIONAL_HEADER.ImageBase
        places, descriptors = [], 0
        for section in self.pe.sections:
            data = section.get_data()
            at = data.find(payload)
            while at != -1:
                places.append((section, section.VirtualAddress + at))
                at = data.find(payload, at + 1)
        self.assertEqual(1, len(places), "the payload appears once in the image")
        section, rva = places[0]
        self.assertFalse(section.Characteristics & 0x80000000, "the payload's section is writable")
        descriptor = struct.pack("<QQ", base + rva, len(payload))
        for s in self.pe.sections:
            descriptors += s.get_data().count(descriptor)
        return section, descriptors

    def test_payloads_are_embedded_unchanged_with_start_and_length(self):
        for name, path in (("APP_EXE_GZ", ARGS.app_gz), ("WEBVIEW_LOADER_GZ", ARGS.loader_gz)):
            with self.subTest(payload=name):
                section, descriptors = self.payload_descriptor(read(path))
                self.assertEqual(1, descriptors, "one (start, length) descriptor")
                self.assertEqual(b".rdata", section.Name.rstrip(b"\0"))

    def test_payloads_decode_to_the_given_files(self):
        pairs = (("APP_EXE_GZ", ARGS.app_gz, ARGS.app_raw),
                 ("WEBVIEW_LOADER_GZ", ARGS.loader_gz, ARGS.loader_raw))
        if not any(raw for _, _, raw in pairs):
            self.skipTest("no decoded files given")
        for name, gz, raw in pairs:
            if raw:
                with self.subTest(payload=name):
                    self.assertEqual(read(raw), gzip.decompress(read(gz)))


class StandinApp(PeChecks):
    @classmethod
    def setUpClass(cls):
        if not ARGS.standin_app:
            raise unittest.SkipTest("no --standin-app")
        cls.pe = load(ARGS.standin_app)

    def test_gui_amd64_pe32_plus(self):
        self.assert_amd64(self.pe)
        self.assertEqual(pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
                         self.pe.OPTIONAL_HEADER.Subsystem)

    def test_version_resource_says_korvane_and_the_build_version(self):
        major, minor, patch = (int(n) for n in ARGS.version.split("."))
        want_fixed = ((major << 16) | minor, patch << 16)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual(want_fixed, (fixed.FileVersionMS, fixed.FileVersionLS), ARGS.version + ".0")
        self.assertEqual(want_fixed, (fixed.ProductVersionMS, fixed.ProductVersionLS))
        strings = version_strings(self.pe)
        for key, want in (("FileVersion", ARGS.version), ("ProductVersion", ARGS.version),
                          ("ProductName", "Korvane"), ("FileDescription", "Korvane")):
            self.assertEqual(want, strings.get(key), key)

    def test_icon_images_are_the_installers(self):
        res = resources(self.pe)
        entries = group_entries(res[(RT_GROUP_ICON, 1, LANG_EN_US)])
        images = [res[(RT_ICON, e[7], LANG_EN_US)] for e in entries]
        self.assertEqual(ico_images(ARGS.icon), images)
        installer = resources(load(ARGS.installer))
        self.assertEqual([installer[(RT_ICON, n, LANG_EN_US)] for n in range(1, 6)], images)

    def test_imports_the_two_loader_functions_at_load_time(self):
        got = imports(self.pe)
        self.assertEqual(sorted(["CreateCoreWebView2EnvironmentWithOptions",
                                 "GetAvailableCoreWebView2BrowserVersionString"]),
                         sorted(got.get("webview2loader.dll", [])))
        self.assertEqual(set(), delay_imports(self.pe))

    def test_imports_windows_dlls_and_the_loader_only(self):
        self.assert_windows_dlls_only(self.pe, allowed_extra=("WebView2Loader.dll",))


class StandinLoader(PeChecks):
    @classmethod
    def setUpClass(cls):
        if not ARGS.standin_loader:
            raise unittest.SkipTest("no --standin-loader")
        cls.pe = load(ARGS.standin_loader)

    def test_amd64_dll(self):
        self.assert_amd64(self.pe)
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x2000, "not a DLL")

    def test_exports_the_five_loader_functions(self):
        names = sorted(s.name.decode() for s in self.pe.DIRECTORY_ENTRY_EXPORT.symbols)
        self.assertEqual(["CompareBrowserVersions", "CreateCoreWebView2Environment",
                          "CreateCoreWebView2EnvironmentWithOptions",
                          "GetAvailableCoreWebView2BrowserVersionString",
                          "GetAvailableCoreWebView2BrowserVersionStringWithOptions"], names)

    def test_imports_from_kernel32_only(self):
        self.assertEqual(["kernel32.dll"], sorted(imports(self.pe)))


def main():
    global ARGS
    parser = argparse.ArgumentParser(description="Checks of the built Windows files.")
    parser.add_argument("--installer", required=True)
    parser.add_argument("--manifest", required=True)
    parser.add_argument("--icon", required=True)
    parser.add_argument("--app-gz", required=True)
    parser.add_argument("--loader-gz", required=True)
    parser.add_argument("--app-raw")
    parser.add_argument("--loader-raw")
    parser.add_argument("--standin-app")
    parser.add_argument("--standin-loader")
    parser.add_argument("--version", help="the build's version, which the stand-in application carries")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Tests of payload_tool, the build's packer and checker of payload files.

    payload_tool_test.py <path to payload_tool> [unittest arguments]
"""

import ctypes
import gzip
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

TOOL = None  # set from the command line

PACKED_HEADER = bytes([0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 2, 0])
CHECKSUM = "corrupt gzip stream does not have a matching checksum"


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, check=False)


def member(data, header=PACKED_HEADER):
    """One gzip member of `data` at zlib's fastest level, behind `header`."""
    c = zlib.compressobj(1, zlib.DEFLATED, -15, 8)
    body = c.compress(data) + c.flush()
    return header + body + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)


def libdeflate_level_12(data):
    """Raw DEFLATE of `data` by libdeflate's densest level, through its C API."""
    lib = ctypes.CDLL("libdeflate.so.0")
    lib.libdeflate_alloc_compressor.restype = ctypes.c_void_p
    lib.libdeflate_alloc_compressor.argtypes = [ctypes.c_int]
    lib.libdeflate_deflate_compress_bound.restype = ctypes.c_size_t
    lib.libdeflate_deflate_compress_bound.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
    lib.libdeflate_deflate_compress.restype = ctypes.c_size_t
    lib.libdeflate_deflate_compress.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t,
                                                ctypes.c_char_p, ctypes.c_size_t]
    lib.libdeflate_free_compressor.argtypes = [ctypes.c_void_p]
    c = lib.libdeflate_alloc_compressor(12)
    bound = lib.libdeflate_deflate_compress_bound(c, len(data))
    out = ctypes.create_string_buffer(bound)
    n = lib.libdeflate_deflate_compress(c, data, len(data), out, bound)
    lib.libdeflate_free_compressor(c)
    return out.raw[:n]


def with_le32(data, at, delta):
    (value,) = struct.unpack_from("<I", data, at)
    return data[:at] + struct.pack("<I", (value + delta) & 0xFFFFFFFF) + data[at + 4:]


SAMPLE = bytes(random.Random(7).getrandbits(8) for _ in range(5000)) + b"MZ" * 4000
GOOD = member(SAMPLE)

# Files that are not one well-formed member, and what the check says.
BAD_FILES = [
    ("empty file", b"", "unexpected end of file"),
    ("nine bytes", GOOD[:9], "unexpected end of file"),
    ("header only", GOOD[:10], "incomplete deflate stream"),
    ("first byte not 0x1F", b"\x1e" + GOOD[1:], "invalid gzip header"),
    ("reserved flag 0x20", GOOD[:3] + b"\x20" + GOOD[4:], "invalid gzip header"),
    ("method not 8", GOOD[:2] + b"\x07" + GOOD[3:], "invalid gzip header"),
    ("cut inside the deflate data", GOOD[:40], "incomplete deflate stream"),
    ("cut by its last byte", GOOD[:-1], "unexpected end of file"),
    ("trailer CRC-32 altered", with_le32(GOOD, len(GOOD) - 8, 1), CHECKSUM),
    ("ISIZE off by one", with_le32(GOOD, len(GOOD) - 4, 1), CHECKSUM),
    ("reserved block type 3", PACKED_HEADER + b"\x07" + bytes(20), "corrupt deflate stream"),
    ("two members", GOOD + member(b"second"), "bytes follow the member's trailer"),
    ("one zero byte after the trailer", GOOD + b"\0", "1 bytes follow the member's trailer"),
]


class Scratch(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.dir = self._dir.name

    def tearDown(self):
        self._dir.cleanup()

    def file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()


class Pack(Scratch):
    INPUTS = [
        ("empty", b""),
        ("one byte", b"a"),
        ("text", b"Korvane plays music.\n" * 500),
        ("random, over 64 KiB", bytes(random.Random(1).getrandbits(8) for _ in range(70000))),
        ("3 MiB of zeros", bytes(3 << 20)),
        ("mixed", SAMPLE),
    ]

    def test_packs_one_member_with_the_fixed_header_and_trailer(self):
        for name, data in self.INPUTS:
            with self.subTest(input=name):
                src = self.file("in.bin", data)
                out = os.path.join(self.dir, "out.gz")
                r = run("pack", src, out)
                self.assertEqual(0, r.returncode, r.stderr)
                packed = self.read("out.gz")
                self.assertEqual(PACKED_HEADER, packed[:10])
                self.assertEqual(struct.pack("<II", zlib.crc32(data), len(data)), packed[-8:])
                self.assertEqual(data, gzip.decompress(packed))
                # Exactly one member: raw inflation of the body ends at the trailer.
                d = zlib.decompressobj(-15)
                self.assertEqual(data, d.decompress(packed[10:]))
                self.assertEqual(packed[-8:], d.unused_data)

    def test_uses_libdeflates_densest_level(self):
        src = self.file("in.bin", SAMPLE)
        out = os.path.join(self.dir, "out.gz")
        self.assertEqual(0, run("pack", src, out).returncode)
        packed = self.read("out.gz")
        self.assertEqual(libdeflate_level_12(SAMPLE), packed[10:-8])
        self.assertLess(len(packed), len(member(SAMPLE)))  # denser than zlib's level 1

    def test_missing_input_fails_and_writes_nothing(self):
        out = os.path.join(self.dir, "out.gz")
        r = run("pack", os.path.join(self.dir, "absent.exe"), out)
        self.assertNotEqual(0, r.returncode)
        self.assertIn("absent.exe", r.stderr)
        self.assertEqual([], os.listdir(self.dir))

    def test_creates_the_output_folder(self):
        src = self.file("in.bin", b"x")
        out = os.path.join(self.dir, "new", "folder", "out.gz")
        self.assertEqual(0, run("pack", src, out).returncode)
        self.assertEqual(b"x", gzip.decompress(self.read(os.path.join("new", "folder", "out.gz"))))


class Check(Scratch):
    def test_reports_sizes_and_crc_of_a_good_payload(self):
        path = self.file("good.gz", GOOD)
        r = run("check", path)
        self.assertEqual(0, r.returncode, r.stderr)
        want = "payload %s: %d bytes compressed, %d bytes decoded, CRC-32 0x%08X\n" % (
            path, len(GOOD), len(SAMPLE), zlib.crc32(SAMPLE))
        self.assertEqual(want, r.stdout)

    def test_accepts_members_made_by_gzip_and_python(self):
        plain = self.file("plain.bin", SAMPLE)
        gnu = subprocess.run(["gzip", "-c", plain], capture_output=True, check=True).stdout
        gnu_nameless = subprocess.run(["gzip", "-n", "-9", "-c", plain], capture_output=True,
                                      check=True).stdout
        members = [("gzip with a name", gnu), ("gzip -n", gnu_nameless),
                   ("Python gzip", gzip.compress(SAMPLE, mtime=12345))]
        for name, data in members:
            with self.subTest(member=name):
                r = run("check", self.file("m.gz", data))
                self.assertEqual(0, r.returncode, r.stderr)
                self.assertIn("%d bytes decoded" % len(SAMPLE), r.stdout)

    def test_rejects_what_is_not_one_well_formed_member(self):
        for name, data, reason in BAD_FILES:
            with self.subTest(file=name):
                path = self.file("bad.gz", data)
                r = run("check", path)
                self.assertEqual(1, r.returncode, name)
                self.assertIn("bad payload " + path, r.stderr)
                self.assertIn(reason, r.stderr)
                self.assertEqual("", r.stdout)

    def test_stops_at_the_first_bad_file_among_several(self):
        good = self.file("good.gz", GOOD)
        bad = self.file("bad.gz", GOOD[:-1])
        r = run("check", good, bad, good)
        self.assertEqual(1, r.returncode)
        self.assertEqual(1, len(re.findall("bytes decoded", r.stdout)))
        self.assertIn("bad payload " + bad, r.stderr)

    def test_missing_file_fails(self):
        r = run("check", os.path.join(self.dir, "absent.gz"))
        self.assertEqual(1, r.returncode)
        self.assertIn("absent.gz", r.stderr)


class DamageCrc(Scratch):
    def test_changes_only_the_trailer_crc(self):
        src = self.file("good.gz", GOOD)
        out = os.path.join(self.dir, "damaged.gz")
        self.assertEqual(0, run("damage-crc", src, out).returncode)
        damaged = self.read("damaged.gz")
        self.assertEqual(len(GOOD), len(damaged))
        differ = [i for i in range(len(GOOD)) if GOOD[i] != damaged[i]]
        self.assertEqual([len(GOOD) - 8], differ)
        r = run("check", out)
        self.assertEqual(1, r.returncode)
        self.assertIn(CHECKSUM, r.stderr)

    def test_refuses_a_bad_input(self):
        src = self.file("bad.gz", GOOD + GOOD)
        out = os.path.join(self.dir, "damaged.gz")
        self.assertEqual(1, run("damage-crc", src, out).returncode)
        self.assertFalse(os.path.exists(out))


class Usage(unittest.TestCase):
    def test_unknown_or_incomplete_commands_fail(self):
        for args in ([], ["pack"], ["pack", "a"], ["check"], ["unpack", "a", "b"]):
            with self.subTest(args=args):
                r = run(*args)
                self.assertEqual(1, r.returncode)
                self.assertIn("usage:", r.stderr)


if __name__ == "__main__":
    TOOL = sys.argv[1]
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[2:]])

#!/usr/bin/python3
"""The installer's stub: its size without the payloads and the icon images.

    stub_size.py [--max BYTES] INSTALLER APP_EXE_GZ WEBVIEW_LOADER_GZ

    stub = size of INSTALLER
         - size of APP_EXE_GZ - size of WEBVIEW_LOADER_GZ  (the embedded gzip files)
         - size of every RT_ICON resource's data in INSTALLER  (the icon images)

Prints one line, e.g.
    korvane_setup.exe: stub 243,622 bytes (file 366,080 - payloads 100,785 - icon images 21,673)
and with --max exits 1 when the stub is larger than BYTES. Needs only Python.
"""

import argparse
import os
import struct
import sys

RT_ICON = 3
RESOURCE_DIRECTORY = 2  # index in the optional header's data directories


class PeError(Exception):
    pass


def icon_image_bytes(image: bytes) -> int:
    """Sum of the data sizes of the RT_ICON resources of a PE32+ image."""
    if image[:2] != b"MZ":
        raise PeError("not an MZ executable")
    (pe_offset,) = struct.unpack_from("<I", image, 0x3C)
    if image[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    coff = pe_offset + 4
    sections, optional_size = struct.unpack_from("<H12xH", image, coff + 2)
    optional = coff + 20
    (magic,) = struct.unpack_from("<H", image, optional)
    if magic != 0x20B:
        raise PeError("not PE32+")
    (directories,) = struct.unpack_from("<I", image, optional + 108)
    if directories <= RESOURCE_DIRECTORY:
        return 0
    rsrc_rva, rsrc_size = struct.unpack_from("<II", image, optional + 112 + 8 * RESOURCE_DIRECTORY)
    if rsrc_size == 0:
        return 0
    table = optional + optional_size

    def file_offset(rva: int) -> int:
        for i in range(sections):
            vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", image, table + 40 * i + 8)
            if vaddr <= rva < vaddr + max(vsize, raw_size):
                return raw_ptr + rva - vaddr
        raise PeError("RVA 0x%x is in no section" % rva)

    root = file_offset(rsrc_rva)

    def entries(directory: int):
        named, ids = struct.unpack_from("<HH", image, root + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", image, root + directory + 16 + 8 * i)
            yield name, target

    def leaf_sizes(target: int) -> int:
        if target & 0x80000000:  # a subdirectory
            return sum(leaf_sizes(t) for _, t in entries(target & 0x7FFFFFFF))
        _, size = struct.unpack_from("<II", image, root + target)  # IMAGE_RESOURCE_DATA_ENTRY
        return size

    return sum(leaf_sizes(target) for name, target in entries(0) if name == RT_ICON)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max", type=int, help="fail when the stub is larger than this many bytes")
    parser.add_argument("installer")
    parser.add_argument("payloads", nargs=2, metavar="PAYLOAD_GZ")
    args = parser.parse_args()
    with open(args.installer, "rb") as f:
        image = f.read()
    try:
        icons = icon_image_bytes(image)
    except (PeError, struct.error) as e:
        print("stub_size.py: %s: %s" % (args.installer, e), file=sys.stderr)
        return 2
    payloads = sum(os.path.getsize(p) for p in args.payloads)
    stub = len(image) - payloads - icons
    print("%s: stub %s bytes (file %s - payloads %s - icon images %s)" % (
        os.path.basename(args.installer), format(stub, ","), format(len(image), ","),
        format(payloads, ","), format(icons, ",")))
    if args.max is not None and stub > args.max:
        print("stub_size.py: the stub is %s bytes over the limit of %s" % (
            format(stub - args.max, ","), format(args.max, ",")), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

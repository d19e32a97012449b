#!/usr/bin/env python3
"""Renders the icon's SVG at the five sizes of the icon group and assembles
the .ico: each image a PNG (RGBA, 8 bits a channel), 32 bpp, one plane,
colour count 0, in the order 16, 32, 48, 128, 256.

    make_icon.py --rsvg-convert PATH --svg korvane-icon.svg --out korvane.ico

The PNGs are kept beside the .ico (korvane-<size>.png). Only the IHDR, IDAT
and IEND chunks are kept, so reruns with the same tools give the same bytes.
"""

import argparse
import os
import struct
import subprocess
import sys
import zlib

SIZES = (16, 32, 48, 128, 256)
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
KEPT_CHUNKS = (b"IHDR", b"IDAT", b"IEND")


class IconError(Exception):
    pass


def chunks(png):
    """Yields (type, data) of each chunk, checking the framing and CRCs."""
    if not png.startswith(PNG_SIGNATURE):
        raise IconError("not a PNG file")
    at = len(PNG_SIGNATURE)
    while at < len(png):
        if at + 12 > len(png):
            raise IconError("PNG chunk cut short")
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        data = png[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", png[at + 8 + length:at + 12 + length])
        if len(data) != length or zlib.crc32(kind + data) != crc:
            raise IconError("damaged PNG chunk " + kind.decode("latin-1"))
        yield kind, data
        at += 12 + length


def strip_png(png, size):
    """The PNG with only its image chunks; checks size, depth and colour type."""
    out = bytearray(PNG_SIGNATURE)
    for kind, data in chunks(png):
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", data[:10])
            if (width, height) != (size, size):
                raise IconError("rendered %dx%d, wanted %dx%d" % (width, height, size, size))
            if (depth, colour) != (8, 6):
                raise IconError("rendered bit depth %d, colour type %d; wanted RGBA 8-bit" % (depth, colour))
        if kind in KEPT_CHUNKS:
            out += struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return bytes(out)


def build_ico(images):
    """An .ico of (size, png) pairs, in the order given."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    for size, png in images:
        dim = 0 if size == 256 else size  # 0 stands for 256 in the directory
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    return header + entries + b"".join(png for _, png in images)


def render(rsvg_convert, svg, size):
    result = subprocess.run([rsvg_convert, "--width", str(size), "--height", str(size),
                             "--format", "png", svg], capture_output=True, check=False)
    if result.returncode != 0:
        raise IconError("rsvg-convert failed at %d px: %s" % (size, result.stderr.decode(errors="replace")))
    return strip_png(result.stdout, size)


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.replace(path + ".part", path)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rsvg-convert", default="rsvg-convert")
    parser.add_argument("--svg", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    try:
        images = [(size, render(args.rsvg_convert, args.svg, size)) for size in SIZES]
    except IconError as e:
        print("make_icon.py: %s: %s" % (args.svg, e), file=sys.stderr)
        return 1
    folder = os.path.dirname(os.path.abspath(args.out))
    os.makedirs(folder, exist_ok=True)
    for size, png in images:
        write_if_changed(os.path.join(folder, "korvane-%d.png" % size), png)
    write_if_changed(args.out, build_ico(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/python3
"""The stub size of a built installer: what the program itself takes.

    stub = installer file size - sizes of the two embedded gzip files
                               - bytes of the icon images (RT_ICON data)

usage: stub_size.py <installer.exe> <icon.ico> <payload.gz>...
"""

import os
import struct
import sys


def icon_image_bytes(ico_path: str) -> int:
    """The bytes of all images of an .ico file (ICONDIRENTRY dwBytesInRes)."""
    with open(ico_path, "rb") as f:
        data = f.read()
    _reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1:
        raise ValueError(f"{ico_path}: not an icon file")
    return sum(struct.unpack_from("<I", data, 6 + 16 * i + 8)[0] for i in range(count))


def stub_size(installer: str, payloads: list[str], icon: str) -> int:
    """The installer's size less its embedded payload files and icon images."""
    return (os.path.getsize(installer) - sum(os.path.getsize(p) for p in payloads)
            - icon_image_bytes(icon))


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    print(stub_size(sys.argv[1], sys.argv[3:], sys.argv[2]))

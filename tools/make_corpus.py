#!/usr/bin/python3
"""Writes real x86-64 machine code of a payload's size: the decoder benchmark's
corpus and the application-sized test payload.

    make_corpus.py OUTPUT [--size BYTES] [--dll-dir DIR] [--strip PROGRAM] [--head FILE]

The bytes: Wine's own x86-64 PE DLLs (Debian's wine64 package, whose
dependency libwine installs them in DLL_DIR), taken in sorted order of file
name, each copied and stripped of its debug sections (strip --strip-debug),
concatenated and cut to exactly BYTES (default 39,492,765, the application
payload's size). With --head, FILE's bytes come first: a program followed by
the corpus as data after its image, which Windows does not load, is still
that program (the application-sized test payload is the stand-in Korvane.exe
so). The result begins with "MZ" and is the same on every run
with the same Wine package (the PE time stamps that strip writes are 0). Written beside OUTPUT and renamed, so that an
interrupted run leaves no partial file.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

DLL_DIR = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
SIZE = 39_492_765


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--size", type=int, default=SIZE)
    parser.add_argument("--dll-dir", default=DLL_DIR)
    parser.add_argument("--strip", default="x86_64-w64-mingw32-strip")
    parser.add_argument("--head", help="a file whose bytes come first")
    args = parser.parse_args()

    names = sorted(n for n in os.listdir(args.dll_dir) if n.endswith(".dll")) \
        if os.path.isdir(args.dll_dir) else []
    if not names:
        print("make_corpus.py: no DLLs in %s (install Debian's wine64)" % args.dll_dir, file=sys.stderr)
        return 1
    out = bytearray()
    if args.head:
        with open(args.head, "rb") as f:
            out += f.read()
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "copy.dll")
        for name in names:
            shutil.copyfile(os.path.join(args.dll_dir, name), copy)
            # strip stamps each file it writes; SOURCE_DATE_EPOCH makes the stamp 0.
            subprocess.run([args.strip, "--strip-debug", copy], check=True,
                           env={**os.environ, "SOURCE_DATE_EPOCH": "0"})
            with open(copy, "rb") as f:
                out += f.read()
            if len(out) >= args.size:
                break
    if len(out) < args.size:
        print("make_corpus.py: the DLLs in %s hold only %d bytes" % (args.dll_dir, len(out)), file=sys.stderr)
        return 1
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    part = args.output + ".part"
    with open(part, "wb") as f:
        f.write(out[:args.size])
    os.replace(part, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Writes gzip members made by real tools for the decoder's tests.

usage: make_tool_members.py GZIP OUT_DIR

OUT_DIR receives input.bin and its members: gzip_named.gz (GNU gzip, name and
time stored), gzip_nameless.gz (gzip -n), python_named.gz (Python's GzipFile
with a file name and time) and python_plain.gz (gzip.compress, level 1).
"""
import gzip
import os
import random
import subprocess
import sys


def sample() -> bytes:
    rng = random.Random(20240611)
    parts = []
    for i in range(4000):
        parts.append(f"line {i}: korvane plays {rng.choice(['flac', 'mp3', 'ogg'])}\n".encode())
        if i % 7 == 0:
            parts.append(bytes(rng.getrandbits(8) for _ in range(64)))
        if i % 50 == 0:
            parts.append(b"\0" * 300)
    return b"".join(parts)


def main() -> None:
    gzip_tool, out_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    data = sample()
    source = os.path.join(out_dir, "input.bin")
    with open(source, "wb") as f:
        f.write(data)
    for name, args in (("gzip_named.gz", ["-c"]), ("gzip_nameless.gz", ["-n", "-c"])):
        with open(os.path.join(out_dir, name), "wb") as f:
            subprocess.run([gzip_tool, *args, source], stdout=f, check=True)
    with open(os.path.join(out_dir, "python_named.gz"), "wb") as raw:
        with gzip.GzipFile(filename="input.bin", mode="wb", fileobj=raw, mtime=1700000000) as f:
            f.write(data)
    with open(os.path.join(out_dir, "python_plain.gz"), "wb") as f:
        f.write(gzip.compress(data, compresslevel=1, mtime=0))


if __name__ == "__main__":
    main()

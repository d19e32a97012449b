"""Writes an application-sized stand-in payload: the stand-in Korvane.exe
followed by data appended after its image (which Windows does not load) up
to 39,492,765 bytes, mixing incompressible data, code-like repeats and zero
padding, so that it packs at level 1 to roughly a third, as a real build
does. It is a real application, so the build's payload checks pass.
Deterministic: the same bytes on every run for the same stand-in.

usage: make_large_app.py <stand-in Korvane.exe> <output>"""

import os
import random
import sys

SIZE = 39_492_765


def main() -> None:
    rng = random.Random(20261208)
    code = bytes(rng.randrange(256) for _ in range(64)) * 256
    with open(sys.argv[1], "rb") as f:
        out = bytearray(f.read())
    while len(out) < SIZE:
        kind = rng.random()
        if kind < 0.30:
            out += rng.randbytes(4096)
        elif kind < 0.85:
            start = rng.randrange(len(code) - 4096)
            out += code[start:start + 4096]
        else:
            out += bytes(4096)
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[2])), exist_ok=True)
    with open(sys.argv[2], "wb") as f:
        f.write(out[:SIZE])


if __name__ == "__main__":
    main()

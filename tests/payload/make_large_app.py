"""Writes an application-sized stand-in payload: 39,492,765 bytes that begin
with "MZ" and mix incompressible data, code-like repeats and zero padding,
so that it packs at level 1 to roughly a third, as a real build does.
Deterministic: the same bytes on every run."""

import os
import random
import sys

SIZE = 39_492_765


def main() -> None:
    rng = random.Random(20261208)
    code = bytes(rng.randrange(256) for _ in range(64)) * 256
    out = bytearray(b"MZ")
    while len(out) < SIZE:
        kind = rng.random()
        if kind < 0.30:
            out += rng.randbytes(4096)
        elif kind < 0.85:
            start = rng.randrange(len(code) - 4096)
            out += code[start:start + 4096]
        else:
            out += bytes(4096)
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[1])), exist_ok=True)
    with open(sys.argv[1], "wb") as f:
        f.write(out[:SIZE])


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Writes <installer>.sha256 (sha256sum's format) beside a built installer and
prints one summary of the build: version, sizes, payloads, signature.

usage: release_summary.py --installer <exe> --version <v> --signed yes|no --app <gz> --app-source <file>
           --loader <gz> --loader-source <file> --payload-tool <payload_tool>
"""

import argparse
import hashlib
import os
import subprocess
import zlib


def decoded_facts(gz_path: str) -> tuple[int, int]:
    """Decoded size and CRC-32 of the gzip member in `gz_path`."""
    inflater = zlib.decompressobj(31)  # gzip framing, trailer checked
    size = crc = 0
    with open(gz_path, "rb") as f:
        while chunk := f.read(1 << 20):
            out = inflater.decompress(chunk)
            size += len(out)
            crc = zlib.crc32(out, crc)
    out = inflater.flush()
    return size + len(out), zlib.crc32(out, crc)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("installer", "version", "signed", "app", "app-source", "loader",
                   "loader-source", "payload-tool"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()

    with open(args.installer, "rb") as f:
        digest = hashlib.file_digest(f, "sha256").hexdigest()
    name = os.path.basename(args.installer)
    checksum_file = args.installer + ".sha256"
    with open(checksum_file, "w", encoding="utf-8") as f:
        f.write(f"{digest}  {name}\n")

    size = os.path.getsize(args.installer)
    # The program itself: less the embedded gzip files and the icon images.
    measured = subprocess.run([args.payload_tool, "stub-size", args.installer, args.app, args.loader],
                              check=True, capture_output=True, text=True)
    stub = int(measured.stdout.split()[0])
    lines = [f"{name} {args.version}: {size:,} bytes, stub {stub:,} bytes, "
             + ("signed" if args.signed == "yes" else "unsigned")]
    for installed, gz, source in (("Korvane.exe", args.app, args.app_source),
                                  ("WebView2Loader.dll", args.loader, args.loader_source)):
        decoded, crc = decoded_facts(gz)
        lines.append(f"  {installed}: {source} ({os.path.getsize(gz):,} bytes packed, "
                     f"{decoded:,} bytes decoded, CRC-32 0x{crc:08X})")
    lines.append(f"  SHA-256 {digest} ({checksum_file})")
    print("\n".join(lines))


if __name__ == "__main__":
    main()

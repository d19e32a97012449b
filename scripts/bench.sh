#!/usr/bin/env bash
# The gzip decoder's benchmark where the installer runs, and natively: gunzip
# against zlib's one-shot raw inflate + crc32, built for Linux (Release) and
# for Windows (MinSizeRel and the win32 thread model, as the installer; run
# under Wine), on real x86-64 machine code packed at zlib's level 1 and by
# the packer's default (libdeflate, level 12). Prints one table; figures only,
# no test. Everything goes to build/bench; the corpus is made once and kept.
# usage: scripts/bench.sh [RUNS]   (default 9)
set -euo pipefail
runs=${1:-9}
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/bench
cd "$root"

bash scripts/deps.sh build
# Wine runs the Windows build; the corpus comes from wine64's DLLs.
missing=()
for p in wine wine64; do
  [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true) == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

corpus=$out/corpus.bin
[[ -f $corpus ]] || python3 tools/make_corpus.py "$corpus"

echo "Building the benchmark (native and Windows) and the packer..."
cmake -S . -B "$out/native" -DCMAKE_BUILD_TYPE=Release -DKORVANE_BENCH=ON -DKORVANE_TESTS=OFF >/dev/null
cmake --build "$out/native" -j"$(nproc)" --target korvane_gunzip_bench >/dev/null
cmake -S . -B "$out/windows" --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DKORVANE_BENCH=ON -DKORVANE_TESTS=OFF >/dev/null
cmake --build "$out/windows" -j"$(nproc)" --target korvane_gunzip_bench >/dev/null
cmake -S tools -B "$out/tools" -DCMAKE_BUILD_TYPE=Release -DKORVANE_SOURCE_DIR="$root" >/dev/null
cmake --build "$out/tools" -j"$(nproc)" --target payload_tool >/dev/null

echo "Packing the corpus..."
level1=$out/corpus-level1.gz
default=$out/corpus-default.gz
# zlib's level 1 behind the 10-byte header that packed payloads had before.
python3 -c '
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
c = zlib.compressobj(1, zlib.DEFLATED, -15, 8)
body = c.compress(data) + c.flush()
open(sys.argv[2], "wb").write(bytes([0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 0]) + body +
                              struct.pack("<II", zlib.crc32(data), len(data)))' "$corpus" "$level1"
pack_start=$EPOCHREALTIME
"$out/tools/payload_tool" pack "$corpus" "$default"
pack_end=$EPOCHREALTIME

# A Wine prefix of our own, removed at the end.
WINEPREFIX=$(mktemp -d /tmp/korvane-bench-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT

wineboot --init >/dev/null 2>&1 || true

results=$out/results.txt
: >"$results"
for platform in native wine; do
  for member in level1 default; do
    file=$out/corpus-$member.gz
    if [[ $platform == native ]]; then
      bench=("$out/native/bench/korvane_gunzip_bench")
    else
      bench=(wine "$out/windows/bench/korvane_gunzip_bench.exe")
      file="Z:$file"
    fi
    echo "Running: $platform, $member..."
    {
      echo "$platform $member $("${bench[@]}" time "$file" "$runs" | tr -d '\r')"
      echo "$platform $member $("${bench[@]}" memory gunzip "$file" | tr -d '\r')"
      echo "$platform $member $("${bench[@]}" memory zlib "$file" | tr -d '\r')"
    } >>"$results"
  done
done

python3 - "$results" "$corpus" "$level1" "$default" "$pack_start" "$pack_end" "$runs" <<'PY'
import os, sys
results, corpus, level1, default, pack_start, pack_end, runs = sys.argv[1:]
pack_seconds = float(pack_end) - float(pack_start)
rows = {}
for line in open(results):
    platform, member, kind, *rest = line.split()
    fields = dict(f.split("=") for f in rest if "=" in f)
    key = (platform, member)
    rows.setdefault(key, {})
    if kind == "time":
        rows[key].update(gunzip_ms=float(fields["gunzip_ms"]), zlib_ms=float(fields["zlib_ms"]),
                         ratio=float(fields["ratio"]))
    else:
        rows[key][rest[0] + "_growth"] = int(fields["growth"])
        rows[key]["decoded"] = int(fields["decoded"])
size1, size12 = os.path.getsize(level1), os.path.getsize(default)
MiB = 1 << 20
print()
print("Corpus: %s bytes of Wine's x86-64 DLLs (debug sections stripped), %s interleaved runs."
      % (format(os.path.getsize(corpus), ","), runs))
print("Packed: level 1 (zlib) %s bytes; default (libdeflate 12) %s bytes = %.3f x level 1, packed in %.1f s."
      % (format(size1, ","), format(size12, ","), size12 / size1, pack_seconds))
print("Time: gunzip / zlib one-shot raw inflate + crc32 into a buffer of the decoded size (median of the")
print("per-run ratios). Memory: growth of the resident set while decoding, beyond the input's pages (Wine:")
print("peak working set, GetProcessMemoryInfo; native: VmHWM), as a multiple of the decoded size.")
print("Targets: time <= 1.05; gunzip's growth <= decoded + 2 MiB.")
print()
header = ("platform", "member", "gunzip ms", "zlib ms", "time", "gunzip growth", "zlib growth", "targets")
table = [header]
for (platform, member), r in rows.items():
    d = r["decoded"]
    g, z = r["gunzip_growth"], r["zlib_growth"]
    time_ok = r["ratio"] <= 1.05
    memory_ok = g <= d + 2 * MiB
    verdict = "met" if time_ok and memory_ok else "NOT met (%s)" % ", ".join(
        w for w, ok in (("time", time_ok), ("memory", memory_ok)) if not ok)
    table.append((platform if platform == "native" else "Wine", "level 1" if member == "level1" else "default",
                  "%.1f" % r["gunzip_ms"], "%.1f" % r["zlib_ms"], "%.3f" % r["ratio"],
                  "%.3f (%+.2f MiB)" % (g / d, (g - d) / MiB), "%.3f (%+.2f MiB)" % (z / d, (z - d) / MiB),
                  verdict))
widths = [max(len(row[i]) for row in table) for i in range(len(header))]
for row in table:
    print("  ".join(cell.ljust(w) if i < 2 or i == len(row) - 1 else cell.rjust(w)
                    for i, (cell, w) in enumerate(zip(row, widths))).rstrip())
PY

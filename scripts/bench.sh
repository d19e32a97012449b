#!/usr/bin/env bash
# Builds the benchmarks optimised (Release, build/bench) and runs the gzip
# decoder's: gunzip against zlib's one-shot raw inflate + crc32.
# usage: scripts/bench.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVANE_BENCH=ON -DKORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target korvane_gunzip_bench
"$build/bench/korvane_gunzip_bench" "$@"

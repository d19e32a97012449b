#!/usr/bin/env bash
# What flushing each new file (FlushFileBuffers before its rename) would add
# to the silent install of the application-sized installer, under Wine:
# korvane_flush_bench's write with and without the flush, and the median of
# RUNS silent installs of korvane_setup_large.exe. Figures only, no test.
# Needs the test build (scripts/test.sh, or cmake --preset windows-tests).
# usage: scripts/bench_flush.sh [RUNS]   (default 9)
set -euo pipefail
runs=${1:-9}
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/bench
cd "$root"
win=$root/build/windows
[[ -f $win/korvane_setup_large.exe ]] || { echo "build the tests first (cmake --preset windows-tests)" >&2; exit 2; }

cmake -S . -B "$out/windows" --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DKORVANE_BENCH=ON -DKORVANE_TESTS=OFF >/dev/null
cmake --build "$out/windows" -j"$(nproc)" --target korvane_flush_bench >/dev/null

work=$(mktemp -d /tmp/korvane-flush.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
wineboot -i >/dev/null 2>&1
app=$win/tests/payload/large/Korvane.exe
size=$(stat -c %s "$app")
wine "$out/windows/bench/korvane_flush_bench.exe" "Z:${work//\//\\}" "$size" "$runs"

# No powershell anywhere: the installer writes the entry itself; the
# application it starts is stopped between runs.
mkdir -p "$work/local" "$work/empty"
times=()
for ((i = 0; i < runs; i++)); do
  start=$(date +%s.%N)
  wine "$win/tests/doubles/launcher.exe" --set "LOCALAPPDATA=Z:${work//\//\\}\\local" \
    --set "PATH=Z:${work//\//\\}\\empty" --no-std-handles -- "$win/korvane_setup_large.exe" --silent
  times+=("$(echo "$(date +%s.%N) - $start" | bc)")
  wineserver -k; wineserver -w
done
printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" '{a[NR]=$1} END {printf "silent install runs=%d median_s=%.3f\n", n, a[int((n+1)/2)]}'

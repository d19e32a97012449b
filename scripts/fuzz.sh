#!/usr/bin/env bash
# Fuzzes gunzip with libFuzzer (clang-16, ASan and UBSan) for a bounded time.
# usage: scripts/fuzz.sh [SECONDS]   (default 60)
# Builds into build/fuzz, seeds build/fuzz/corpus with members made by the
# seed generator, GNU gzip and Python, and fails on any crash or broken invariant.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++-16 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

corpus=$build/corpus
mkdir -p "$corpus"
"$build/gunzip_fuzz_seeds" "$corpus"
sample=$build/sample.txt
seq 1 400 | sed 's/^/korvane sample line /' >"$sample"
gzip -c "$sample" >"$corpus/tool_gzip_named.gz"
gzip -n -c "$sample" >"$corpus/tool_gzip_nameless.gz"
python3 -c 'import gzip, sys; sys.stdout.buffer.write(gzip.compress(open(sys.argv[1], "rb").read(), mtime=0))' \
  "$sample" >"$corpus/tool_python.gz"

# A crash, a leak, a sanitizer report or an invariant's abort ends the run
# with a non-zero status and leaves the input as build/fuzz/crash-*.
log=$build/fuzz.log
if ! "$build/gunzip_fuzz" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
  -print_final_stats=1 -artifact_prefix="$build/" "$corpus" >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
# The run's figures; the whole log stays in build/fuzz/fuzz.log.
grep -E '^(Done|stat::)' "$log"

#!/usr/bin/env bash
# Builds build/windows/korvane_setup.exe. Extra arguments go to CMake's
# configure step, e.g. -DKORVANE_APP_EXE=/path/to/Korvane.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake --preset windows "$@"
cmake --build --preset windows --target korvane_setup -j"$(nproc)"
ls -l build/windows/korvane_setup.exe

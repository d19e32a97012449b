#!/usr/bin/env bash
# Builds build/windows/korvane_setup.exe (no tests: they need GoogleTest and
# are configured by scripts/test.sh). Extra arguments go to CMake's configure
# step, e.g. -DKORVANE_APP_EXE=/path/to/Korvane.exe. A relative file named
# by one of the file options below is taken from the folder this script was
# started in; the build folder's CMake cache keeps every -D option for
# later builds (see README.md).
set -euo pipefail
invoked_in=$PWD
cd "$(dirname "$0")/.."

file_options='KORVANE_APP_EXE|KORVANE_APP_EXE_GZ|KORVANE_WEBVIEW_LOADER_DLL|KORVANE_WEBVIEW_LOADER_GZ|KORVANE_SIGN_PKCS12|KORVANE_SIGN_PASSWORD_FILE'
args=()
after_d=false  # the previous argument was a lone -D
for arg in "$@"; do
  prefix=-D
  if $after_d; then prefix=""; fi
  if [[ "$arg" =~ ^$prefix($file_options)(:[A-Z]+)?=(.+)$ && "${BASH_REMATCH[3]}" != /* ]]; then
    arg="$prefix${BASH_REMATCH[1]}${BASH_REMATCH[2]}=$invoked_in/${BASH_REMATCH[3]}"
  fi
  after_d=false
  if [[ "$arg" == -D ]]; then after_d=true; fi
  args+=("$arg")
done

bash scripts/deps.sh build
cmake --preset windows "${args[@]}"
cmake --build --preset windows --target korvane_setup -j"$(nproc)"

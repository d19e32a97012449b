#!/usr/bin/env bash
# Runs every test: the pure logic natively under sanitizers, the Windows
# build under Wine (unit tests, the Win32 layer, checks of the built .exe),
# the release checks (a second build compared byte for byte, signed), a
# bounded fuzzing run of the gzip decoder, and the end-to-end tests of the
# installer (the signed one too) with real message boxes on virtual
# displays, in three workers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
jobs=$(nproc)
if [[ "${KORVANE_REQUIRE_ENGINE:-}" == 1 ]] && ! command -v dotnet >/dev/null; then
  echo "no .NET SDK (dotnet) on PATH: the PowerShell engine and journey tests cannot run" >&2
  exit 1
fi

# Each part says what it took when the next one starts; the end, the total.
part_start=$SECONDS
part_name=
step() {
  [[ -z "$part_name" ]] || printf '==== %s: %d s ====\n' "$part_name" $((SECONDS - part_start))
  part_name=$*
  part_start=$SECONDS
  printf '\n==== %s ====\n' "$*"
}
total_start=$SECONDS

# The unit tests run once, under the sanitizers; that build's script_tool
# serves the engine tests too.
step "native build and unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j"$jobs"
ctest --preset native-asan -j"$jobs"

step "Windows build with the tests"
cmake --preset windows-tests >/dev/null
cmake --build --preset windows-tests -j"$jobs"

# A Wine prefix of our own, so that runs neither disturb nor depend on the
# machine's; removed at the end.
WINEPREFIX=$(mktemp -d /tmp/korvane-wine.XXXXXX)
e2e_temp=$(mktemp -d /tmp/korvane-e2e.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
powershells_pid=
powershells_log=
release_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$e2e_temp" "$powershells_log"
  for pid in $powershells_pid $release_pid; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# PowerShell 7.6.10, as a .NET tool in the build tree, runs the installer's
# scripts in the engine tests; a Windows build of it (PowerShell's console
# host, published self-contained from NuGet, rebuilt only when its project
# changes) runs the journey tests under Wine. Both are fetched and built in
# the background while the Windows tests run under Wine, which leave the
# processors idle much of the time. CI (KORVANE_REQUIRE_ENGINE=1) never goes
# without them.
engine=()
powershells_log=$(mktemp /tmp/korvane-powershells.XXXXXX)
if command -v dotnet >/dev/null; then
  (
    set -e
    pwsh_version=7.6.10
    pwsh=build/tools/pwsh/pwsh
    if [[ "$("$pwsh" -NoProfile -Command '$PSVersionTable.PSVersion.ToString()' 2>/dev/null)" != "$pwsh_version" ]]; then
      rm -rf build/tools/pwsh
      dotnet tool install PowerShell --version "$pwsh_version" --tool-path build/tools/pwsh
    fi
    winps=build/tools/windows-powershell
    winps_stamp=$(cat tests/powershell/* | sha256sum | cut -d' ' -f1)
    if [[ ! -f "$winps/powershell.exe" || "$(cat "$winps.stamp" 2>/dev/null)" != "$winps_stamp" ]]; then
      echo "building the Windows PowerShell for the journey tests"
      rm -rf "$winps" "$winps.stamp"
      DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 dotnet publish tests/powershell/powershell.csproj \
        -c Release --artifacts-path build/tools/windows-powershell-work -o "$winps" -v minimal
      echo "$winps_stamp" >"$winps.stamp"
    fi
  ) >"$powershells_log" 2>&1 &
  powershells_pid=$!
  engine=(--pwsh build/tools/pwsh/pwsh --windows-powershell build/tools/windows-powershell/powershell.exe)
elif [[ "${KORVANE_REQUIRE_ENGINE:-}" == 1 ]]; then
  echo "no .NET SDK (dotnet) on PATH: the PowerShell engine and journey tests cannot run" >&2
  exit 1
else
  echo "PowerShell engine tests skipped: no .NET SDK (dotnet) on PATH; install the .NET SDK 10 to run them"
  echo "journey tests skipped: no .NET SDK (dotnet) on PATH to build their Windows PowerShell; install the .NET SDK 10 to run them"
fi

# The release checks build in the background meanwhile too; their output
# follows the Windows tests'.
release_log=$(mktemp /tmp/korvane-release-log.XXXXXX)
bash scripts/release_check.sh >"$release_log" 2>&1 &
release_pid=$!

# One after the other: started together in a new prefix, Wine's server meets
# itself, and a window needs the display of the Wine desktop already running.
step "Windows tests under Wine; the release checks beside them: reproducible bytes, signing"
ctest --preset windows
release_status=0
wait "$release_pid" || release_status=$?
release_pid=
cat "$release_log"
rm -f "$release_log"
((release_status == 0)) || { echo "the release checks failed" >&2; exit 1; }

step "fuzzing the gzip decoder"
bash scripts/fuzz.sh "${KORVANE_FUZZ_SECONDS:-20}"

if [[ -n "$powershells_pid" ]]; then
  step "PowerShell 7.6.10 for the engine tests; the Windows PowerShell for the journey tests"
  powershells_status=0
  wait "$powershells_pid" || powershells_status=$?
  powershells_pid=
  cat "$powershells_log"
  ((powershells_status == 0)) || { echo "the PowerShells could not be had" >&2; exit 1; }
fi

# Three workers, each with its own Wine prefix and display (the tests wait on
# Wine much of the time, so a third keeps both processors busy); the journey
# and the engine tests each stay in one (their prefix, their fixture).
step "end-to-end tests of korvane_setup.exe"
/usr/bin/python3 -m pytest tests/e2e -p no:cacheprovider -rA -n 3 --dist loadgroup --basetemp "$e2e_temp/t" \
  --build-dir build/windows --signed-installer build/signed/korvane_setup.exe \
  --native-build-dir build/native-asan --durations=12 "${engine[@]}"
printf '==== %s: %d s ====\n' "$part_name" $((SECONDS - part_start))
printf '==== every test: %d s ====\n' $((SECONDS - total_start))

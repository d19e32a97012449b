#!/usr/bin/env bash
# Installs the Debian packages that building (`deps.sh build`) or testing
# (`deps.sh test`) needs, when any is missing. Safe to run again.
set -euo pipefail

build_packages=(
  cmake make g++ zlib1g-dev libssl-dev        # host tools: payload packer and checker
  libdeflate-dev                              # the packer's DEFLATE (densest level)
  g++-mingw-w64-x86-64 mingw-w64-tools        # the cross compiler, windres
  libz-mingw-w64-dev                          # static zlib for the installer
  librsvg2-bin python3                        # the icon, rendered from its SVG
  osslsigncode openssl                        # signing the installer, when asked to
)
test_packages=(
  libgtest-dev                                # unit tests
  wine wine64                                 # running the Windows binaries
  xvfb xdotool x11-utils imagemagick          # real message boxes, driven and photographed
  python3-pytest python3-xlib python3-pefile  # end-to-end tests and the .exe check
  python3-pytest-xdist                        # the end-to-end tests in two workers
  liblnk-utils                                # lnkinfo: reads back the shortcuts made
  clang-16 libclang-rt-16-dev                 # libFuzzer with ASan and UBSan
  gzip
)

wanted=("${build_packages[@]}")
if [[ "${1:-build}" == test ]]; then wanted+=("${test_packages[@]}"); fi

missing=()
for p in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"

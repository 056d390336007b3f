#!/bin/bash
# Installs what tandrix needs on Debian: "native" for the POSIX build and its tests,
# "all" adds the MinGW-w64 cross compiler and Wine for the Windows build.
# Does nothing when every package is already there.
set -euo pipefail
what=${1:-all}
# adb: the real ADB server for the end-to-end tests; clang and clang-format: the
# clang build and the format check; libclang-rt-14-dev: the fuzzer runtime of the
# fuzz targets (scripts/fuzz.sh); man-db: the check of the manual page
packages=(cmake g++ clang clang-format libclang-rt-14-dev ninja-build googletest iproute2 util-linux adb man-db)
if [ "$what" = all ]; then
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 wine32:i386)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if [ "$what" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
$sudo apt-get install -y -q "${missing[@]}" </dev/null

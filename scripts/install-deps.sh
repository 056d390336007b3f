#!/bin/bash
# Installs what tandrix needs on Debian: "native" for the POSIX build and its tests,
# "all" adds the MinGW-w64 cross compiler and Wine for the Windows build, "compiler"
# is only what the GCC build needs (the test command builds with it while the rest
# installs). Does nothing when every package is already there.
#   install-deps.sh [--missing|--no-update] [compiler|native|all]
# --missing lists what is missing (status 1 when anything is) and installs nothing;
# --no-update installs without reading the package lists again (after "update");
# "install-deps.sh update" only reads them (adding i386 for Wine's 32-bit part).
set -euo pipefail
mode=install
case "${1:-}" in
  --missing) mode=missing; shift ;;
  --no-update) mode=no-update; shift ;;
esac
what=${1:-all}
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive

update() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
}

# adb: the real ADB server for the end-to-end tests; clang and clang-format: the
# clang build and the format check; libclang-rt-14-dev: the fuzzer runtime of the
# fuzz targets (scripts/fuzz.sh); man-db: the check of the manual page
packages=(cmake g++ ninja-build googletest)
case "$what" in
  update) update; exit 0 ;;
  compiler) ;;
  native|all) packages+=(clang clang-format libclang-rt-14-dev iproute2 util-linux adb man-db) ;;
  *) echo "usage: install-deps.sh [--missing|--no-update] [compiler|native|all|update]" >&2; exit 2 ;;
esac
if [ "$what" = all ]; then
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 wine32:i386)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "$mode" = missing ]; then
  [ ${#missing[@]} -eq 0 ] && exit 0
  echo "${missing[*]}"
  exit 1
fi
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
if [ "$mode" = install ]; then
  if [ "$what" = all ]; then
    update
  else
    $sudo apt-get update -q
  fi
fi
# Without the recommended packages: Wine's alone are hundreds of i386 libraries
# (sound, graphics, fonts, printing) that console programs never load.
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null

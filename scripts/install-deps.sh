#!/bin/bash
# Installs what tandrix needs on Debian: "native" for the POSIX build and its tests,
# "all" adds the MinGW-w64 cross compiler and Wine for the Windows build, "compiler"
# is only what the GCC build needs (the test command builds with it while the rest
# installs). Does nothing when every package is already there.
#   install-deps.sh [--missing|--update-only|--no-update] [compiler|native|all]
# --missing lists what is missing (status 1 when anything is) and installs nothing;
# --update-only reads the package lists (for "all": with i386, for Wine's 32-bit
# part, where the kernel runs 32-bit programs); --no-update installs without
# reading them again.
set -euo pipefail
mode=install
case "${1:-}" in
  --missing) mode=missing; shift ;;
  --no-update) mode=no-update; shift ;;
  --update-only) mode=update-only; shift ;;
esac
what=${1:-all}
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive

# Whether the kernel runs 32-bit x86 programs: a 93-byte static program that only
# exits. Where it cannot (Wine then fails with "Exec format error"), Wine's 32-bit
# part and the i386 package lists are not needed: the Windows tests run 64-bit.
runs_32bit() {
  local probe status=0
  probe=$(mktemp)
  cp /bin/true "$probe" && chmod +x "$probe"   # where nothing runs, assume it does
  "$probe" || { rm -f "$probe"; return 0; }
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\010\64\0\0\0\0\0\0\0'\
'\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\135\0\0\0'\
'\135\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\61\333\315\200' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=1
  rm -f "$probe"
  return $status
}

update() {
  if [ "$what" = all ] && runs_32bit && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync fails an index now and then: try again, and
  # leave the verdict to the install (lists read before may serve).
  local attempt
  for attempt in 1 2 3; do
    $sudo apt-get update -q && return 0
    echo "apt-get update failed (attempt $attempt of 3)" >&2
    sleep 5
  done
}

# adb: the real ADB server for the end-to-end tests; clang and clang-format: the
# clang build and the format check; libclang-rt-14-dev: the fuzzer runtime of the
# fuzz targets (scripts/fuzz.sh); man-db: the check of the manual page
packages=(cmake g++ ninja-build googletest)
case "$what" in
  compiler) ;;
  native|all) packages+=(clang clang-format libclang-rt-14-dev iproute2 util-linux adb man-db) ;;
  *) echo "usage: install-deps.sh [--missing|--update-only|--no-update] [compiler|native|all]" >&2; exit 2 ;;
esac
if [ "$what" = all ]; then
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64)
  if runs_32bit; then packages+=(wine32:i386); fi
fi
if [ "$mode" = update-only ]; then update; exit 0; fi
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
  update
fi
# Without the recommended packages: Wine's alone are hundreds of i386 libraries
# (sound, graphics, fonts, printing) that console programs never load.
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null

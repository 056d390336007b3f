#!/bin/bash
# The full test command: installs what the build needs, builds the POSIX program
# (Release and Debug with GCC, Release with clang, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and the Windows program, and runs every test once:
#   - GCC Release: everything (unit tests, end-to-end scripts, the real-server script,
#     the source checks, the 5 GiB scenarios, the proof of the real wait limit);
#   - the sanitizer build: the unit tests and the end-to-end scripts;
#   - Debug and clang: built whole, the unit tests run;
#   - the fuzz targets briefly;
#   - the Windows suite under Wine, once: with the 32-bit program where the kernel
#     runs 32-bit code, else with the 64-bit one; the other is built (warnings are
#     errors there too).
# Each step's time is printed at the end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)
times=()

timed() {   # LABEL COMMAND...: runs the command and notes its time
  local label=$1 start=$SECONDS
  shift
  "$@"
  times+=("$(printf '%5d s  %s' $((SECONDS - start)) "$label")")
}
build() {   # build-dir, extra cmake arguments...
  local dir=$1; shift
  echo "=== building $dir"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}
run_tests() {
  echo "=== testing $1"
  (cd "$1" && ctest --output-on-failure -j"$jobs" --timeout 600)
}
install_check() {
  echo "=== installing into a scratch prefix"
  local prefix
  prefix=$(mktemp -d)
  cmake --install build --prefix "$prefix" >/dev/null
  [ -x "$prefix/bin/tandrix" ] || { echo "cmake --install did not install bin/tandrix"; exit 1; }
  [ -f "$prefix/share/man/man1/tandrix.1" ] || { echo "cmake --install did not install the manual page"; exit 1; }
  rm -rf "$prefix"
}
package() {   # build-dir, lister, files the package must hold...
  local dir=$1 list=$2; shift 2
  echo "=== packing $dir"
  (cd "$dir" && rm -rf packages && cpack >/dev/null)
  local listing
  listing=$($list "$dir"/packages/*.*)
  for f; do grep -q -- "$f\$" <<<"$listing" || { echo "$dir: the package lacks $f"; exit 1; }; done
}
unit_only=(-DTANDRIX_E2E=OFF -DTANDRIX_ONCE_CHECKS=OFF)

# One step a line: a failure inside an && list would not stop the script.
timed "install the packages" scripts/install-deps.sh all
. tests/wine-env.sh
timed "build Release" build build -DCMAKE_BUILD_TYPE=Release
timed "test Release (everything)" run_tests build
timed "install check" install_check
timed "package Release" package build "dpkg-deb -c" usr/bin/tandrix usr/share/man/man1/tandrix.1 usr/share/doc/tandrix/README.md
timed "build sanitizers" build build-asan -DTANDRIX_SANITIZE=ON -DTANDRIX_ONCE_CHECKS=OFF
timed "test sanitizers (unit, end-to-end)" run_tests build-asan
timed "build Debug" build build-debug -DCMAKE_BUILD_TYPE=Debug "${unit_only[@]}"
timed "test Debug (unit)" run_tests build-debug
export CXX=clang++
timed "build clang" build build-clang -DCMAKE_BUILD_TYPE=Release "${unit_only[@]}"
unset CXX
timed "test clang (unit)" run_tests build-clang
timed "fuzz every target for 20 s" scripts/fuzz.sh 20
adbsim="$top/build/tests/adbsim"
if wine_can_run_win32; then
  tested=build-win other=build-win64
else
  echo "=== this kernel cannot run 32-bit programs: the Windows suite runs with the 64-bit build"
  tested=build-win64 other=build-win
fi
toolchain() { [ "$1" = build-win ] && echo cmake/mingw-i686.cmake || echo cmake/mingw-x86_64.cmake; }
timed "build $other" build "$other" -DCMAKE_TOOLCHAIN_FILE="$(toolchain "$other")" -DADBSIM="$adbsim"
timed "build $tested" build "$tested" -DCMAKE_TOOLCHAIN_FILE="$(toolchain "$tested")" -DADBSIM="$adbsim"
timed "test $tested (the Windows suite)" run_tests "$tested"
timed "package build-win64" package build-win64 "cmake -E tar tf" /tandrix.exe /README.md
echo "All builds passed their tests. Times per step:"
printf '%s\n' "${times[@]}"

#!/bin/bash
# The full test command: installs what the build needs, builds the POSIX program
# (Release and Debug with GCC, Release with clang, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and the Windows program, and runs every test (the
# Windows ones under Wine), the layering and format checks among them.
#
# The Windows program is the 32-bit one (build-win/tandrix.exe). Wine runs it only
# where the kernel runs 32-bit code; the same sources are also built as a 64-bit
# Windows program (build-win64) whose tests run under Wine everywhere.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)

scripts/install-deps.sh all
. tests/wine-env.sh

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
package() {   # build-dir, lister, files the package must hold...
  local dir=$1 list=$2; shift 2
  echo "=== packing $dir"
  (cd "$dir" && rm -rf packages && cpack >/dev/null)
  local listing
  listing=$($list "$dir"/packages/*.*)
  for f; do grep -q -- "$f\$" <<<"$listing" || { echo "$dir: the package lacks $f"; exit 1; }; done
}

# One step a line: a failure inside an && list would not stop the script.
build build -DCMAKE_BUILD_TYPE=Release
run_tests build
echo "=== installing into a scratch prefix"
prefix=$(mktemp -d)
cmake --install build --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/tandrix" ] || { echo "cmake --install did not install bin/tandrix"; exit 1; }
[ -f "$prefix/share/man/man1/tandrix.1" ] || { echo "cmake --install did not install the manual page"; exit 1; }
rm -rf "$prefix"
package build "dpkg-deb -c" usr/bin/tandrix usr/share/man/man1/tandrix.1 usr/share/doc/tandrix/README.md
build build-debug -DCMAKE_BUILD_TYPE=Debug
run_tests build-debug
CXX=clang++ build build-clang -DCMAKE_BUILD_TYPE=Release
run_tests build-clang
build build-asan -DTANDRIX_SANITIZE=ON
run_tests build-asan
echo "=== fuzzing every target for 20 s"
scripts/fuzz.sh 20
adbsim="$top/build/tests/adbsim"
build build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DADBSIM="$adbsim"
if wine_can_run_win32; then
  run_tests build-win
else
  echo "=== this kernel cannot run 32-bit programs: build-win is built, its tests run as the 64-bit build"
fi
build build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DADBSIM="$adbsim"
run_tests build-win64
package build-win64 "cmake -E tar tf" /tandrix.exe /README.md
echo "All builds passed their tests."

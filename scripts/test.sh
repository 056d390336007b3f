#!/bin/bash
# The full test command: installs what the build needs, builds the POSIX program
# (plain and with AddressSanitizer + UndefinedBehaviorSanitizer) and the 32-bit
# Windows program, and runs every test (the Windows ones under Wine).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)

scripts/install-deps.sh all

configure_and_test() {   # build-dir, extra cmake arguments...
  local dir=$1; shift
  echo "=== $dir"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 300)
}

configure_and_test build
configure_and_test build-asan -DTANDRIX_SANITIZE=ON
configure_and_test build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DADBSIM="$top/build/tests/adbsim"
echo "All builds passed their tests."

#!/bin/bash
# The full test command: installs what the build needs, builds the POSIX program
# (Release with GCC; Debug with GCC under AddressSanitizer + UndefinedBehaviorSanitizer;
# Debug with clang; the fuzz targets with clang at -O2) and the Windows program, and
# runs every test once:
#   - GCC Release: everything (unit tests, end-to-end scripts, the real-server script,
#     the source checks, the 5 GiB scenarios, the proof of the real wait limit);
#   - GCC Debug with the sanitizers: the unit tests and the end-to-end scripts;
#   - clang Debug: built whole, the unit tests run;
#   - the fuzz targets briefly;
#   - the Windows suite under Wine, once: with the 32-bit program where the kernel
#     runs 32-bit code, else with the 64-bit one; the other program is built
#     (warnings are errors there too).
# After the GCC builds, two lanes run side by side (the test steps wait on the
# network and on Wine as much as they compute); each lane's output is kept in
# build-logs/ and printed at the end with each step's time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)
logs=$top/build-logs
rm -rf "$logs"
mkdir -p "$logs"

timed() {   # LABEL COMMAND...: runs the command, notes its time in $logs/times
  local label=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  printf '%5d s  %s%s\n' $((SECONDS - start)) "$label" "$([ $status -eq 0 ] || echo '  FAILED')" \
    >>"$logs/times"
  return $status
}
build() {   # build-dir [target] -- extra cmake arguments...
  local dir=$1 target=()
  shift
  if [ "$1" != -- ]; then target=(--target "$1"); shift; fi
  shift
  echo "=== building $dir"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" "${target[@]}"
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
  [ -x "$prefix/bin/tandrix" ] || { echo "cmake --install did not install bin/tandrix"; return 1; }
  [ -f "$prefix/share/man/man1/tandrix.1" ] || { echo "cmake --install did not install the manual page"; return 1; }
  rm -rf "$prefix"
}
package() {   # build-dir, lister, files the package must hold...
  local dir=$1 list=$2 listing f
  shift 2
  echo "=== packing $dir"
  (cd "$dir" && rm -rf packages && cpack >/dev/null) || return 1
  listing=$($list "$dir"/packages/*.*)
  for f; do grep -q -- "$f\$" <<<"$listing" || { echo "$dir: the package lacks $f"; return 1; }; done
}
unit_only=(-DTANDRIX_E2E=OFF -DTANDRIX_ONCE_CHECKS=OFF)
build_clang() { (export CXX=clang++; build build-clang -- -DCMAKE_BUILD_TYPE=Debug "${unit_only[@]}"); }
toolchain() { [ "$1" = build-win ] && echo cmake/mingw-i686.cmake || echo cmake/mingw-x86_64.cmake; }

# The GCC builds start as soon as their compiler is there; the rest installs meanwhile.
install_pid=""
if ! missing=$(scripts/install-deps.sh --missing all); then
  echo "=== installing: $missing"
  timed "read the package lists" scripts/install-deps.sh --update-only all
  timed "install the compiler" scripts/install-deps.sh --no-update compiler
  timed "install the other packages (beside the GCC builds)" \
    scripts/install-deps.sh --no-update all >"$logs/install.log" 2>&1 &
  install_pid=$!
fi
timed "build Release" build build -- -DCMAKE_BUILD_TYPE=Release
timed "build sanitizers (GCC Debug)" build build-asan -- -DCMAKE_BUILD_TYPE=Debug \
  -DTANDRIX_SANITIZE=ON -DTANDRIX_ONCE_CHECKS=OFF
if [ -n "$install_pid" ] && ! wait "$install_pid"; then
  cat "$logs/install.log"
  echo "installing the packages failed"
  exit 1
fi
. tests/wine-env.sh
adbsim="$top/build/tests/adbsim"
if wine_can_run_win32; then
  tested=build-win other=build-win64
else
  echo "=== this kernel cannot run 32-bit programs: the Windows suite runs with the 64-bit build"
  tested=build-win64 other=build-win
fi

# Each lane stops at its first failing step. The second builds the Windows suite's
# program first and leaves a mark (built or failed) that the first waits for.
windows_mark=$logs/windows-build
lane_release_windows() {
  timed "test Release (everything)" run_tests build &&
  timed "install check" install_check &&
  timed "package Release" package build "dpkg-deb -c" usr/bin/tandrix \
    usr/share/man/man1/tandrix.1 usr/share/doc/tandrix/README.md &&
  timed "wait for the $tested build" await_windows_build &&
  timed "test $tested (the Windows suite)" run_tests "$tested" &&
  timed "fuzz every target for 10 s" scripts/fuzz.sh 10
}
await_windows_build() {
  while [ ! -e "$windows_mark" ] && kill -0 "$second" 2>/dev/null; do sleep 1; done
  [ "$(cat "$windows_mark" 2>/dev/null)" = built ] || { echo "the $tested build failed"; return 1; }
}
lane_checked_builds() {
  if timed "build $tested" build "$tested" -- -DCMAKE_TOOLCHAIN_FILE="$(toolchain "$tested")" \
    -DADBSIM="$adbsim"; then
    echo built >"$windows_mark"
  else
    echo failed >"$windows_mark"
    return 1
  fi
  timed "test sanitizers (unit, end-to-end)" run_tests build-asan &&
  timed "build clang (Debug)" build_clang &&
  timed "test clang (unit)" run_tests build-clang &&
  timed "build $other (the program)" build "$other" tandrix -- \
    -DCMAKE_TOOLCHAIN_FILE="$(toolchain "$other")" -DADBSIM="$adbsim"
}
lane_checked_builds >"$logs/lane-checked-builds.log" 2>&1 &
second=$!
lane_release_windows >"$logs/lane-release-windows.log" 2>&1 &
first=$!
status=0
wait $first || status=1
wait $second || status=1
for log in "$logs"/lane-*.log; do
  echo "######## ${log##*/}"
  cat "$log"
done
if [ $status -eq 0 ]; then
  timed "package build-win64" package build-win64 "cmake -E tar tf" /tandrix.exe /README.md || status=1
fi
[ $status -eq 0 ] && echo "All builds passed their tests. Times per step:" ||
  echo "A step failed (see above). Times per step:"
cat "$logs/times"
exit $status

#!/bin/bash
# -k over a slow link: 2,000 files of 4 KiB in 20 directories pushed through adbsim
# with its replies held 5 ms, once to a device that takes every file and once to one
# that refuses 20 of them (one in every 100: each refusal ends the device's sync
# service, so the run opens a new connection and sends the files behind it again).
# Each row: the median of REPS runs with min-max, the two kinds taking turns; the
# ratio is refused / clean.
# Usage: bench/keepgoing.sh [BUILD-DIR]   (as root: runs in a private network namespace)
# REPS=5 by default; DELAY=5 (ms).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
if [ -z "${BENCH_IN_NETNS:-}" ]; then
    BENCH_IN_NETNS=1 exec "$here/../tests/netns.sh" bash "$0" "$build"
fi
reps=${REPS:-5}
delay=${DELAY:-5}
tool=${TANDRIX:-$build/tandrix}
. "$here/lib.sh"

measure() {   # adbsim options...: one run's time
    start_sim --delay-ms "$delay" "$@"
    empty_device
    seconds "$tool" -k -q -s -acs "$work/source" sdcard || true   # refusals: exit 9
    stop_sim
}

mkdir -p "$work/source" "$work/device"
for d in $(seq -w 1 20); do
    mkdir -p "$work/source/dir$d"
    for f in $(seq -w 1 100); do head -c 4096 /dev/urandom >"$work/source/dir$d/file$f.dat"; done
done
refusals=()
for d in $(seq -w 1 20); do
    refusals+=(--fault "send=/sdcard/dir$d/file050.dat fail \"couldn't create file: Permission denied\"")
done

# The two kinds of run take turns, so a machine that gets busier slows both alike.
for i in $(seq 1 "$reps"); do
    measure >>"$work/clean"
    measure "${refusals[@]}" >>"$work/refused"
done
clean=$(stats <"$work/clean")
refused=$(stats <"$work/refused")
echo "tandrix -k through adbsim at $delay ms: 2,000 x 4 KiB pushed, medians of $reps"
awk -v c="$clean" -v r="$refused" 'BEGIN {
    split(c, a, " "); split(r, b, " ")
    printf "clean %8.3f s (%.3f-%.3f)   20 refused %8.3f s (%.3f-%.3f)   x%.2f\n",
        a[1], a[2], a[3], b[1], b[2], b[3], b[1] / a[1] }'

#!/bin/bash
# tandrix beside the adb command (adb push, adb pull -a, adb push --sync), both through
# the real ADB server with adbsim's device-daemon mode as the device, on identical
# trees, with the daemon answering at once and with every reply held 5 ms. Each row:
# the median of RUNS runs per tool (the tools alternate), min-max, and the ratio adb
# time / tandrix time. Every run is checked (file count, bytes, times) before it counts.
# Usage: bench/adb_peer.sh [BUILD-DIR] [RUNS] [BIG-MIB]   (as root: a private network namespace)
# CASES="push_big pull_big push_small pull_small noop" (any of them); DELAYS="0 5".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
runs=${2:-5}
big_mib=${3:-256}
if [ -z "${BENCH_IN_NETNS:-}" ]; then
    BENCH_IN_NETNS=1 exec "$here/../tests/netns.sh" bash "$0" "$build" "$runs" "$big_mib"
fi
if ! command -v adb >/dev/null; then
    echo "the adb command is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
fi
tool=$build/tandrix
work=$(mktemp -d "${TMPDIR:-/tmp}/tandrix-peer.XXXXXX")
export HOME=$work/home   # the server writes its key below HOME
mkdir -p "$HOME"
daemons=()
cleanup() {
    adb kill-server >/dev/null 2>&1 || true
    local pid
    for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

src=$work/src          # the reference trees, never written
host=$work/host
dev=$work/device       # the device's "/"
mkdir -p "$src" "$host" "$dev/sdcard"

# ---------------------------------------------------------------------------
# Trees
# ---------------------------------------------------------------------------

make_files() {   # DIR COUNT SIZE: COUNT files of SIZE random bytes, one time for all
    mkdir -p "$1"
    (cd "$1" && head -c $(($2 * $3)) /dev/urandom | split -b "$3" -a 4 -d - f && for f in f*; do mv "$f" "$f.dat"; done)
    touch -d @1600000000 "$1"/*
}

echo "making the trees..." >&2
mkdir -p "$src/big"
head -c $((big_mib * 1048576)) /dev/urandom >"$src/big/big.bin"
touch -d @1600000000 "$src/big/big.bin"
for d in $(seq -w 1 20); do make_files "$src/small/dir$d" 100 4096; done
for d in $(seq -w 1 100); do make_files "$src/noop/dir$d" 100 512; done

# Files below a directory as "path size seconds", sorted: count, bytes and times.
files_of() { (cd "$1" && find . -type f -printf '%P %s %T@\n' | sed 's/\.[0-9]*$//' | LC_ALL=C sort); }

# ---------------------------------------------------------------------------
# Runs
# ---------------------------------------------------------------------------

seconds() {   # COMMAND...: wall time; a failed command stops the benchmark
    local stats
    if ! stats=$("$build/bench/bench_runstat" "$@" 2>&1 >"$work/run.out"); then
        echo "failed: $* ($(tail -n 3 "$work/run.out"))" >&2
        exit 1
    fi
    tail -n 1 <<<"$stats" | cut -d' ' -f1
}

check() {   # WANT-DIR GOT-DIR LABEL: a wrong result ends the benchmark
    if [ "$(files_of "$1")" != "$(files_of "$2")" ]; then
        echo "wrong result: $3 ($(diff <(files_of "$1") <(files_of "$2") | head -n 4 | tr '\n' ' '))" >&2
        exit 1
    fi
}

# Each case: prepare-tandrix, run-tandrix, prepare-adb, run-adb, check. $serial is the device.
prep_push_big_t() { rm -rf "$dev/sdcard/big"; mkdir -p "$dev/sdcard/big"; }
run_push_big_t() { seconds "$tool" -q -d="$serial" -a "$src/big" sdcard/big; }
prep_push_big_a() { rm -rf "$dev/sdcard/big"; mkdir -p "$dev/sdcard/big"; }
run_push_big_a() { seconds adb -s "$serial" push "$src/big/big.bin" /sdcard/big/big.bin; }
check_push_big() { check "$src/big" "$dev/sdcard/big" "$1"; }

prep_pull_big_t() { rm -rf "$host/big"; mkdir -p "$host/big"; }
run_pull_big_t() { seconds "$tool" -q -d="$serial" -h "$host/big" sdcard/big; }
prep_pull_big_a() { rm -rf "$host/big"; mkdir -p "$host/big"; }
run_pull_big_a() { seconds adb -s "$serial" pull -a /sdcard/big/big.bin "$host/big/big.bin"; }
check_pull_big() { check "$src/big" "$host/big" "$1"; }

prep_push_small_t() { rm -rf "$dev/sdcard/small"; mkdir -p "$dev/sdcard/small"; }
run_push_small_t() { seconds "$tool" -q -d="$serial" -s -acs "$src/small" sdcard/small; }
prep_push_small_a() { rm -rf "$dev/sdcard/small"; }
run_push_small_a() { seconds adb -s "$serial" push "$src/small" /sdcard/; }
check_push_small() { check "$src/small" "$dev/sdcard/small" "$1"; }

prep_pull_small_t() { rm -rf "$host/small"; mkdir -p "$host/small"; }
run_pull_small_t() { seconds "$tool" -q -d="$serial" -s -hcs "$host/small" sdcard/small; }
prep_pull_small_a() { rm -rf "$host/small"; }
run_pull_small_a() { seconds adb -s "$serial" pull -a /sdcard/small "$host/"; }
check_pull_small() { check "$src/small" "$host/small" "$1"; }

prep_noop_t() { :; }
run_noop_t() { seconds "$tool" -q -d="$serial" -s -a "$src/noop" sdcard/noop; }
prep_noop_a() { :; }
run_noop_a() { seconds adb -s "$serial" push --sync "$src/noop" /sdcard/; }
check_noop() {
    check "$src/noop" "$dev/sdcard/noop" "$1"
    [ "$(find "$dev/sdcard/noop" -newer "$work/noop.mark" | wc -l)" = 0 ] || { echo "a no-op run wrote: $1" >&2; exit 1; }
}

stats() {   # seconds... -> "median min max"
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%s %s %s\n", v[int((NR + 1) / 2)], v[1], v[NR] }'
}

one_row() {   # LABEL CASE ADB-NAME
    local label=$1 case=$2 i t a tt=() aa=()
    for i in $(seq 1 "$runs"); do
        for who in $([ $((i % 2)) = 1 ] && echo "t a" || echo "a t"); do
            "prep_${case}_$who"; sync
            if [ "$who" = t ]; then t=$("run_${case}_t"); tt+=("$t"); else a=$("run_${case}_a"); aa+=("$a"); fi
            "check_$case" "$label, $([ "$who" = t ] && echo tandrix || echo "$3"), run $i"
        done
    done
    read -r tm tmin tmax <<<"$(stats "${tt[@]}")"
    read -r am amin amax <<<"$(stats "${aa[@]}")"
    awk -v l="$label" -v n="$3" -v tm="$tm" -v tmin="$tmin" -v tmax="$tmax" -v am="$am" -v amin="$amin" \
        -v amax="$amax" -v d="$delay" 'BEGIN {
        t = sprintf("%.3f (%.3f-%.3f)", tm, tmin, tmax)
        a = sprintf("%.3f (%.3f-%.3f)", am, amin, amax)
        printf "| %-36s | %2d ms | %24s | %-11s | %24s | %5.2f |\n", l, d, t, n, a, am / tm }'
}

# ---------------------------------------------------------------------------
# The daemons (one answering at once, one holding every reply 5 ms) and the server
# ---------------------------------------------------------------------------

start_daemon() {   # PORT DELAY-MS
    rm -f "$work/ready"
    "$build/tests/adbsim" --daemon "$1" --device "$dev" --delay-ms "$2" --ready "$work/ready" 2>/dev/null &
    daemons+=($!)
    while [ ! -s "$work/ready" ]; do sleep 0.02; done
    adb connect "127.0.0.1:$1" >/dev/null
    local i
    for i in $(seq 1 100); do
        [ "$(adb -s "127.0.0.1:$1" get-state 2>/dev/null)" = device ] && return 0
        sleep 0.05
    done
    echo "the server did not take the daemon on port $1" >&2
    exit 1
}

adb start-server >/dev/null 2>&1
start_daemon 6101 0
start_daemon 6102 5
# The device side of the pulls and of the no-op run: identical copies, times kept.
cp -a "$src/big" "$src/small" "$src/noop" "$dev/sdcard/"
touch "$work/noop.mark"
sleep 1   # the no-op check looks for anything newer than the mark

# The stand-in must treat the adb command fairly: its pull of the small-file tree
# costs the same round trips per file as its push of that tree, so a pull that takes
# more than twice as long means the device side slows it, and no ratio would be true.
# The best of three of each, so that a busy moment of a shared machine does not count.
serial=127.0.0.1:6101
pulls=() pushes=()
for i in 1 2 3; do
    prep_pull_small_a; pulls+=("$(run_pull_small_a)"); check_pull_small "sanity check, adb pull -a"
    prep_push_small_a; pushes+=("$(run_push_small_a)"); check_push_small "sanity check, adb push"
done
read -r _ pull_s _ <<<"$(stats "${pulls[@]}")"
read -r _ push_s _ <<<"$(stats "${pushes[@]}")"
if awk -v p="$pull_s" -v q="$push_s" 'BEGIN { exit !(p > 2 * q) }'; then
    echo "stopped: adb pull -a of the 2,000-file tree took $pull_s s at best, more than twice its push ($push_s s);" >&2
    echo "the device stand-in slows the adb command's pulls, so its ratios would not be true" >&2
    exit 1
fi

echo "tandrix beside adb $(adb version | sed -n 's/^Version //p'), both through the real ADB server;"
echo "the device is adbsim --daemon; medians of $runs runs in seconds (min-max); ratio = adb / tandrix"
printf 'fairness check, best of 3 at 0 ms: adb pull -a of the 2,000 files %.3f s, adb push %.3f s\n' "$pull_s" "$push_s"
echo
echo "| case                                 | delay |     tandrix s (min-max)  | adb         |         adb s (min-max)  | ratio |"
echo "|--------------------------------------|-------|--------------------------|-------------|--------------------------|-------|"
cases=" ${CASES:-push_big pull_big push_small pull_small noop} "
row() {   # LABEL CASE ADB-NAME, when CASES names it
    if [[ $cases == *" $2 "* ]]; then one_row "$@"; fi
}
for delay in ${DELAYS:-0 5}; do
    serial=127.0.0.1:$([ "$delay" = 0 ] && echo 6101 || echo 6102)
    row "push 1 file of $big_mib MiB" push_big "push"
    row "pull 1 file of $big_mib MiB" pull_big "pull -a"
    row "push 2,000 files of 4 KiB in 20 dirs" push_small "push"
    row "pull 2,000 files of 4 KiB in 20 dirs" pull_small "pull -a"
    row "no-op, 10,000 files in 100 dirs" noop "push --sync"
done

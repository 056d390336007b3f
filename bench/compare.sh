#!/bin/bash
# Comparison-only runs (-l -s) through adbsim over identical trees on both sides:
# 100,000 files in 1,000 directories, then a tree twice as large. Prints wall time,
# peak memory and time per directory round trip, and the ratio of the two runs
# (about 2 when nothing is quadratic).
# Usage: bench/compare.sh [BUILD-DIR]   (as root: runs in a private network namespace)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
if [ -z "${BENCH_IN_NETNS:-}" ]; then
    BENCH_IN_NETNS=1 exec "$here/../tests/netns.sh" bash "$0" "$build"
fi
. "$here/lib.sh"

make_tree() {   # root directories files-per-directory
    local d names f
    names=$(for f in $(seq -w 1 "$3"); do printf 'IMG_%s.jpg ' "$f"; done)
    for d in $(seq -w 1 "$2"); do
        mkdir -p "$1/dir$d"
        (cd "$1/dir$d" && touch -d @1600000000 $names)
    done
}

one_run() {   # directories
    local dirs=$1 files=100
    rm -rf "$work/host" "$work/device"
    make_tree "$work/host" "$dirs" $files
    mkdir -p "$work/device"
    cp -a "$work/host" "$work/device/sdcard"
    start_sim
    local stats wall peak
    stats=$("$build/bench/bench_runstat" "$build/tandrix" -l -s "$work/host" sdcard 2>&1 >"$work/out" |
        tail -n 1)
    stop_sim
    wall=$(cut -d' ' -f1 <<<"$stats"); peak=$(cut -d' ' -f2 <<<"$stats")
    awk -v n=$((dirs * files)) -v d="$dirs" -v w="$wall" -v p="$peak" 'BEGIN {
        printf "%7d files in %5d dirs: %7.2f s wall, %7.1f MiB peak, %6.3f ms per directory\n",
            n, d, w, p / 1024, w * 1000 / (d + 1) }'
    lines=$(wc -l <"$work/out")
    [ "$lines" -eq $((dirs * files + dirs + 1)) ] || echo "  (listing had $lines lines)"
    LAST_WALL=$wall
}

echo "tandrix comparison (-l -s) through adbsim, identical trees"
one_run 1000; first=$LAST_WALL
one_run 2000; second=$LAST_WALL
awk -v a="$first" -v b="$second" 'BEGIN { printf "twice the tree takes %.2f times as long\n", b / a }'

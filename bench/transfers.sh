#!/bin/bash
# Transfer throughput through adbsim: push and pull of one 256 MiB file and of 2,000
# files of 4 KiB in 20 directories, each as MB/s and as a ratio against a raw loopback
# socket copy of the same bytes measured in the same run (the ceiling).
# Usage: bench/transfers.sh [BUILD-DIR]   (as root: runs in a private network namespace)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
if [ -z "${BENCH_IN_NETNS:-}" ]; then
    BENCH_IN_NETNS=1 exec "$here/../tests/netns.sh" bash "$0" "$build"
fi
tool=$build/tandrix
. "$here/lib.sh"

report() {   # label bytes tool-seconds raw-seconds
    awk -v l="$1" -v b="$2" -v t="$3" -v r="$4" 'BEGIN {
        mb = b / 1e6
        printf "%-34s %8.1f MB/s   raw socket %8.1f MB/s   ratio %.2f\n", l, mb / t, mb / r, r / t }'
}

one_case() {   # label, makes the host tree (function name)
    local label=$1 make=$2 bytes
    rm -rf "$work/host" "$work/device"; mkdir -p "$work/host" "$work/device/sdcard"
    $make "$work/host"
    bytes=$(find "$work/host" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
    sync
    start_sim
    local push raw pull
    raw=$(seconds "$build/bench/bench_rawcopy" "$bytes")
    push=$(seconds "$tool" -q -s -acs "$work/host" sdcard)
    rm -rf "$work/host"; mkdir -p "$work/host"; sync
    pull=$(seconds "$tool" -q -s -hcs "$work/host" sdcard)
    stop_sim
    report "$label push" "$bytes" "$push" "$raw"
    report "$label pull" "$bytes" "$pull" "$raw"
}

one_big_file() {
    head -c 268435456 /dev/urandom >"$1/video.bin"
}

many_small_files() {
    local d f
    for d in $(seq -w 1 20); do
        mkdir -p "$1/dir$d"
        for f in $(seq -w 1 100); do head -c 4096 /dev/urandom >"$1/dir$d/file$f.dat"; done
    done
}

echo "tandrix transfer throughput through adbsim (loopback, one connection)"
one_case "1 file of 256 MiB" one_big_file
one_case "2,000 files of 4 KiB in 20 dirs" many_small_files

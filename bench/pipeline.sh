#!/bin/bash
# The build's tandrix against a baseline binary, through adbsim with its replies
# held 0, 1 and 5 ms: push and pull of 2,000 files of 4 KiB in 20 directories and of
# one 256 MiB file, and a comparison (-l -s) of identical trees of 10,000 files in 100
# directories. Each row: the median of REPS runs with min-max, for both binaries in
# the same run, and their ratio (above 1: the build is faster).
# Usage: BASELINE=/path/to/tandrix bench/pipeline.sh [BUILD-DIR]   (as root: runs in a
# private network namespace). The baseline is another build: one request at a time is
# commit c89df16, before the window (see README.md); an older commit of main shows
# "not slower than before". REPS=5 by default; DELAYS="0 1 5"; ROWS="small big
# compare" (any of them); BIG=1 adds the compare of 100,000 files in 1,000 directories.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
if [ -z "${BASELINE:-}" ]; then
    echo "usage: BASELINE=/path/to/tandrix $0 [BUILD-DIR]" >&2
    exit 2
fi
if [ -z "${BENCH_IN_NETNS:-}" ]; then
    BENCH_IN_NETNS=1 exec "$here/../tests/netns.sh" bash "$0" "$build"
fi
reps=${REPS:-5}
delays=${DELAYS:-0 1 5}
tool=${TANDRIX:-$build/tandrix}
. "$here/lib.sh"

# one_row LABEL PREPARE COMMAND...: PREPARE runs before every run (untimed).
one_row() {
    local label=$1 prepare=$2; shift 2
    local window="" single="" i
    for i in $(seq 1 "$reps"); do
        $prepare; window+="$(seconds "$@") "
        $prepare; single+="$(seconds "$BASELINE" "${@:2}") "
    done
    local w s
    w=$(tr ' ' '\n' <<<"$window" | grep . | stats)
    s=$(tr ' ' '\n' <<<"$single" | grep . | stats)
    awk -v l="$label" -v w="$w" -v s="$s" -v base="baseline" 'BEGIN {
        split(w, a, " "); split(s, b, " ")
        printf "%-30s %8.3f s (%.3f-%.3f)   %s %8.3f s (%.3f-%.3f)   x%.2f\n",
            l, a[1], a[2], a[3], base, b[1], b[2], b[3], b[1] / a[1] }'
}

small_tree() {
    local d f
    for d in $(seq -w 1 20); do
        mkdir -p "$1/dir$d"
        for f in $(seq -w 1 100); do head -c 4096 /dev/urandom >"$1/dir$d/file$f.dat"; done
    done
}

big_file() {
    head -c 268435456 /dev/urandom >"$1/video.bin"
}

compare_tree() {   # root directories
    local d names
    names=$(for f in $(seq -w 1 100); do printf 'IMG_%s.jpg ' "$f"; done)
    for d in $(seq -w 1 "$2"); do
        mkdir -p "$1/dir$d"
        (cd "$1/dir$d" && touch -d @1600000000 $names)
    done
}

# The device starts empty before each push; the host before each pull.
empty_host() { rm -rf "$work/pulled"; mkdir -p "$work/pulled"; }
nothing() { :; }

transfer_rows() {   # label, tree maker
    rm -rf "$work/source" "$work/device"; mkdir -p "$work/source" "$work/device"
    $2 "$work/source"
    local delay
    for delay in $delays; do
        empty_device; start_sim --delay-ms "$delay"
        one_row "$1 push, $delay ms" empty_device "$tool" -q -s -acs "$work/source" sdcard
        rm -rf "$work/device/sdcard"; cp -a "$work/source" "$work/device/sdcard"
        one_row "$1 pull, $delay ms" empty_host "$tool" -q -s -hcs "$work/pulled" sdcard
        stop_sim
    done
}

compare_rows() {   # directories
    rm -rf "$work/source" "$work/device"; mkdir -p "$work/device"
    compare_tree "$work/source" "$1"
    cp -a "$work/source" "$work/device/sdcard"
    local delay
    for delay in $delays; do
        start_sim --delay-ms "$delay"
        one_row "compare $(($1 * 100)) files, $delay ms" nothing "$tool" -l -s "$work/source" sdcard
        stop_sim
    done
}

echo "tandrix through adbsim: $tool against $BASELINE, medians of $reps"
rows=" ${ROWS:-small big compare} "
[[ $rows == *" small "* ]] && transfer_rows "2,000 x 4 KiB" small_tree
[[ $rows == *" big "* ]] && transfer_rows "1 x 256 MiB" big_file
[[ $rows == *" compare "* ]] && compare_rows 100
[ -n "${BIG:-}" ] && compare_rows 1000
exit 0

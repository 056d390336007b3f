#!/bin/bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for SECONDS (default
# 20) on a copy of its seed corpus, two at a time (FUZZ_JOBS); fails when any target
# finds something. A longer run is the same command with more seconds:
# scripts/fuzz.sh 600. FUZZ_TARGETS="replies windows" picks targets.
set -euo pipefail
seconds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
parallel=${FUZZ_JOBS:-2}
targets=(${FUZZ_TARGETS:-names replies cmdline wildcard windows})
export CXX=${CXX_FUZZ:-clang++}
cmake -S "$root/fuzz" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 >/dev/null || { echo "fuzz: the build failed:" >&2; cmake --build "$build" -j1 2>&1 | tail -n 30 >&2; exit 1; }

# Runs one target; its verdict line goes to $build/fuzz_TARGET.verdict.
fuzz_one() {
    local target=$1 work
    work=$(mktemp -d)
    cp -r "$root/fuzz/corpus/$target/." "$work/"
    # Findings are written into the build folder; the target's own output (its
    # messages about refused input, a run's lines) is closed, libFuzzer's report is kept.
    if ! (cd "$build" && "./fuzz_$target" -max_total_time="$seconds" -timeout=10 \
              -rss_limit_mb=1024 -close_fd_mask=3 -print_final_stats=1 "$work" \
              >"$build/fuzz_$target.log" 2>&1); then
        { echo "fuzz_$target: finding, see $build/fuzz_$target.log"
          tail -n 40 "$build/fuzz_$target.log"; } >"$build/fuzz_$target.verdict"
    else
        local runs
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz_$target.log" |
               grep -o '[0-9]*$' || true)
        echo "fuzz_$target: ${runs:-?} runs, no finding" >"$build/fuzz_$target.verdict"
    fi
    rm -rf "$work"
}

status=0
for ((i = 0; i < ${#targets[@]}; i += parallel)); do
    batch=("${targets[@]:i:parallel}")
    for target in "${batch[@]}"; do fuzz_one "$target" & done
    wait
    for target in "${batch[@]}"; do
        verdict=$build/fuzz_$target.verdict
        if grep -q ': finding' "$verdict"; then cat "$verdict" >&2; status=1; else cat "$verdict"; fi
    done
done
exit $status

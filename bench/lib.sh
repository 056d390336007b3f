# Shared by the benchmarks that run through adbsim; sourced once $build is set. Makes
# the scratch folder $work (removed at the end, with a stand-in still running) and
# gives: start_sim/stop_sim (adbsim with the device "bench" under $work/device),
# empty_device, seconds (one command's wall time) and stats (median, min, max).
work=$(mktemp -d "${TMPDIR:-/tmp}/tandrix-bench.XXXXXX")
sim=""
trap '[ -n "$sim" ] && kill $sim 2>/dev/null; rm -rf "$work"' EXIT

start_sim() {   # adbsim options...
    rm -f "$work/ready"
    "$build/tests/adbsim" --device bench="$work/device" --ready "$work/ready" "$@" 2>/dev/null &
    sim=$!
    while [ ! -s "$work/ready" ]; do sleep 0.02; done
}

stop_sim() {
    kill $sim; wait $sim 2>/dev/null || true
    sim=""
}

empty_device() { rm -rf "$work/device/sdcard"; mkdir -p "$work/device/sdcard"; }

seconds() {   # COMMAND...: wall time, output dropped
    "$build/bench/bench_runstat" "$@" 2>&1 >/dev/null | tail -n 1 | cut -d' ' -f1
}

stats() {   # median, min and max of the numbers on standard input
    sort -g | awk '{ v[NR] = $1 } END { printf "%s %s %s", v[int((NR + 1) / 2)], v[1], v[NR] }'
}

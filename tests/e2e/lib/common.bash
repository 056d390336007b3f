# Shared functions of the end-to-end scripts: re-running inside a private network
# namespace, running the tool (natively or under Wine), starting adbsim, building
# sample trees and comparing output, trees and the request log.
#
# A script does:  source "$(dirname "$0")/lib/common.bash"; e2e_setup "$@"
# then scenarios, and ends with e2e_finish.

set -u

E2E_SCRIPT=$(readlink -f "$0")
E2E_DIR=$(dirname "$E2E_SCRIPT")
E2E_NETNS=$(readlink -f "$E2E_DIR/../netns.sh")
E2E_FAILURES=0
E2E_SCENARIO=""
SIM_PID=""
SIM_SERIAL=emulator-5554

# e2e_setup TOOL-COMMAND ADBSIM PLATFORM WORKDIR [unshare options]
# Re-runs the script inside its own network namespace (and, with extra unshare
# options, e.g. -m, inside those namespaces too) and prepares the work folder.
e2e_setup() {
    if [ -z "${E2E_IN_NETNS:-}" ]; then
        local extra=("${@:5}")
        if [ ${#extra[@]} -gt 0 ] && [ "$(id -u)" -eq 0 ]; then
            E2E_IN_NETNS=1 E2E_UNSHARED="${extra[*]}" exec "$E2E_NETNS" unshare "${extra[@]}" \
                bash "$E2E_SCRIPT" "$@"
        fi
        E2E_IN_NETNS=1 exec "$E2E_NETNS" bash "$E2E_SCRIPT" "$@"
    fi
    read -r -a TOOL <<<"$1"
    ADBSIM=$2
    PLATFORM=$3
    WORK=$4
    rm -rf "$WORK"
    mkdir -p "$WORK"
    WORK=$(readlink -f "$WORK")
    if [ "$PLATFORM" = windows ]; then
        e2e_wine_setup
        LE=$'\r\n'
    else
        LE=$'\n'
    fi
    trap e2e_cleanup EXIT
}

# Under Wine the tool runs in a prefix of the network pool, with its server started in
# this namespace and held until the script ends (see wine-env.sh).
e2e_wine_setup() {
    local runner=${TOOL[0]} base=${TOOL[1]} exe=${TOOL[2]}
    # shellcheck source=../../wine-env.sh
    source "$(dirname "$runner")/wine-env.sh"
    wine_net_take "$base" "$exe" || exit 1
    TOOL[1]=$WINE_NET_PREFIX
}

e2e_cleanup() {
    sim_stop
    if [ "$PLATFORM" = windows ]; then
        wine_net_release
    fi
}

e2e_finish() {
    if [ "$E2E_FAILURES" -gt 0 ]; then
        echo "$E2E_FAILURES check(s) failed"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

scenario() {
    E2E_SCENARIO=$1
    echo "--- $1"
}

fail() {
    echo "FAIL [$E2E_SCENARIO]: $*"
    E2E_FAILURES=$((E2E_FAILURES + 1))
}

# ---------------------------------------------------------------------------
# Arguments as each platform spells them
# ---------------------------------------------------------------------------

# A host path as a command-line argument.
host_arg() {
    if [ "$PLATFORM" = windows ]; then
        local p=${1//\//\\}
        printf 'Z:%s' "$p"
    else
        printf '%s' "$1"
    fi
}

# A host path as the tool shows it in messages (the normalised root).
host_shown() {
    host_arg "$1"
}

# Runs the tool: flags are written "-x" and become "/x" on Windows; arguments
# "host:PATH" become host paths. Results: $WORK/out, $WORK/err, $RC.
run_tool() {
    local args=() a
    for a in "$@"; do
        case $a in
            host:*) args+=("$(host_arg "${a#host:}")") ;;
            -*) if [ "$PLATFORM" = windows ]; then args+=("/${a#-}"); else args+=("$a"); fi ;;
            *) args+=("$a") ;;
        esac
    done
    log_mark
    "${TOOL[@]}" "${args[@]}" >"$WORK/out" 2>"$WORK/err" </dev/null
    RC=$?
}

# ---------------------------------------------------------------------------
# adbsim
# ---------------------------------------------------------------------------

# sim_start DEVICE-DIR [adbsim options...]: serves DEVICE-DIR as the device's "/"
# and logs every request to $WORK/sim.log. E2E_ADBSIM_OPTIONS adds options to every
# start (--no-v2 runs a script against a device without the v2 sync records).
sim_start() {
    sim_stop
    local dir=$1; shift
    local common=()
    read -r -a common <<<"${E2E_ADBSIM_OPTIONS:-}"
    rm -f "$WORK/sim.ready" "$WORK/sim.log"
    "$ADBSIM" --device "$SIM_SERIAL=$dir" --log "$WORK/sim.log" --ready "$WORK/sim.ready" \
        "${common[@]}" "$@" >"$WORK/sim.out" 2>&1 &
    SIM_PID=$!
    local i
    for ((i = 0; i < 200; i++)); do
        [ -e "$WORK/sim.ready" ] && return 0
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    fail "adbsim did not start: $(cat "$WORK/sim.out")"
    SIM_PID=""
    return 1
}

sim_stop() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null
        wait "$SIM_PID" 2>/dev/null
        SIM_PID=""
    fi
}

# The request log, and the part of it written since log_mark.
sim_log() {
    cat "$WORK/sim.log" 2>/dev/null
}

# The mark counts whole lines, as wc -l would, without starting a process.
log_mark() {
    local lines=()
    [ -f "$WORK/sim.log" ] && mapfile lines <"$WORK/sim.log"
    LOG_MARK=${#lines[@]}
    if [ "$LOG_MARK" -gt 0 ] && [[ ${lines[-1]} != *$'\n' ]]; then
        LOG_MARK=$((LOG_MARK - 1))   # a line still being written
    fi
}

# The requests of the last run_tool. adbsim may still be writing its last lines
# when the tool has ended: wait until every connection logged has its CLOSE.
run_log() {
    local i
    for ((i = 0; i < 100; i++)); do
        [ -e "$WORK/sim.log" ] || break
        awk -v mark="$LOG_MARK" 'NR > mark && /^CONNECT/ { opened++ } NR > mark && /^CLOSE/ { closed++ }
            END { exit opened != closed }' "$WORK/sim.log" && break
        sleep 0.05
    done
    log_since_mark
}

log_since_mark() {
    tail -n +$((LOG_MARK + 1)) "$WORK/sim.log" 2>/dev/null
}

# ---------------------------------------------------------------------------
# Sample trees
# ---------------------------------------------------------------------------

# mk_files EPOCH-SECONDS PATH CONTENT [PATH CONTENT]...: files of one time, with one
# touch for all. (Processes are dear on some virtual machines: no dirname, and mkdir
# only when needed.)
mk_files() {
    local time=$1 paths=() dir
    shift
    while [ $# -ge 2 ]; do
        dir=${1%/*}
        [ -d "${dir:-/}" ] || mkdir -p "$dir"
        printf '%s' "$2" >"$1"
        paths+=("$1")
        shift 2
    done
    touch -d "@$time" "${paths[@]}"
}

# mk_file PATH CONTENT EPOCH-SECONDS
mk_file() {
    mk_files "$3" "$1" "$2"
}

# mk_dir PATH [EPOCH-SECONDS]
mk_dir() {
    mkdir -p "$1"
    [ -n "${2:-}" ] && touch -d "@$2" "$1"
    return 0
}

mtime_of() { stat -c %Y "$1"; }

# assert_file PATH CONTENT [EPOCH-SECONDS]
assert_file() {
    if [ ! -f "$1" ]; then fail "missing file $1"; return; fi
    local got=""
    IFS= read -r -d '' got <"$1"   # the whole file, trailing newlines included
    [ "$got" = "$2" ] || fail "content of $1: '$got', wanted '$2'"
    if [ -n "${3:-}" ]; then
        [ "$(mtime_of "$1")" = "$3" ] || fail "time of $1: $(mtime_of "$1"), wanted $3"
    fi
}

assert_absent() {
    [ ! -e "$1" ] || fail "$1 should not exist"
}

# assert_tree DIR EXPECTED: every entry below DIR as "type path size mtime".
tree_listing() {
    (cd "$1" && find . -mindepth 1 -printf '%y %P %s %T@\n' | sed 's/\.[0-9]*$//' |
        awk '$1=="d"{$3="-"} {print}' | LC_ALL=C sort)
}

assert_tree() {
    local got
    got=$(tree_listing "$1")
    if [ "$got" != "$2" ]; then
        fail "tree $1 differs:"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$got") | sed 's/^/    /'
    fi
}

# ---------------------------------------------------------------------------
# Expected output
# ---------------------------------------------------------------------------

# A number with ',' between groups of three digits.
thousands() {
    printf '%s' "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'
}

# Date column of a listing line for epoch seconds (UTC).
ltime() { date -u -d "@$1" '+%Y-%m-%d %H:%M'; }

# lline CODE SIZE EPOCH PATH [EXTRA]: one listing line (without its line end); SIZE is
# the text as shown ("1,234") or "" for a directory.
lline() {
    printf '%-2s%13s  %s  %s%s' "$1" "$2" "$(ltime "$3")" "$4" "${5:-}"
}

# sline CODE LABEL COUNT: one summary line (without its line end).
sline() {
    local line
    line=$(printf '%-2s  %-29s' "$1" "$2")
    printf '%s%s' "${line:0:$((33 - ${#3}))}" "$3"
}

# Standard output with copy durations masked as " - T".
masked_out() {
    sed -E 's/ - ([0-9]+ days?, )?[0-9]+(:[0-9]+)*\.[0-9]{3}(\r?)$/ - T\3/' "$WORK/out"
}

expect_rc() {
    [ "$RC" = "$1" ] || fail "exit code $RC, wanted $1 (stderr: $(head -c 300 "$WORK/err"))"
}

# expect_out LINE...: standard output, durations masked, byte for byte; each
# argument is one line (an empty one is an empty line), none means no output.
expect_out() {
    local want="" got l
    for l in "$@"; do want+=$l$LE; done
    got=$(masked_out; printf x)
    if [ "${got%x}" != "$want" ]; then
        fail "standard output differs:"
        diff <(printf '%s' "$want" | cat -A) <(printf '%s' "${got%x}" | cat -A) | sed 's/^/    /'
    fi
}

# expect_out_raw TEXT: standard output byte for byte (an unfinished copy line).
expect_out_raw() {
    local got
    got=$(masked_out; printf x)
    if [ "${got%x}" != "$1" ]; then
        fail "standard output differs:"
        diff <(printf '%s' "$1" | cat -A) <(printf '%s' "${got%x}" | cat -A) | sed 's/^/    /'
    fi
}

# expect_err_raw TEXT: standard error byte for byte, whatever the platform.
expect_err_raw() {
    local got
    got=$(cat "$WORK/err"; printf x)
    if [ "${got%x}" != "$1" ]; then
        fail "standard error differs:"
        diff <(printf '%s' "$1" | cat -A) <(printf '%s' "${got%x}" | cat -A) | sed 's/^/    /'
    fi
}

# expect_err TEXT: standard error byte for byte; TEXT is one message with its line
# end (Windows puts a line end before a message when the output is not a console).
expect_err() {
    local want=$1
    [ "$PLATFORM" = windows ] && [ -n "$want" ] && want=$LE$want
    expect_err_raw "$want"
}

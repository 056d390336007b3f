#!/bin/bash
# adbsim's own tests: talks raw bytes to it over /dev/tcp and checks every reply,
# every written file and the request log byte for byte, with and without faults.
# Usage: adbsim_self.sh TOOL-COMMAND ADBSIM PLATFORM WORKDIR (the tool is not used).
set -u
export LC_ALL=C
shopt -s lastpipe   # "requests | case_ ..." runs case_ in this shell, so failures count
ADBSIM=$2
PLATFORM=$3
W=$4
if [ "$PLATFORM" = windows ]; then
    echo "adbsim is a POSIX program; its tests run in the native build"
    exit 0
fi
rm -rf "$W" && mkdir -p "$W" || exit 1
FAILS=0
SIM_PID=
PORT=

fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }

# --- bytes ---------------------------------------------------------------------
t() { printf %s "$1"; }
u32() { local v=$1 x; printf -v x '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $((v >> 8 & 255)) \
    $((v >> 16 & 255)) $((v >> 24 & 255)); printf "$x"; }
rq() { t "$1"; u32 ${#2}; t "$2"; }                   # sync request: id, length, payload
hreq() { printf '%04X%s' ${#1} "$1"; }                 # host request
hfail() { printf 'FAIL%04x%s' ${#1} "$1"; }            # host FAIL as the server frames it
sfail() { t FAIL; u32 ${#1}; t "$1"; }                 # sync FAIL, binary length
okay() { t OKAY; }
zeros() { head -c "$1" /dev/zero; }
# The STAT fields (mode size time) of a host path, from lstat.
fields() { local m s y; read -r m s y < <(stat -c '%f %s %Y' "$1"); u32 $((16#$m)); u32 "$s"; u32 "$y"; }
dent() { t DENT; fields "$1"; u32 ${#2}; t "$2"; }    # host path, name
dent_done() { t DONE; zeros 16; }
start() { okay; okay; }                                # transport and sync: accepted
open_sync() { hreq host:transport-any; hreq sync:; }

# --- adbsim and sessions ---------------------------------------------------------
sim() {
    rm -f "$W/ready" "$W/log"
    LOG_START=0
    "$ADBSIM" --port 0 --ready "$W/ready" --log "$W/log" "$@" > "$W/stdout" 2> "$W/stderr" &
    SIM_PID=$!
    for ((try = 0; try < 200; try++)); do
        [ -s "$W/ready" ] && break
        kill -0 $SIM_PID 2> /dev/null || break
        sleep 0.05
    done
    PORT=$(cat "$W/ready" 2> /dev/null)
    [ -n "$PORT" ] || { fail "adbsim did not start: $*"; cat "$W/stderr"; return 1; }
}

# Stops adbsim and checks that it ends, with status 0, within a bounded wait.
unsim() {
    kill -TERM $SIM_PID 2> /dev/null
    for ((try = 0; try < 1000; try++)); do   # 10 s at most; it takes a few ms
        kill -0 $SIM_PID 2> /dev/null || break
        sleep 0.01
    done
    if kill -0 $SIM_PID 2> /dev/null; then
        fail "adbsim ignores SIGTERM"
        kill -KILL $SIM_PID
    fi
    wait $SIM_PID || fail "adbsim ended with status $?"
}

# Sends the file $W/request on a new connection and reads the reply until adbsim closes.
converse() {
    LOG_START=$(wc -l < "$W/log")
    exec 3<> /dev/tcp/127.0.0.1/$PORT || { fail "cannot connect"; return 1; }
    (cat "$W/request" >&3 2> /dev/null) &
    timeout "${1:-20}" cat <&3 > "$W/reply"
    wait $! 2> /dev/null
    exec 3>&-
}

# Compares $W/reply with $W/expect.
same() {
    if ! cmp -s "$W/reply" "$W/expect"; then
        fail "$1: reply differs"
        echo "  expected:"; od -A d -c "$W/expect" | head -12
        echo "  received:"; od -A d -c "$W/reply" | head -12
    fi
}

# Compares the request log of the last session with the lines given. adbsim writes
# CLOSE once it has seen the client leave, so that line may take a moment.
same_log() {
    for ((try = 0; try < 100; try++)); do
        [ "$(tail -n 1 "$W/log")" = CLOSE ] && break
        sleep 0.05
    done
    if ! diff <(printf '%s\n' "$@") <(tail -n +$((LOG_START + 1)) "$W/log") > "$W/logdiff"; then
        fail "$CASE: request log differs"
        cat "$W/logdiff"
    fi
}

# One case: the request bytes on stdin are sent, the expected reply is built by the
# function named first.
case_() {
    CASE=$1
    cat > "$W/request"
    "$2" > "$W/expect"
    converse
    same "$CASE"
}

# --- a device --------------------------------------------------------------------
D=$W/dev
mkdir -p "$D/sdcard/sub" "$D/sdcard/dir" "$W/other"
printf 'hello\n' > "$D/sdcard/a.txt"
head -c 70000 /dev/urandom > "$D/sdcard/big.bin"
ln -s a.txt "$D/sdcard/link"
mkfifo "$D/sdcard/fifo"
touch "$D/sdcard/empty"
echo outside > "$W/outside"
touch -h -d @1600000000 "$D/sdcard/a.txt" "$D/sdcard/link" "$D/sdcard/big.bin" "$D/sdcard/fifo" \
    "$D/sdcard/empty" "$D/sdcard/sub" "$D/sdcard/dir" "$D/sdcard"

# === host services ================================================================
sim || exit 1
for pair in "host:transport-any|no devices/emulators found" "host:transport-local|no emulators found" \
    "host:transport:R58M|device 'R58M' not found" "host:transport-usb|no devices found" \
    "sync:|no devices/emulators found" "host:frobnicate|unknown host service" "|unknown host service"; do
    service=${pair%%|*} text=${pair#*|}
    exp() { hfail "$text"; }
    hreq "$service" | case_ "no device: $service" exp
done
exp() { t OKAY00040029; }
hreq host:version | case_ "host:version" exp
LOG_START=0   # all the sessions above
same_log CONNECT host:transport-any CLOSE CONNECT host:transport-local CLOSE CONNECT host:transport:R58M CLOSE \
    CONNECT host:transport-usb CLOSE CONNECT sync: CLOSE CONNECT host:frobnicate CLOSE CONNECT "" CLOSE \
    CONNECT host:version CLOSE
unsim

sim --device emulator-5554="$D" --device R58M="$D" --device emulator-5556="$D" || exit 1
exp() { hfail "more than one device/emulator"; }
hreq host:transport-any | case_ "several devices, any" exp
exp() { hfail "more than one emulator"; }
hreq host:transport-local | case_ "several emulators" exp
exp() { okay; okay; }
{ hreq host:transport:emulator-5556; hreq sync:; rq QUIT ""; } | case_ "transport by serial" exp
{ hreq host:transport-usb; hreq sync:; rq QUIT ""; } | case_ "the one usb device" exp
unsim
sim --device emulator-5554="$W/other" --device R58M="$D" || exit 1
exp() { okay; okay; t STAT; zeros 12; }
{ hreq host:transport-local; hreq sync:; rq STAT /sdcard/a.txt; rq QUIT ""; } | case_ "local picks the emulator" exp
exp() { okay; okay; t STAT; fields "$D/sdcard/a.txt"; }
{ hreq host:transport:R58M; hreq sync:; rq STAT /sdcard/a.txt; rq QUIT ""; } | case_ "serial picks its device" exp
unsim

# === sync service =================================================================
sim --device emulator-5554="$D" || exit 1
exp() {
    start
    t STAT; fields "$D/sdcard/a.txt"
    t STAT; fields "$D/sdcard/sub"
    t STAT; zeros 12
    t STAT; fields "$D/sdcard/link"
    t STAT; zeros 12
}
{ open_sync; rq STAT /sdcard/a.txt; rq STAT /sdcard/sub; rq STAT /sdcard/nothing; rq STAT /sdcard/link
  rq STAT /sdcard/../../outside; rq QUIT ""; } | case_ "STAT of a file, a directory, nothing, a link, outside" exp
[ "$(od -A n -t x1 -j 60 -N 4 "$W/reply" | tr -d ' ')" = ffa10000 ] || fail "a link's mode is not 0120777 on the wire"
same_log CONNECT host:transport-any sync: "STAT /sdcard/a.txt" "STAT /sdcard/sub" "STAT /sdcard/nothing" \
    "STAT /sdcard/link" "STAT /sdcard/../../outside" QUIT CLOSE

# The v2 fields of a host path (stat with -L): error 0, dev, ino, mode, nlink 1, uid,
# gid, 64-bit size, and the time as atime, mtime and ctime.
v2fields() { local m z y d i; read -r m z y d i < <(stat ${2:-} -c '%f %s %Y %d %i' "$1"); u32 0
    for n in $d $i; do u32 $((n & 0xffffffff)); u32 $((n >> 32)); done; u32 $((16#$m))
    u32 1; zeros 8; u32 "$z"; u32 0; for _ in 1 2 3; do u32 "$y"; u32 0; done; }
exp() { start; t STA2; v2fields "$D/sdcard/link" -L; t LST2; v2fields "$D/sdcard/link"; t LST2; u32 2; zeros 64; }
{ open_sync; rq STA2 /sdcard/link; rq LST2 /sdcard/link; rq LST2 /sdcard/nothing; rq QUIT ""; } |
    case_ "STA2 follows a link, LST2 does not, ENOENT for nothing" exp
features=shell_v2,cmd,stat_v2,ls_v2,fixed_push_mkdir,apex,abb,fixed_push_symlink_timestamp,abb_exec
exp() { printf 'OKAY%04x%s' ${#features} $features; }
hreq host-serial:emulator-5554:features | case_ "features of a device by serial" exp
exp() { hfail "device 'R58M' not found"; }
hreq host-serial:R58M:features | case_ "features of a missing device" exp
unsim
sim --device emulator-5554="$D" --no-v2 || exit 1
exp() { printf 'OKAY000cshell_v2,cmd'; }
hreq host:features | case_ "--no-v2: features without v2" exp
exp() { start; }
{ open_sync; rq LST2 /sdcard/link; } | case_ "--no-v2: LST2 is unknown" exp
unsim
sim --device emulator-5554="$D" || exit 1

exp() {
    start
    dent "$D/sdcard/." .; dent "$D/sdcard/.." ..
    for n in $(ls -A "$D/sdcard" | sort); do dent "$D/sdcard/$n" $n; done
    dent_done
    dent "$D/sdcard/sub/." .; dent "$D/sdcard/sub/.." ..; dent_done
    dent_done
    dent_done
}
{ open_sync; rq LIST /sdcard; rq LIST /sdcard/sub; rq LIST /sdcard/nothing; rq LIST /sdcard/a.txt
  rq QUIT ""; } | case_ "LIST of a directory, an empty one, nothing, a file" exp

sim_reverse_exp() {
    start
    dent "$D/sdcard/." .; dent "$D/sdcard/.." ..
    for n in $(ls -A "$D/sdcard" | sort -r); do dent "$D/sdcard/$n" $n; done
    dent_done
}

exp() {
    start
    t DATA; u32 6; t $'hello\n'; t DONE; u32 0
    t DATA; u32 65536; head -c 65536 "$D/sdcard/big.bin"; t DATA; u32 4464; tail -c 4464 "$D/sdcard/big.bin"
    t DONE; u32 0
    t DONE; u32 0
}
{ open_sync; rq RECV /sdcard/a.txt; rq RECV /sdcard/big.bin; rq RECV /sdcard/empty; rq QUIT ""; } |
    case_ "RECV in 65536-byte records" exp

exp() { start; sfail "No such file or directory"; }
{ open_sync; rq RECV /sdcard/nothing; rq QUIT ""; } | case_ "RECV of nothing" exp
exp() { start; sfail "Is a directory"; }
{ open_sync; rq RECV /sdcard/sub; rq QUIT ""; } | case_ "RECV of a directory" exp
same_log CONNECT host:transport-any sync: "RECV /sdcard/sub" CLOSE

exp() { start; okay; u32 0; okay; u32 0; t STAT; u32 $((0100640)); u32 70003; u32 1500000000; }
{ open_sync; rq SEND /sdcard/new/deeper/b.bin,33184; t DATA; u32 65536; head -c 65536 "$D/sdcard/big.bin"
  t DATA; u32 4464; tail -c 4464 "$D/sdcard/big.bin"; t DATA; u32 3; t abc; t DONE; u32 1500000000
  rq SEND /sdcard/empty2,33279; t DONE; u32 1400000000
  rq STAT /sdcard/new/deeper/b.bin; rq QUIT ""; } | case_ "SEND into new directories" exp
{ cat "$D/sdcard/big.bin"; t abc; } > "$W/sent"
cmp -s "$W/sent" "$D/sdcard/new/deeper/b.bin" || fail "SEND stored other bytes"
[ "$(stat -c '%s %Y %a' "$D/sdcard/empty2")" = "0 1400000000 777" ] || fail "empty SEND: $(stat -c '%s %Y %a' "$D/sdcard/empty2")"
[ -z "$(find "$D" -name '*.adbsim-*')" ] || fail "SEND left a temporary file"
same_log CONNECT host:transport-any sync: "SEND /sdcard/new/deeper/b.bin,33184" "DATA 65536" "DATA 4464" "DATA 3" \
    "DONE 1500000000" "SEND /sdcard/empty2,33279" "DONE 1400000000" "STAT /sdcard/new/deeper/b.bin" QUIT CLOSE

exp() { start; okay; u32 0; t DATA; u32 3; t xyz; t DONE; u32 0; }
{ open_sync; rq SEND /sdcard/a.txt,33279; t DATA; u32 3; t xyz; t DONE; u32 1600000001
  rq RECV /sdcard/a.txt; rq QUIT ""; } | case_ "SEND replaces a file" exp
printf 'hello\n' > "$D/sdcard/a.txt"; touch -d @1600000000 "$D/sdcard/a.txt" "$D/sdcard"

exp() { start; sfail "couldn't create file: Is a directory"; }
{ open_sync; rq SEND /sdcard/sub,33279; t DATA; u32 3; t abc; t DONE; u32 1; rq STAT /sdcard; } |
    case_ "SEND onto a directory fails early" exp
same_log CONNECT host:transport-any sync: "SEND /sdcard/sub,33279" "DATA 3" "DONE 1" CLOSE
exp() { start; sfail "couldn't create file: Not a directory"; }
{ open_sync; rq SEND /sdcard/a.txt/x,33279; t DONE; u32 1; } | case_ "SEND below a file" exp
exp() { start; sfail "oversize data message"; }
{ open_sync; rq SEND /sdcard/c.txt,33279; t DATA; u32 65537; head -c 65537 /dev/zero; } | case_ "DATA of 65537 bytes" exp
exp() { start; sfail "invalid data message"; }
{ open_sync; rq SEND /sdcard/c.txt,33279; t DATX; u32 0; } | case_ "SEND with a DATX record" exp
exp() { start; sfail "missing , in ID_SEND"; }
{ open_sync; rq SEND /sdcard/c.txt; t DONE; u32 0; } | case_ "SEND without a mode" exp
[ ! -e "$D/sdcard/c.txt" ] || fail "a failed SEND left c.txt"
[ -z "$(find "$D" -name '*.adbsim-*')" ] || fail "a failed SEND left a temporary file"

exp() { start; sfail "path too long"; }
{ open_sync; rq STAT "/$(printf 'p%.0s' $(seq 1024))"; } | case_ "a path of 1025 bytes" exp
same_log CONNECT host:transport-any sync: "STAT length=1025" CLOSE
exp() { start; t STAT; zeros 12; }
{ open_sync; rq STAT "/$(printf 'p%.0s' $(seq 1023))"; rq QUIT ""; } | case_ "a path of 1024 bytes" exp

exp() { start; }
{ open_sync; rq STAX /x; rq QUIT ""; } | case_ "unknown sync request" exp
same_log CONNECT host:transport-any sync: "UNKNOWN STAX 2" CLOSE
exp() { :; }
t 'zz12host:version' | case_ "host length that is not hex" exp
same_log CONNECT 'BAD-LENGTH zz12' CLOSE
exec 3<> /dev/tcp/127.0.0.1/$PORT && t '0020host:ver' >&3 && exec 3>&-   # leaves in the middle
exp() { t OKAY00040029; }
hreq host:version | case_ "still serving after bad clients" exp
exp() { start; t STAT; fields "$D/sdcard/a.txt"; }
{ open_sync; rq STAT $'/sdcard/a.txt'; rq QUIT ""; rq STAT /sdcard/a.txt; } | case_ "nothing after QUIT" exp
same_log CONNECT host:transport-any sync: "STAT /sdcard/a.txt" QUIT CLOSE
exp() { start; t STAT; zeros 12; }
{ open_sync; rq STAT $'/sdcard/a\nb\\c'; rq QUIT ""; } | case_ "control bytes in the log" exp
same_log CONNECT host:transport-any sync: 'STAT /sdcard/a\x0ab\\c' QUIT CLOSE
unsim

sim --device emulator-5554="$D" --list-order reverse --recv-chunk 100000 || exit 1
exp() { sim_reverse_exp; t DATA; u32 70000; cat "$D/sdcard/big.bin"; t DONE; u32 0; }
{ open_sync; rq LIST /sdcard; rq RECV /sdcard/big.bin; rq QUIT ""; } | case_ "reverse order, 100000-byte chunks" exp
unsim

sim --device emulator-5554="$D" --once || exit 1
exp() { t OKAY00040029; }
hreq host:version | case_ "--once" exp
for ((try = 0; try < 1000; try++)); do kill -0 $SIM_PID 2> /dev/null || break; sleep 0.01; done
kill -0 $SIM_PID 2> /dev/null && { fail "--once: still running"; kill $SIM_PID; }
wait $SIM_PID || fail "--once: status $?"

# === faults =======================================================================
# fault_case NAME RULE... -- runs one session (request on stdin) against adbsim with
# those faults and compares the reply with the function exp.
fault_case() {
    local name=$1 args=()
    shift
    for rule in "$@"; do args+=(--fault "$rule"); done
    cat > "$W/request.in"
    sim --device emulator-5554="$D" "${args[@]}" || return
    case_ "$name" exp < "$W/request.in"
    unsim
}
qs() { open_sync; rq STAT /sdcard/a.txt; rq QUIT ""; }   # a short session
stat_a() { t STAT; fields "$D/sdcard/a.txt"; }

exp() { hfail "device offline"; }
qs | fault_case "transport fail" 'transport fail "device offline"'
exp() { okay; hfail ""; }
qs | fault_case "sync fail with no text" 'sync fail ""'
exp() { okay; t FAIL07d0; printf 'a%.0s' $(seq 1023); printf 'b%.0s' $(seq 977); }
qs | fault_case "sync fail with 2000 bytes" 'sync fail a\{1023}b\{977}'
exp() { printf 'FAIL000f\x1b[1m\tred\nline\\"'; }
qs | fault_case "control characters and escapes" 'transport fail "\x1b[1m\tred\nline\\\""'
exp() { t FAIL12G4; okay; stat_a; }
qs | fault_case "transport raw" 'transport raw FAIL12G4'
exp() { t OKAX; okay; stat_a; }
qs | fault_case "transport id" 'transport id OKAX'
exp() { okay; t OKAX; stat_a; }
qs | fault_case "sync id" 'sync id OKAX'
exp() { okay; hfail "gone"; }
{ hreq host:transport-local; hreq sync:; } | fault_case "transport by path" 'transport=host:transport-any fail x' \
    'sync fail gone'
exp() { start; t STAX; fields "$D/sdcard/a.txt"; }
qs | fault_case "stat id" 'stat id STAX'
exp() { start; t STAT; u32 $((040771)); u32 12; u32 1600000000; t STAT; zeros 12; }
{ open_sync; rq STAT /sdcard/nothing; rq STAT /sdcard/a.txt; rq QUIT ""; } |
    fault_case "stat reply for a path, occurrence of a path" 'stat=/sdcard/nothing reply 040771 12 1600000000' \
    'stat#1=/sdcard/a.txt reply 0 0 0'
exp() { start; stat_a; }
{ open_sync; rq STAT /sdcard/a.txt; rq STAT /sdcard/a.txt; rq QUIT ""; } | fault_case "stat#2 close" 'stat#2 close'
same_log CONNECT host:transport-any sync: "STAT /sdcard/a.txt" "STAT /sdcard/a.txt" CLOSE
exp() { start; stat_a; stat_a; }
{ open_sync; rq STAT /sdcard/a.txt; rq STAT /sdcard/a.txt; rq QUIT ""; } | fault_case "stall, trickle" 'stat stall 0.2' \
    'stat#2 trickle 5'
exp() { okay; t OK; }
qs | fault_case "close after 6 bytes in all" 'any close-after 6'
exp() { start; t STAT; fields "$D/sdcard/a.txt" | head -c 3; }
qs | fault_case "close after 7 bytes of a step" 'stat close-after 7'
exp() { start; stat_a; }
qs | fault_case "trickle everything" 'any trickle 1'
exp() { :; }
qs | fault_case "connect close" 'connect close'
exp() { okay; }
qs | fault_case "sync close" 'sync close'

exp() { start; t DENX; fields "$D/sdcard/sub/."; u32 1; t .; dent "$D/sdcard/sub/.." ..; dent_done; }
{ open_sync; rq LIST /sdcard/sub; rq QUIT ""; } | fault_case "list id" 'list id DENX'
exp() {
    start
    dent "$D/sdcard/sub/." .; dent "$D/sdcard/sub/.." ..
    t DENT; u32 $((0100644)); u32 5; u32 1600000000; u32 3; t a/b
    t DENT; u32 $((0100644)); u32 5; u32 0; u32 2; t ..
    t DENT; u32 $((0100644)); u32 5; u32 1600000000; u32 300; printf 'n%.0s' $(seq 300)
    t DENT; u32 $((0100644)); u32 0; u32 0; u32 0
    t DENT; u32 0xffffffff; u32 0xffffffff; u32 0xffffffff; u32 3; printf 'x\ty'
    dent_done
    dent "$D/sdcard/dir/." .; dent "$D/sdcard/dir/.." ..; dent_done
}
{ open_sync; rq LIST /sdcard/sub; rq LIST /sdcard/dir; rq QUIT ""; } | fault_case "injected DENT records" \
    'list=/sdcard/sub dent 0100644 5 1600000000 a/b' 'list=/sdcard/sub dent 0100644 5 0 ..' \
    'list=/sdcard/sub dent 0100644 5 1600000000 n\{300}' 'list=/sdcard/sub dent 0100644 0 0 ""' \
    'list=/sdcard/sub dent 0xffffffff 4294967295 037777777777 x\ty'
exp() { start; t DONE; zeros 16; }
{ open_sync; rq LIST /sdcard; rq QUIT ""; } | fault_case "list raw" "list raw DONE\\x00\\{16}"

SEND_REQ() { open_sync; rq SEND /sdcard/f.txt,33279; for _ in 1 2 3; do t DATA; u32 4; t abcd; done
    t DONE; u32 1600000002; rq STAT /sdcard/f.txt; rq QUIT ""; }
f_stat() { t STAT; u32 $((0100777)); u32 12; u32 1600000002; }
exp() { start; sfail "Read-only file system"; }
SEND_REQ | fault_case "send refused early" 'send fail "Read-only file system"'
same_log CONNECT host:transport-any sync: "SEND /sdcard/f.txt,33279" "DATA 4" "DATA 4" "DATA 4" "DONE 1600000002" CLOSE
[ ! -e "$D/sdcard/f.txt" ] || fail "a refused SEND stored the file"
exp() { start; sfail "disk full"; }
SEND_REQ | fault_case "send refused at the second DATA" 'data#2 fail "disk full"'
exp() { start; sfail "write error"; }
SEND_REQ | fault_case "send refused after DONE" 'done fail "write error"'
[ ! -e "$D/sdcard/f.txt" ] || fail "a SEND refused after DONE stored the file"
[ -z "$(find "$D" -name '*.adbsim-*')" ] || fail "a refused SEND left a temporary file"
exp() { start; t OKAX; u32 0; t STAT; zeros 12; }
SEND_REQ | fault_case "send id, discard-data" 'send id OKAX' 'send discard-data'
same_log CONNECT host:transport-any sync: "SEND /sdcard/f.txt,33279" "DATA 4" "DATA 4" "DATA 4" \
    "DONE 1600000002 bytes=12" "STAT /sdcard/f.txt" QUIT CLOSE
exp() { start; okay; u32 4; t fine; f_stat; }
SEND_REQ | fault_case "send okay-text" 'done okay-text fine'
rm -f "$D/sdcard/f.txt"
exp() { start; t OKAY; }
SEND_REQ | fault_case "send raw" 'send raw OKAY'
exp() { start; t FAIL; u32 2 | head -c 2; }
SEND_REQ | fault_case "close in the middle of a status" 'done close-after 6' 'done fail xy'
exp() { start; }
SEND_REQ | fault_case "close at data" 'data#3 close'
same_log CONNECT host:transport-any sync: "SEND /sdcard/f.txt,33279" "DATA 4" "DATA 4" "DATA 4" CLOSE

RECV_REQ() { open_sync; rq RECV /sdcard/a.txt; rq QUIT ""; }
exp() { start; sfail "Permission denied"; }
RECV_REQ | fault_case "recv fail" 'recv fail "Permission denied"'
exp() { start; t DATA; u32 2; t he; t DATA; u32 2; t ll; t DATA; u32 1; t o; sfail "I/O error"; }
RECV_REQ | fault_case "recv fail-after, chunk" 'recv fail-after 5 "I/O error"' 'recv chunk 2'
exp() { start; t XXXX; u32 6; t $'hello\n'; t DONE; u32 0; }
RECV_REQ | fault_case "recv id" 'recv id XXXX'
exp() { start; t DATA; u32 10; t $'hello\n'; zeros 4; t DONE; u32 0; t DATA; u32 3; t hel; t DONE; u32 0; }
{ open_sync; rq RECV /sdcard/a.txt; rq RECV /sdcard/a.txt; rq QUIT ""; } |
    fault_case "recv size: padded, cut" 'recv#1 size 10' 'recv#2 size 3'
exp() { start; t DATA; u32 100; t $'hello\n'; t DONE; u32 3; t abc; t DATA; u32 4; t xxxx; }
RECV_REQ | fault_case "recv data-length, done-text, data-after-done" 'recv data-length 100' 'recv done-text abc' \
    'recv data-after-done 4'
exp() { start; t DATA; u32 6; t $'hello\n'; t DONE; u32 0; }
{ open_sync; rq RECV /sdcard/a.txt; rq QUIT ""; } | fault_case "recv trickle" 'recv trickle 2'

# A stall that never ends: no reply comes, the server notices a client that leaves,
# and SIGTERM still stops it.
sim --device emulator-5554="$D" --fault 'list stall forever' || exit 1
{ open_sync; rq LIST /sdcard; } > "$W/request"
exp() { start; }
exp > "$W/expect"
converse 2
same "stall forever"
{ open_sync; rq STAT /sdcard/a.txt; rq QUIT ""; } > "$W/request"
exp() { start; stat_a; }
exp > "$W/expect"; converse; same "after a stalled client left"
unsim

# A scenario file, with comments and quoting.
cat > "$W/scenario" << 'EOF'
# the first STAT is answered with a chosen reply
  stat#1 reply 0100600 1 2

stat#2 id "ST T"
EOF
sim --device emulator-5554="$D" --scenario "$W/scenario" || exit 1
{ open_sync; rq STAT /sdcard/x; rq STAT /sdcard/x; rq QUIT ""; } > "$W/request"
exp() { start; t STAT; u32 $((0100600)); u32 1; u32 2; t "ST T"; zeros 12; }
exp > "$W/expect"; converse; same "scenario file"
unsim

# Bad fault specs are refused with a message and status 2.
for rule in 'stat' 'transport fail x\{65536}' 'nowhere fail x' 'stat fail x' 'stat boom' 'any close' 'stat#0 close' 'quit=/x close' \
    'stat id ABC' 'list dent 1 2 3' 'recv fail "open' 'recv chunk 0' 'transport fail \q' 'stat stall soon'; do
    "$ADBSIM" --port 0 --fault "$rule" > /dev/null 2> "$W/stderr"
    status=$?
    [ $status = 2 ] || fail "fault '$rule' accepted (status $status)"
    grep -q "^adbsim: fault '" "$W/stderr" || fail "fault '$rule': no message"
done
"$ADBSIM" --port 0 --device nodir > /dev/null 2>&1
[ $? = 2 ] || fail "--device without a directory accepted"

if [ $FAILS -ne 0 ]; then
    echo "$FAILS check(s) failed"
    exit 1
fi
echo "adbsim: all checks passed"

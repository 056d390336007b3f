#!/bin/bash
# The dry run against a real run of the same trees, and (POSIX) the progress line
# under a pseudo-terminal: shown during a slow comparison and copy, never when
# redirected, gone from the screen at the end, through resizes and a closed terminal.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@"

T=1600000000
H=$WORK/host
D=$WORK/device
S=$D/sdcard

build_host() {
    rm -rf "$H"
    mk_file "$H/hnew.txt" "host new" $T
    mk_file "$H/hdir/sub/deep.txt" deep $T          # a folder on the host only
    mk_file "$H/both/h.txt" "host newer" $((T + 60))
    mk_file "$H/both/d.txt" old $T
}

build_device() {
    rm -rf "$D"
    mk_file "$S/both/h.txt" old $T
    mk_file "$S/both/d.txt" "device newer" $((T + 9))
    mk_file "$S/ddir/in/d.txt" "device deep" $T     # a folder on the device only
    mk_file "$S/dnew.txt" "dev new" $T
}

build_host
build_device
sim_start "$D"

scenario "-n -s -l -acus -hcus: the real run's lines marked 'dry run', nothing sent or written"
before=$(tree_listing "$H"; tree_listing "$D")
run_tool -n -s -l -acus -hcus host:"$H" sdcard
expect_rc 0
expect_err ""
run_log | grep -qE '^(SEND|RECV|DATA|DONE)' && fail "the dry run sent or fetched files"
[ "$(tree_listing "$H"; tree_listing "$D")" = "$before" ] || fail "the dry run changed a tree"
dry=$(masked_out | sed -E "s/ - dry run(\r?)$/ - T\1/")
[ "$(tail -n 1 <<<"$dry")" = "Dry run: 3 files (22 bytes) to push, 3 files (30 bytes) to pull${LE%$'\n'}" ] ||
    fail "totals line: $(tail -n 1 <<<"$dry")"
run_tool -s -l -acus -hcus host:"$H" sdcard
expect_rc 0
[ "$(head -n -2 <<<"$dry")" = "$(masked_out)" ] ||
    fail "lines differ from the real run's:$(diff <(head -n -2 <<<"$dry") <(masked_out) | sed 's/^/    /')"

scenario "-n -q after the real run: only the totals, nothing left to copy"
run_tool -n -q -s -acus -hcus host:"$H" sdcard
expect_rc 0
expect_out "Dry run: 0 files (0 bytes) to push, 0 files (0 bytes) to pull"

if [ "$PLATFORM" = windows ]; then e2e_finish; fi

# A slow link: every level of the comparison and the big file's pull take seconds.
PY=/usr/bin/python3   # not a version manager's shim: it costs a hundred processes a call
[ -x "$PY" ] || PY=python3
PTY="$PY $E2E_DIR/lib/ptyrun.py"
build_device
mk_dir "$S/ddir/in/a/b/c/d"
head -c $((16 << 20)) /dev/urandom >"$S/big.bin"
sim_start "$D" --delay-ms 300
build_host

scenario "the progress line on a terminal: reading, then copying; the screen keeps the normal output"
$PTY run "$WORK/raw" resize "${TOOL[@]}" -s -hcus "$H" sdcard
RC=$?
expect_rc 0
grep -q $'\r''Reading: [0-9,]* director' "$WORK/raw" || fail "no reading line: $(cat -A "$WORK/raw" | head -c 400)"
grep -qa $'\r''\[ *[0-9]*%\] big.bin  0/4 files  [0-9.]* [kM]*B/16.0 MB' "$WORK/raw" ||
    fail "no copy line: $(cat -A "$WORK/raw" | head -c 400)"
cmp -s "$H/big.bin" "$S/big.bin" || fail "big.bin arrived changed"
screen=$($PTY screen "$WORK/raw" | sed -E 's/ - [0-9:.]+$/ - T/')
build_host
run_tool -s -hcus host:"$H" sdcard
[ "$screen" = "$(masked_out)" ] ||
    fail "screen differs from the redirected output:$(diff <(echo "$screen") <(masked_out) | sed 's/^/    /')"
grep -q '%\]\|Reading' "$WORK/out" && fail "progress in redirected output"

scenario "a message on standard error takes the line away first, and starts where it would"
sim_start "$D" --delay-ms 300 --fault 'list=/sdcard/ddir/in/a/b stall 1' \
    --fault 'list=/sdcard/ddir/in/a/b dent-error 5 bad'
build_host
$PTY run "$WORK/raw" both "${TOOL[@]}" -s -hcus "$H" sdcard
RC=$?
expect_rc 0
grep -qa $'\r''Skipped device entry' "$WORK/raw" || fail "the message did not follow an erased line"
screen=$($PTY screen "$WORK/raw" | sed -E 's/ - [0-9:.]+$/ - T/')
build_host
"${TOOL[@]}" -s -hcus "$H" sdcard >"$WORK/out" 2>&1
[ "$screen" = "$(masked_out)" ] ||
    fail "screen differs from the redirected output:$(diff <(echo "$screen") <(masked_out) | sed 's/^/    /')"

scenario "a terminal closed under the progress line: the run goes on and ends well"
build_host
$PTY run "$WORK/raw" close "${TOOL[@]}" -s -hcus "$H" sdcard
RC=$?
expect_rc 0
cmp -s "$H/big.bin" "$S/big.bin" || fail "big.bin arrived changed"

e2e_finish

#!/bin/bash
# Transfers that go wrong: device FAILs during a SEND (early, after DONE) and during
# a RECV, a dropped connection, unknown ids, a device that lies about sizes, long
# status texts, names that try to leave the roots, a full host disk (exit 10) and a
# host file that reads short (exit 9). Whatever happens, the host keeps its files.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@" -m     # a mount namespace of its own for the small file system

T=1600000000   # 2020-09-13 12:26:40 UTC
H=$WORK/host
D=$WORK/device
S=$D/sdcard

# An error message written while a copy line is open starts on a line of its own.
err_after_copy_line() {
    expect_err_raw "$LE$1$LE"
}

push_fixture() {
    rm -rf "$H" "$D"
    mkdir -p "$S"
    mk_file "$H/a.txt" "first" $T
    head -c 1048576 /dev/urandom >"$H/big.bin"; touch -d @$T "$H/big.bin"
    mk_file "$H/z.txt" "last" $T
}

pull_fixture() {
    rm -rf "$H" "$D"
    mk_file "$H/upd.bin" "the old host copy" $T
    head -c 300000 /dev/urandom >"$WORK/upd.data"
    mkdir -p "$S"; cp "$WORK/upd.data" "$S/upd.bin"; touch -d @$((T + 3600)) "$S/upd.bin"
    mk_file "$S/ddir/new/x.txt" "x" $T
    HOST_BEFORE=$(tree_listing "$H")
}

# The host tree is exactly as it was before the run: no file replaced, nothing left.
host_unchanged() {
    assert_tree "$H" "$HOST_BEFORE"
    assert_file "$H/upd.bin" "the old host copy" $T
}

L_big=$(lline "->" 1,048,576 $T big.bin)
L_upd=$(lline "<~" 300,000 $((T + 3600)) upd.bin "  +293kB  +1h")

scenario "a FAIL sent early during a SEND ends the run with its text"
push_fixture
sim_start "$D" --fault 'send=/sdcard/big.bin fail "cannot create file"'
run_tool -a -v host:"$H" sdcard
expect_rc 2
expect_out_raw "$LE$(lline "->" 5 $T a.txt) - T$LE$L_big - "
err_after_copy_line 'Error "cannot create file" from ADB'
run_log | grep -q '^SEND /sdcard/z.txt' && fail "went on after the FAIL"
run_log | grep -q '^QUIT' && fail "QUIT after a fatal error"

scenario "a FAIL after DONE ends the run with its text"
push_fixture
sim_start "$D" --fault 'done=/sdcard/big.bin fail "disk full"'
run_tool -a host:"$H" sdcard
expect_rc 2
expect_out_raw "$(lline "->" 5 $T a.txt) - T$LE$L_big - "
err_after_copy_line 'Error "disk full" from ADB'

scenario "a FAIL text is made safe for the console and cut at 255 bytes"
push_fixture
sim_start "$D" --fault 'send=/sdcard/a.txt fail "bad\x01\x1b\ttext\ny\{300}"'
run_tool -a host:"$H" sdcard
expect_rc 2
long=$(printf 'y%.0s' $(seq 1 244))
err_after_copy_line "Error \"bad???text?$long\" from ADB"

scenario "an OKAY text longer than 255 bytes is read and dropped"
push_fixture
sim_start "$D" --fault 'done=/sdcard/a.txt okay-text "k\{300}"'
run_tool -a -q host:"$H" sdcard
expect_rc 0
expect_err ""
assert_file "$S/a.txt" first $T
assert_file "$S/z.txt" last $T
cmp -s "$H/big.bin" "$S/big.bin" || fail "big.bin arrived changed"

scenario "a status with an unknown id"
push_fixture
sim_start "$D" --fault 'done=/sdcard/a.txt id WHAT'
run_tool -a host:"$H" sdcard
expect_rc 2
err_after_copy_line "Unknown response from ADB"

scenario "a RECV that the device refuses leaves neither a file nor directories"
pull_fixture
sim_start "$D" --fault 'recv=/sdcard/ddir/new/x.txt fail "permission denied"'
run_tool -s -hcs host:"$H" sdcard
expect_rc 2
err_after_copy_line 'Error "permission denied" from ADB'
assert_absent "$H/ddir"
host_unchanged

scenario "a FAIL in the middle of a pull keeps the old host file"
pull_fixture
sim_start "$D" --fault 'recv=/sdcard/upd.bin fail-after 100000 "read error"'
run_tool -h host:"$H" sdcard
expect_rc 2
expect_out_raw "$L_upd - "
err_after_copy_line 'Error "read error" from ADB'
host_unchanged

scenario "a connection dropped in the middle of a pull keeps the old host file"
pull_fixture
sim_start "$D" --fault 'recv=/sdcard/upd.bin close-after 70000'
run_tool -h host:"$H" sdcard
expect_rc 2
err_after_copy_line "No response from ADB"
host_unchanged

scenario "an unknown record id during a pull keeps the old host file"
pull_fixture
sim_start "$D" --fault 'recv=/sdcard/upd.bin id JUNK'
run_tool -h host:"$H" sdcard
expect_rc 2
err_after_copy_line "Unknown response from ADB"
host_unchanged

scenario "a device file that shrank since it was listed replaces nothing; exit 10"
pull_fixture
sim_start "$D" --fault 'recv=/sdcard/upd.bin size 1000'
run_tool -h host:"$H" sdcard
expect_rc 10
expect_out_raw "$L_upd - File changed while copied, not copied$LE"
expect_err ""
host_unchanged
run_log | grep -q '^QUIT' || fail "the run did not end as usual"

scenario "a DATA record after DONE does not leak into the next pulled file"
pull_fixture
mk_file "$H/w.txt" "old w" $T; mk_file "$S/w.txt" "new w" $((T + 60))
HOST_BEFORE=$(tree_listing "$H")
sim_start "$D" --fault 'recv=/sdcard/upd.bin data-after-done 7'
run_tool -h host:"$H" sdcard
# Seen before the next request, the stray record ends the run (2); arrived later, it
# makes the next file's length wrong and that file is skipped (10). Both keep w.txt.
case $RC in
    2) err_after_copy_line "Unknown response from ADB" ;;
    10) grep -q 'w.txt.* - File changed while copied, not copied' "$WORK/out" || fail "no skip line" ;;
    *) fail "exit code $RC" ;;
esac
cmp -s "$WORK/upd.data" "$H/upd.bin" || fail "upd.bin should have been pulled whole"
assert_file "$H/w.txt" "old w" $T

scenario "device names with '/', '..' or '\\' write nothing outside the roots"
pull_fixture
touch "$WORK/marker"
sim_start "$D" \
    --fault "list=/sdcard dent 0x81a4 4 $T ../evil1.txt" \
    --fault "list=/sdcard dent 0x81a4 4 $T a/../../evil2.txt" \
    --fault "list=/sdcard dent 0x81a4 4 $T ..\\\\evil3.txt" \
    --fault "list=/sdcard dent 0x41ed 0 $T .." \
    --fault "list=/sdcard dent 0x41ed 0 $T ../outside"
run_tool -s -hcus host:"$H" sdcard
[ "$RC" = 0 ] || [ "$RC" = 2 ] || fail "exit code $RC"
outside=$(find "$WORK" -newer "$WORK/marker" -not -path "$H" -not -path "$H/*" \
    -not -path "$D*" -not -path "$WORK/sim.*" -not -path "$WORK/out" -not -path "$WORK/err" \
    -not -path "$WORK")
[ -z "$outside" ] || fail "written outside the roots: $outside"
[ -z "$(find "$H" -name '*evil*' -o -name outside)" ] || fail "an injected name was pulled"

scenario "a full host disk during a pull: exit 10, the old file kept"
if [ -n "${E2E_UNSHARED:-}" ]; then
    pull_fixture
    rm -rf "$H"; mkdir -p "$H"
    mount -t tmpfs -o size=200k tmpfs "$H"
    mk_file "$H/upd.bin" "the old host copy" $T
    HOST_BEFORE=$(tree_listing "$H")
    sim_start "$D"
    run_tool -h -v host:"$H" sdcard
    expect_rc 10
    expect_out_raw "$LE$L_upd - Can't copy to host$LE"
    host_unchanged
    run_log | grep -q '^QUIT' && fail "QUIT after a failed pull"
    umount "$H"
else
    echo "skipped: needs root for a mount namespace"
fi

scenario "a host file that reads short: exit 9"
rm -rf "$H" "$D"; mkdir -p "$H" "$S"
short=/sys/kernel/uevent_seqnum   # sysfs: reports 4096 bytes, holds a few
if [ -r "$short" ] && [ "$(stat -L -c %s "$short")" -gt "$(wc -c <"$short")" ]; then
    ln -s "$short" "$H/short.bin"
    mk_file "$H/z.txt" z $T
    sim_start "$D"
    run_tool -a -v host:"$H" sdcard
    expect_rc 9
    size=$(stat -L -c %s "$short"); time=$(stat -L -c %Y "$short")
    expect_out_raw "$LE$(lline "->" "$(thousands "$size")" "$time" short.bin) - Can't copy to android$LE"
    run_log | grep -q '^SEND /sdcard/z.txt' && fail "went on after the failed push"
    run_log | grep -q '^QUIT' && fail "QUIT after a failed push"
else
    echo "skipped: no sysfs file that reads short"
fi

e2e_finish

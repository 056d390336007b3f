#!/bin/bash
# Pushes against adbsim: new and newer files with their copy lines, the SEND payload,
# DATA records of at most 65536 bytes, empty files, DONE times under both rounding
# modes, new device directories, -as and -q.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@"

T=1600000000   # 2020-09-13 12:26:40 UTC, an even second
H=$WORK/host
D=$WORK/device
S=$D/sdcard

build_fixture() {
    rm -rf "$H" "$D"
    head -c 65537 /dev/urandom >"$WORK/big.data"
    mkdir -p "$H"; cp "$WORK/big.data" "$H/big.bin"; touch -d @$T "$H/big.bin"
    mk_file "$H/empty.txt" "" $((T + 10))
    mk_file "$H/new.txt" new $T
    mk_file "$H/newer.txt" "newer host" $((T + 7200)); mk_file "$S/newer.txt" old $T
    mk_file "$H/odd.txt" odd $((T + 1)); touch -d @$((T + 1)).2 "$H/odd.txt"   # 12:26:41.2
    mk_file "$H/same.txt" same $T;                     mk_file "$S/same.txt" same $T
    mk_file "$H/sub/deep.txt" deep $T
    mk_file "$S/older.txt" "device" $((T + 60));       mk_file "$H/older.txt" "host" $T
}

# The requests of a run from its first SEND on, CLOSE left out.
transfer_log() {
    run_log | sed -n '/^SEND /,$p' | grep -v '^CLOSE'
}

build_fixture
sim_start "$D"

scenario "-s -acus pushes new and newer files in pre-order with their copy lines"
run_tool -s -acus host:"$H" sdcard
expect_rc 0
expect_out "$(lline "->" 65,537 $T big.bin) - T" \
    "$(lline "->" 0 $((T + 10)) empty.txt) - T" \
    "$(lline "->" 3 $T new.txt) - T" \
    "$(lline "~>" 10 $((T + 7200)) newer.txt "  +7B  +2h") - T" \
    "$(lline "->" 3 $((T + 1)) odd.txt) - T" \
    "$(lline "->" 4 $T sub/deep.txt) - T"
expect_err ""
want_log="SEND /sdcard/big.bin,33279
DATA 65536
DATA 1
DONE $T
SEND /sdcard/empty.txt,33279
DONE $((T + 10))
SEND /sdcard/new.txt,33279
DATA 3
DONE $T
SEND /sdcard/newer.txt,33279
DATA 10
DONE $((T + 7200))
SEND /sdcard/odd.txt,33279
DATA 3
DONE $((T + 2))
SEND /sdcard/sub/deep.txt,33279
DATA 4
DONE $T
QUIT"
[ "$(transfer_log)" = "$want_log" ] ||
    fail "requests differ:$(diff <(echo "$want_log") <(transfer_log) | sed 's/^/    /')"
cmp -s "$WORK/big.data" "$S/big.bin" || fail "big.bin arrived changed"
[ "$(mtime_of "$S/big.bin")" = $T ] || fail "big.bin time $(mtime_of "$S/big.bin")"
assert_file "$S/empty.txt" "" $((T + 10))
assert_file "$S/new.txt" new $T
assert_file "$S/newer.txt" "newer host" $((T + 7200))
assert_file "$S/odd.txt" odd $((T + 2))      # mode 4: 10:00:01.2 goes out as 10:00:02
assert_file "$S/sub/deep.txt" deep $T
assert_file "$S/older.txt" device $((T + 60)) # newer on the device: left alone
assert_file "$H/older.txt" host $T            # and no pull without -h

scenario "a second run finds nothing more to push"
run_tool -s -acus -l host:"$H" sdcard
expect_rc 0
run_log | grep -q '^SEND' && fail "pushed again: $(run_log | grep '^SEND')"

scenario "-1 sends the time rounded to the nearest second"
rm -rf "$S/odd.txt"
run_tool -a -1 -q host:"$H" sdcard
expect_rc 0
expect_out
[ "$(transfer_log)" = "SEND /sdcard/odd.txt,33279
DATA 3
DONE $((T + 1))
QUIT" ] || fail "requests differ: $(transfer_log | tr '\n' ' ')"
assert_file "$S/odd.txt" odd $((T + 1))

scenario "-as alone runs the push pass but pushes nothing"
build_fixture
run_tool -s -as host:"$H" sdcard
expect_rc 0
expect_out
run_log | grep -q '^SEND' && fail "-as pushed a file"
assert_absent "$S/new.txt"

scenario "-au pushes only newer files, -ac only new ones"
run_tool -au host:"$H" sdcard
expect_rc 0
expect_out "$(lline "~>" 10 $((T + 7200)) newer.txt "  +7B  +2h") - T"
assert_absent "$S/new.txt"
run_tool -ac host:"$H" sdcard
expect_rc 0
expect_out "$(lline "->" 65,537 $T big.bin) - T" \
    "$(lline "->" 0 $((T + 10)) empty.txt) - T" \
    "$(lline "->" 3 $T new.txt) - T" \
    "$(lline "->" 3 $((T + 1)) odd.txt) - T"
assert_absent "$S/sub"

scenario "-q prints nothing and still copies"
build_fixture
run_tool -q -s -acs host:"$H" sdcard
expect_rc 0
expect_out
expect_err ""
assert_file "$S/new.txt" new $T
assert_file "$S/sub/deep.txt" deep $T

scenario "-l -v: listing, push block, summary with the copies counted"
build_fixture
run_tool -l -v -a host:"$H" sdcard
expect_rc 0
expect_out "" "$(lline "H " 65,537 $T big.bin)" \
    "$(lline "H " 0 $((T + 10)) empty.txt)" \
    "$(lline "H " 3 $T new.txt)" \
    "$(lline "H>" 10 $((T + 7200)) newer.txt "  +7B  +2h")" \
    "$(lline "H " 3 $((T + 1)) odd.txt)" \
    "$(lline "A>" 6 $((T + 60)) older.txt "  +2B  +1m")" \
    "$(lline "  " 4 $T same.txt)" \
    "$(lline "H " "" "$(mtime_of "$H/sub")" sub)" \
    "" \
    "$(lline "->" 65,537 $T big.bin) - T" \
    "$(lline "->" 0 $((T + 10)) empty.txt) - T" \
    "$(lline "->" 3 $T new.txt) - T" \
    "$(lline "~>" 10 $((T + 7200)) newer.txt "  +7B  +2h") - T" \
    "$(lline "->" 3 $((T + 1)) odd.txt) - T" \
    "" \
    "$(sline "H " "Host dir only" 1)" \
    "$(sline "  " "Files match" 1)" \
    "$(sline "H " "Host file only" 4)" \
    "$(sline "H>" "Host file newer" 1)" \
    "$(sline "A>" "Android file newer" 1)" \
    "$(sline "->" "Created on android" 4)" \
    "$(sline "~>" "Updated on android" 1)"
[ "$(run_log | grep -v '^CLOSE' | tail -n 1)" = QUIT ] || fail "QUIT is not the last request"

e2e_finish

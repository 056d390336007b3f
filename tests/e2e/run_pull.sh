#!/bin/bash
# Pulls against adbsim: new and newer files with the device time, missing host
# directories created, an empty device file, the alternative root, pushes before
# pulls, and DATA records longer than 65536 bytes.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@"

T=1600000000   # 2020-09-13 12:26:40 UTC
H=$WORK/host
A=$WORK/alt
D=$WORK/device
S=$D/sdcard

build_fixture() {
    rm -rf "$H" "$A" "$D"
    head -c 200000 /dev/urandom >"$WORK/big.data"
    mkdir -p "$S"; cp "$WORK/big.data" "$S/big.bin"; touch -d @$T "$S/big.bin"
    mk_file "$S/dnew.txt" "device new" $T
    mk_file "$S/dnewer.txt" "device newer" $((T + 7200)); mk_file "$H/dnewer.txt" old $T
    mk_file "$S/dempty.txt" "" $((T + 4))
    mk_file "$S/ddir/sub/deep.txt" deep $((T + 8))
    mk_file "$S/both/in.txt" "in newer" $((T + 100));    mk_file "$H/both/in.txt" "in" $T
    mk_file "$H/hnew.txt" "host new" $T
}

transfer_log() {
    run_log | sed -n '/^\(SEND\|RECV\) /,$p' | grep -v '^CLOSE'
}

build_fixture
sim_start "$D"

scenario "-s -hcus pulls new and newer files with the device time, creating directories"
run_tool -s -hcus host:"$H" sdcard
expect_rc 0
expect_out "$(lline "<-" 200,000 $T big.bin) - T" \
    "$(lline "<~" 8 $((T + 100)) both/in.txt "  +6B  +2m") - T" \
    "$(lline "<-" 4 $((T + 8)) ddir/sub/deep.txt) - T" \
    "$(lline "<-" 0 $((T + 4)) dempty.txt) - T" \
    "$(lline "<-" 10 $T dnew.txt) - T" \
    "$(lline "<~" 12 $((T + 7200)) dnewer.txt "  +9B  +2h") - T"
expect_err ""
want="RECV /sdcard/big.bin
RECV /sdcard/both/in.txt
RECV /sdcard/ddir/sub/deep.txt
RECV /sdcard/dempty.txt
RECV /sdcard/dnew.txt
RECV /sdcard/dnewer.txt
QUIT"
[ "$(transfer_log)" = "$want" ] || fail "requests differ: $(transfer_log | tr '\n' ' ')"
cmp -s "$WORK/big.data" "$H/big.bin" || fail "big.bin arrived changed"
[ "$(mtime_of "$H/big.bin")" = $T ] || fail "big.bin time"
assert_file "$H/both/in.txt" "in newer" $((T + 100))
assert_file "$H/ddir/sub/deep.txt" deep $((T + 8))
assert_file "$H/dempty.txt" "" $((T + 4))
assert_file "$H/dnew.txt" "device new" $T
assert_file "$H/dnewer.txt" "device newer" $((T + 7200))
assert_file "$H/hnew.txt" "host new" $T
assert_absent "$S/hnew.txt"
# Nothing but the pulled files appeared on the host.
assert_tree "$H" "$(printf '%s\n' "f big.bin 200000 $T" "d both - $(mtime_of "$H/both")" \
    "f both/in.txt 8 $((T + 100))" "d ddir - $(mtime_of "$H/ddir")" \
    "d ddir/sub - $(mtime_of "$H/ddir/sub")" "f ddir/sub/deep.txt 4 $((T + 8))" \
    "f dempty.txt 0 $((T + 4))" "f dnew.txt 10 $T" "f dnewer.txt 12 $((T + 7200))" \
    "f hnew.txt 8 $T" | LC_ALL=C sort)"

scenario "without the s option a device-only directory is not entered"
build_fixture
run_tool -s -h host:"$H" sdcard
expect_rc 0
assert_absent "$H/ddir"
assert_file "$H/dnew.txt" "device new" $T

scenario "an alternative root receives the updated files, new files land below the host root"
build_fixture
run_tool -s -hcus host:"$H" sdcard host:"$A"
expect_rc 0
assert_file "$A/dnewer.txt" "device newer" $((T + 7200))
assert_file "$A/both/in.txt" "in newer" $((T + 100))
assert_file "$H/dnewer.txt" old $T
assert_file "$H/both/in.txt" in $T
assert_file "$H/dnew.txt" "device new" $T
assert_file "$H/ddir/sub/deep.txt" deep $((T + 8))
assert_absent "$A/dnew.txt"
assert_absent "$A/ddir"

scenario "-a -h -v: pushes before pulls, QUIT last, summary at the end"
build_fixture
run_tool -a -h -v host:"$H" sdcard
expect_rc 0
expect_out "" \
    "$(lline "->" 8 $T hnew.txt) - T" \
    "" \
    "$(lline "<-" 200,000 $T big.bin) - T" \
    "$(lline "<-" 0 $((T + 4)) dempty.txt) - T" \
    "$(lline "<-" 10 $T dnew.txt) - T" \
    "$(lline "<~" 12 $((T + 7200)) dnewer.txt "  +9B  +2h") - T" \
    "" \
    "$(sline "  " "Dirs match" 1)" \
    "$(sline "A " "Android dir only" 1)" \
    "$(sline "H " "Host file only" 1)" \
    "$(sline "A " "Android file only" 3)" \
    "$(sline "A>" "Android file newer" 1)" \
    "$(sline "<-" "Created on host" 3)" \
    "$(sline "->" "Created on android" 1)" \
    "$(sline "<~" "Updated on host" 1)"
want="SEND /sdcard/hnew.txt,33279
DATA 8
DONE $T
RECV /sdcard/big.bin
RECV /sdcard/dempty.txt
RECV /sdcard/dnew.txt
RECV /sdcard/dnewer.txt
QUIT"
[ "$(transfer_log)" = "$want" ] || fail "requests differ: $(transfer_log | tr '\n' ' ')"

scenario "DATA records longer than 65536 bytes are taken in pieces"
build_fixture
sim_start "$D" --fault "recv chunk 150000"
run_tool -h -q host:"$H" sdcard
expect_rc 0
cmp -s "$WORK/big.data" "$H/big.bin" || fail "big.bin arrived changed"
assert_file "$H/dnew.txt" "device new" $T
assert_file "$H/dnewer.txt" "device newer" $((T + 7200))

scenario "a DONE text longer than 255 bytes is read and dropped"
build_fixture
sim_start "$D" --fault "recv done-text \"x\\{300}\""
run_tool -h -q host:"$H" sdcard
expect_rc 0
expect_err ""
cmp -s "$WORK/big.data" "$H/big.bin" || fail "big.bin arrived changed"
assert_file "$H/dnewer.txt" "device newer" $((T + 7200))

e2e_finish

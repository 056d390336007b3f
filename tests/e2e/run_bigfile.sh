#!/bin/bash
# A host file of 5 GiB (sparse) is pushed whole: every byte in records of 65536
# bytes, counted by adbsim without storing them, and listed with its true size.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@"

T=1600000000
H=$WORK/host
D=$WORK/device
S=$D/sdcard

scenario "a 5 GiB file is pushed whole"
rm -rf "$H" "$D"; mkdir -p "$H" "$S"
truncate -s 5G "$H/huge.bin"; touch -d @$T "$H/huge.bin"
sim_start "$D" --fault "send=/sdcard/huge.bin discard-data"
run_tool -a host:"$H" sdcard
expect_rc 0
expect_out "$(lline "->" 5,368,709,120 $T huge.bin) - T"
run_log | grep -q "^DONE $T bytes=5368709120\$" ||
    fail "device did not get 5 GiB: $(run_log | grep '^DONE')"
[ "$(run_log | grep -c '^DATA ')" = 81920 ] || fail "not 81920 records of 64 KiB"
run_log | grep '^DATA ' | grep -qv '^DATA 65536$' && fail "a record other than 65536 bytes"
rm -f "$H/huge.bin"

e2e_finish

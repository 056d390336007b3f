#!/bin/bash
# The v2 sync records: the feature request that matches the transport, a 5 GiB device
# file listed and pulled whole, device times after 2106, entries and paths the device
# cannot stat, servers that refuse or split the feature list, and v2 records that lie.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@"

T=1600000000      # 2020-09-13 12:26:40 UTC
LATE=5000000000   # 2128-06-11 08:53:20 UTC, beyond 32-bit seconds
H=$WORK/host
D=$WORK/device
S=$D/sdcard

requests() { run_log | grep -v '^\(CONNECT\|CLOSE\)$' | tr '\n' ' '; }
err_has() { [ -z "$1" ] || grep -qF "$1" "$WORK/err" || fail "standard error lacks '$1': $(cat "$WORK/err")"; }

rm -rf "$H" "$D"; mkdir -p "$H" "$S"
truncate -s 5G "$S/huge.bin"; touch -d @$T "$S/huge.bin"
if [ -z "${E2E_SKIP_BIG:-}" ]; then   # one build pulls the 5 GiB for all
    scenario "a 5 GiB device file is listed with its true size and pulled whole"
    sim_start "$D"
    run_tool -h host:"$H" sdcard
    expect_rc 0
    expect_out "$(lline "<-" 5,368,709,120 $T huge.bin) - T"
    [ "$(stat -c %s.%Y "$H/huge.bin")" = 5368709120.$T ] || fail "pulled $(stat -c %s.%Y "$H/huge.bin")"
    [ "$(requests)" = "host:features host:transport-any sync: LST2 /sdcard LST2 /sdcard/.notandrix LIS2 /sdcard RECV /sdcard/huge.bin QUIT " ] ||
        fail "requests: $(requests)"
    rm -f "$H/huge.bin"
fi

scenario "a device without v2 lists the low 32 bits, as before"
sim_start "$D" --no-v2
run_tool -l host:"$H" sdcard
expect_rc 0
expect_out "" "$(lline "A " 1,073,741,824 $T huge.bin)"
[ "$(requests)" = "host:features host:transport-any sync: STAT /sdcard STAT /sdcard/.notandrix LIST /sdcard QUIT " ] ||
    fail "requests: $(requests)"
rm -f "$S/huge.bin"

scenario "device times after 2106 are shown, compared and given to pulled files"
mk_file "$S/late.txt" same $LATE; mk_file "$H/late.txt" same $LATE
mk_file "$S/later.txt" new $((LATE + 86400)); mk_file "$H/later.txt" old $LATE
sim_start "$D"
run_tool -l -h host:"$H" sdcard
expect_rc 0
expect_out "" "$(lline "  " 4 $LATE late.txt)" "$(lline "A>" 3 $((LATE + 86400)) later.txt "  +1d")" \
    "" "$(lline "<~" 3 $((LATE + 86400)) later.txt "  +1d") - T"
assert_file "$H/later.txt" new $((LATE + 86400))

scenario "an entry the device cannot stat is skipped with one line"
sim_start "$D" --fault "list=/sdcard dent-error 13 secret.txt"
run_tool -l host:"$H" sdcard
expect_rc 0
expect_out "" "$(lline "  " 4 $LATE late.txt)" "$(lline "  " 3 $((LATE + 86400)) later.txt)"
expect_err "Skipped device entry \"secret.txt\" in \"/sdcard\": Permission denied (error 13)$LE"

scenario "a root the device cannot stat for another reason than absence is reported"
run_tool -l host:"$H" sdcard/late.txt/x
expect_rc 2
err_has 'Could not query device path "/sdcard/late.txt/x": Not a directory (error 20)'
err_has 'The root "/sdcard/late.txt/x" does not exist'

scenario "a server that refuses the feature request gets the v1 records"
sim_start "$D" --fault 'features fail "unknown host service"'
run_tool -l host:"$H" sdcard
expect_rc 0
[ "$(requests)" = "host:features host:transport-any sync: STAT /sdcard STAT /sdcard/.notandrix LIST /sdcard QUIT " ] ||
    fail "requests: $(requests)"

scenario "a feature named across two reads of the list still counts"
sim_start "$D" --fault 'features raw "OKAY0108a\{250},stat_v2,ls_v2"'
run_tool -l host:"$H" sdcard
expect_rc 0
requests | grep -q 'LST2 /sdcard LST2 /sdcard/.notandrix LIS2 /sdcard' || fail "requests: $(requests)"

scenario "-d and -e ask for the features of the device they choose"
sim_start "$D"
for row in "-d=$SIM_SERIAL|host-serial:$SIM_SERIAL:features host:transport:$SIM_SERIAL" \
    "-e|host-local:features host:transport-local"; do
    run_tool -l "${row%%|*}" host:"$H" sdcard
    expect_rc 0
    requests | grep -q "^${row#*|} sync: LST2" || fail "$row: $(requests)"
done
run_tool -l -d=nosuch host:"$H" sdcard
expect_rc 2
expect_err "Error \"device 'nosuch' not found\" from ADB$LE"
[ "$(requests)" = "host-serial:nosuch:features host:transport:nosuch " ] || fail "requests: $(requests)"

# Bad v2 input is handled as its v1 counterpart is, and replaces nothing.
for row in "list=/sdcard id DNTX|2|Unknown response from ADB" \
    "stat=/sdcard id LSTX|2|Unknown response from ADB" \
    "list=/sdcard close-after 200|2|No response from ADB" \
    "list=/sdcard dent 0x81a4 1 $T y\{300}|0|\": name longer than 255 bytes" \
    "recv=/sdcard/cut.bin size 5|10|"; do
    scenario "bad v2 input: ${row%%|*}"
    rm -rf "$H" "$D"; mk_file "$H/keep.txt" kept $T; mkdir -p "$S"
    # Listed as 4 GiB + 5 bytes; sends 5, which are all a 32-bit check would see.
    [ "${row%%=*}" = recv ] && truncate -s $((4 * 1024 * 1024 * 1024 + 5)) "$S/cut.bin"
    sim_start "$D" --fault "${row%%|*}"
    run_tool -h host:"$H" sdcard
    rest=${row#*|}
    expect_rc "${rest%%|*}"
    err_has "${rest#*|}"
    # A file that is shorter than listed changed while copied: skipped, the run goes on.
    [ "${row%%=*}" = recv ] && { grep -q 'File changed while copied, not copied' "$WORK/out" ||
        fail "no skip line"; }
    assert_tree "$H" "f keep.txt 4 $T"
done

e2e_finish

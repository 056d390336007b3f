#!/bin/bash
# List-mode runs against adbsim: the listing masks (-l, -ld, -lh, -la, -q, -v), the
# default mask, one-sided blocks, conflicts, ignored entries and markers, pattern
# lists, the time rules (-0, -1), and the root, server and transport failures.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@"

T=1600000000   # 2020-09-13 12:26:40 UTC, an even second
H=$WORK/host
D=$WORK/device
S=$D/sdcard

build_fixture() {
    rm -rf "$H" "$D"
    mk_file "$H/same.txt" same $T;            mk_file "$S/same.txt" same $T
    mk_file "$H/hnew.txt" "host newer" $((T + 7200)); mk_file "$S/hnew.txt" old $T
    mk_file "$H/anew.txt" a $T;               mk_file "$S/anew.txt" "android newer" $((T + 90))
    mk_file "$H/honly.txt" honly $T
    mk_file "$S/aonly.txt" aonly $T
    mk_file "$H/hdir/x.txt" x $T
    mk_file "$S/adir/y.txt" y $T
    mk_file "$H/both/inner.txt" in $T;        mk_file "$S/both/inner.txt" in $T
    mk_file "$H/both/hsub.txt" hs $T;         mk_file "$S/both/asub.txt" as $T
    mkdir -p "$H/conf";                       mk_file "$S/conf" cf $T
    mk_file "$H/conf2" c2 $T;                 mkdir -p "$S/conf2"
    mk_file "$H/skip.tmp" s1 $((T + 50));     mk_file "$S/skip.tmp" s2 $T
    mk_file "$H/ign/.notandrix" "" $T;        mk_file "$H/ign/h.txt" h $T
    mk_file "$S/ign/d.txt" d $T
    mk_file "$H/ign2/h2.txt" h $T
    mk_file "$S/ign2/.notandrix" "" $T;       mk_file "$S/ign2/d2.txt" d $T
    # directory times last: creating their entries moved them
    touch -d @$((T + 100)) "$H/hdir"; touch -d @$((T + 500)) "$S/adir"
    touch -d @$((T + 200)) "$H/both" "$S/both"
    touch -d @$((T + 300)) "$H/conf"; touch -d @$((T + 400)) "$S/conf2"
    touch -d @$((T + 600)) "$H/ign" "$S/ign"; touch -d @$((T + 700)) "$H/ign2" "$S/ign2"
}

build_fixture
sim_start "$D"

L_adir=$(lline "A " "" $((T + 500)) adir)
L_anew=$(lline "A>" 13 $((T + 90)) anew.txt "  +12B  +2m")
L_aonly=$(lline "A " 5 $T aonly.txt)
L_both=$(lline "  " "" $((T + 200)) both)
L_conf=$(lline "H!" "" $((T + 300)) conf)
L_conf2=$(lline "A!" 2 $T conf2)
L_hdir=$(lline "H " "" $((T + 100)) hdir)
L_hnew=$(lline "H>" 10 $((T + 7200)) hnew.txt "  +7B  +2h")
L_honly=$(lline "H " 5 $T honly.txt)
L_ign=$(lline "  " "" $((T + 600)) ign)
L_ign2=$(lline "  " "" $((T + 700)) ign2)
L_same=$(lline "  " 4 $T same.txt)
L_skip=$(lline "H>" 2 $((T + 50)) skip.tmp "  +50s")

scenario "-l lists every compared entry of the roots in name order"
run_tool -l host:"$H" sdcard
expect_rc 0
expect_out "" "$L_adir" "$L_anew" "$L_aonly" "$L_both" "$L_conf" "$L_conf2" "$L_hdir" \
    "$L_hnew" "$L_honly" "$L_ign" "$L_ign2" "$L_same" "$L_skip"
expect_err ""
run_log | grep -q 'SEND\|RECV' && fail "list mode sent a transfer request"

scenario "-l -s -v descends into pairs, honours markers on both sides, prints the summary"
run_tool -l -s -v host:"$H" sdcard
expect_rc 0
expect_out "" "$L_adir" "$L_anew" "$L_aonly" "$L_both" \
    "$(lline "A " 2 $T both/asub.txt)" "$(lline "H " 2 $T both/hsub.txt)" \
    "$(lline "  " 2 $T both/inner.txt)" \
    "$L_conf" "$L_conf2" "$L_hdir" "$L_hnew" "$L_honly" "$L_same" "$L_skip" "" \
    "$(sline "  " "Dirs match" 3)" "$(sline "H " "Host dir only" 1)" \
    "$(sline "A " "Android dir only" 1)" "$(sline "H!" "Host dir conflict" 1)" \
    "$(sline "A!" "Android dir conflict" 1)" "$(sline "  " "Host dir ignored" 2)" \
    "$(sline "  " "Android dir ignored" 2)" "$(sline "  " "Files match" 2)" \
    "$(sline "H " "Host file only" 2)" "$(sline "A " "Android file only" 2)" \
    "$(sline "H>" "Host file newer" 2)" "$(sline "A>" "Android file newer" 1)"
expect_err ""
# The host marker spares the device its STAT; neither ignored directory is listed.
run_log | grep -q '^\(LIST\|LIS2\) .*/sdcard/ign$' && fail "an ignored directory was listed"
run_log | grep -q '^\(STAT\|LST2\) .*/sdcard/ign/.notandrix' && fail "device asked after a host marker"
[ "$(run_log | grep -v "^CLOSE" | tail -n 1)" = QUIT ] || fail "QUIT is not the last request"

scenario "-ld lists the differences only"
run_tool -ld host:"$H" sdcard
expect_rc 0
expect_out "" "$L_adir" "$L_anew" "$L_aonly" "$L_conf" "$L_conf2" "$L_hdir" "$L_hnew" \
    "$L_honly" "$L_skip"

scenario "-lh puts the host-only entries in a block of their own"
run_tool -lh host:"$H" sdcard
expect_rc 0
expect_out "" "$L_hdir" "$L_honly" "" "$L_conf" "$L_conf2"

scenario "-la puts the android-only entries in a block of their own"
run_tool -la host:"$H" sdcard
expect_rc 0
expect_out "" "$L_adir" "$L_aonly" "" "$L_conf" "$L_conf2"

scenario "the default mask prints only the conflicts"
run_tool -as host:"$H" sdcard
expect_rc 0
expect_out "$L_conf" "$L_conf2"

scenario "-q alone prints nothing"
run_tool -q -as host:"$H" sdcard
expect_rc 0
expect_out
expect_err ""

scenario "-q -v prints the summary only"
run_tool -q -v -as host:"$H" sdcard
expect_rc 0
expect_out "" "$(sline "  " "Dirs match" 3)" "$(sline "H " "Host dir only" 1)" \
    "$(sline "A " "Android dir only" 1)" "$(sline "H!" "Host dir conflict" 1)" \
    "$(sline "A!" "Android dir conflict" 1)" "$(sline "  " "Files match" 1)" \
    "$(sline "H " "Host file only" 1)" "$(sline "A " "Android file only" 1)" \
    "$(sline "H>" "Host file newer" 2)" "$(sline "A>" "Android file newer" 1)"

scenario "-i ignores matching files on both sides"
run_tool -l -i='*.tmp' host:"$H" sdcard
expect_rc 0
expect_out "" "$L_adir" "$L_anew" "$L_aonly" "$L_both" "$L_conf" "$L_conf2" "$L_hdir" \
    "$L_hnew" "$L_honly" "$L_ign" "$L_ign2" "$L_same"

scenario "-o takes only matching files; the rest is ignored and counted"
run_tool -q -v -as -o='*.txt' host:"$H" sdcard
expect_rc 0
expect_out "" "$(sline "  " "Dirs match" 3)" "$(sline "H " "Host dir only" 1)" \
    "$(sline "A " "Android dir only" 1)" "$(sline "H!" "Host dir conflict" 1)" \
    "$(sline "A!" "Android dir conflict" 1)" "$(sline "  " "Files match" 1)" \
    "$(sline "H " "Host file only" 1)" "$(sline "A " "Android file only" 1)" \
    "$(sline "H>" "Host file newer" 1)" "$(sline "A>" "Android file newer" 1)" \
    "$(sline "  " "Host file ignored" 1)" "$(sline "  " "Android file ignored" 1)"

# Time rules: one hour apart, and a one-second step that mode 4 rounds away.
rm -rf "$H" "$D"
mk_file "$H/hour.txt" h $((T + 3600)); mk_file "$S/hour.txt" h $T
mk_file "$H/odd.txt" o $((T + 1));     mk_file "$S/odd.txt" o $((T + 2))
L_hour=$(lline "H>" 1 $((T + 3600)) hour.txt "  +1h")
L_odd=$(lline "  " 1 $((T + 1)) odd.txt)

scenario "times one hour apart differ without -0"
run_tool -l host:"$H" sdcard
expect_rc 0
expect_out "" "$L_hour" "$L_odd"

scenario "-0 takes times exactly one hour apart as equal"
run_tool -l -0 host:"$H" sdcard
expect_rc 0
expect_out "" "$(lline "  " 1 $((T + 3600)) hour.txt)" "$L_odd"

scenario "-1 rounds to the nearest second, so one second counts"
run_tool -l -1 host:"$H" sdcard
expect_rc 0
expect_out "" "$L_hour" "$(lline "A>" 1 $((T + 2)) odd.txt "  +1s")"

# Root checks and connection failures.
scenario "a missing host root is reported without contacting the server"
run_tool -l host:"$WORK/nohost" sdcard
expect_rc 2
expect_out
expect_err "The root \"$(host_shown "$WORK/nohost")\" does not exist$LE"
[ -n "$(run_log)" ] && fail "the server was contacted: $(run_log | head -n 3)"

scenario "a host root that is a file is not a directory"
run_tool -l host:"$H/hour.txt" sdcard
expect_rc 2
expect_err "The root \"$(host_shown "$H/hour.txt")\" is not a directory$LE"
[ -n "$(run_log)" ] && fail "the server was contacted"

scenario "a missing device root"
run_tool -l host:"$H" sdcard/missing
expect_rc 2
expect_out
expect_err "The root \"/sdcard/missing\" does not exist$LE"

scenario "a device root that is a file"
run_tool -l host:"$H" sdcard/odd.txt
expect_rc 2
expect_err "The root \"/sdcard/odd.txt\" is not a directory$LE"

scenario "a transport the server refuses ends the run with its text"
run_tool -l -d=nosuchdevice host:"$H" sdcard
expect_rc 2
expect_out
expect_err "Error \"device 'nosuchdevice' not found\" from ADB$LE"

scenario "no server: a message on standard output and exit code 4"
sim_stop
run_tool -l host:"$H" sdcard
expect_rc 4
expect_out "No ADB server"
expect_err ""

e2e_finish

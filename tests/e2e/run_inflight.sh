#!/bin/bash
# Requests in flight: adbsim holds every reply 20 ms, so a run has many requests out
# before the first reply. A FAIL or a dropped connection in the middle of a push or a
# pull ends the run under the failed file's line with the host files intact; a device
# that answers more than it was asked ends the run; and every run prints exactly what
# the same run printed with one request at a time, held below.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@"

T=1600000000
H=$WORK/host
D=$WORK/device
S=$D/sdcard
N=30
names=$(seq -f 'f%02g.txt' 1 $N)

# Host files f01..f30 "host N"; on the device, for a pull, newer "device N".
fixture() {   # push | pull
    rm -rf "$H" "$D"; mkdir -p "$H" "$S"
    local f host=() device=()
    for f in $names; do
        host+=("$H/$f" "host $f")
        device+=("$S/$f" "device $f")
    done
    mk_files $T "${host[@]}"
    [ "$1" = pull ] && mk_files $((T + 60)) "${device[@]}"
    HOST_BEFORE=$(tree_listing "$H")
}

# The copy lines of f01..f(k-1), then the unfinished line of fk.
lines_until() {   # k code
    local i out=""
    for ((i = 1; i < $1; i++)); do
        f=$(printf 'f%02d.txt' $i)
        if [ "$2" = "->" ]; then out+="$(lline "->" 12 $T $f) - T$LE"
        else out+="$(lline "<~" 14 $((T + 60)) $f "  +2B  +1m") - T$LE"; fi
    done
    f=$(printf 'f%02d.txt' "$1")
    if [ "$2" = "->" ]; then out+="$(lline "->" 12 $T $f) - "
    else out+="$(lline "<~" 14 $((T + 60)) $f "  +2B  +1m") - "; fi
    printf '%s' "$out"
}

# push_fails FAULT ERROR: f01..f09 stored, f10 named, nothing after it on the device.
push_fails() {
    fixture push
    sim_start "$D" --delay-ms 20 --fault "$1"
    run_tool -a host:"$H" sdcard
    expect_rc 2
    expect_out_raw "$(lines_until 10 "->")"
    expect_err_raw "$LE$2$LE"
    local i
    for i in $(seq -f '%02g' 1 9); do assert_file "$S/f$i.txt" "host f$i.txt" $T; done
    for i in $(seq -f '%02g' 10 $N); do assert_absent "$S/f$i.txt"; done
}

# pull_fails FAULT ERROR: f01..f09 replaced, f10 named, every other host file as it was.
pull_fails() {
    fixture pull
    sim_start "$D" --delay-ms 20 --fault "$1"
    run_tool -h host:"$H" sdcard
    expect_rc 2
    expect_out_raw "$(lines_until 10 "<~")"
    expect_err_raw "$LE$2$LE"
    local i
    for i in $(seq -f '%02g' 1 9); do assert_file "$H/f$i.txt" "device f$i.txt" $((T + 60)); done
    for i in $(seq -f '%02g' 10 $N); do assert_file "$H/f$i.txt" "host f$i.txt" $T; done
    [ "$(ls -A "$H" | wc -l)" = $N ] || fail "temporary files left: $(ls -A "$H" | grep -v '^f')"
}

scenario "a FAIL after the DONE of the tenth pipelined push"
push_fails 'done=/sdcard/f10.txt fail "disk full"' 'Error "disk full" from ADB'

scenario "an early FAIL at the SEND of the tenth pipelined push"
push_fails 'send=/sdcard/f10.txt fail "no space"' 'Error "no space" from ADB'

scenario "a connection closed at the tenth push, with the later ones in flight"
push_fails 'done=/sdcard/f10.txt close' 'No response from ADB'

scenario "a FAIL at the tenth pipelined pull keeps the host files"
pull_fails 'recv=/sdcard/f10.txt fail "read error"' 'Error "read error" from ADB'

scenario "a connection closed at the tenth pull, with the later RECVs in flight"
pull_fails 'recv=/sdcard/f10.txt close' 'No response from ADB'

scenario "a status more than the pushes asked for"
fixture push
sim_start "$D" --delay-ms 20 --fault "done=/sdcard/f$N.txt raw OKAY\\0\\{4}OKAY\\0\\{4}"
run_tool -a host:"$H" sdcard
expect_rc 2
expect_err "Unknown response from ADB$LE"

# Both trees, directory times left out (the fixture is made anew between runs).
both_trees() {
    { tree_listing "$H"; tree_listing "$S"; } | awk '$1 == "d" { $4 = "-" } { print }'
}

# same_as_one_at_a_time TREES ARGS...: the run prints what one request at a time
# printed (standard output on stdin, masked, without line ends' CRs; standard error
# in $WANT_ERR), and leaves trees whose listing has the cksum TREES.
same_as_one_at_a_time() {
    local want=$(cat) trees=$1
    shift
    run_tool "$@"
    expect_rc 0
    [ "$(masked_out | tr -d '\r')" = "$want" ] ||
        fail "standard output differs from one at a time: $(diff <(echo "$want") <(masked_out | tr -d '\r'))"
    local err=$WANT_ERR   # Windows puts a line end before each message
    [ "$PLATFORM" = windows ] && err=$(sed 's/^/\n/' <<<"$WANT_ERR")
    [ "$(tr -d '\r' < "$WORK/err")" = "$err" ] || fail "standard error differs from one at a time"
    [ "$(both_trees | cksum)" = "$trees" ] || fail "trees differ from one at a time: $(both_trees)"
}

# A tree of three levels with markers on both sides, one-sided and conflicting
# directories, and device entries that are skipped with a line each.
deep_fixture() {
    rm -rf "$H" "$D"
    local a b files=() later=()
    for a in a b c; do
        for b in 1 2 3; do
            files+=("$H/$a/$b/h.txt" h "$S/$a/$b/d.txt" d "$H/$a/$b/x/same.txt" s)
            later+=("$S/$a/$b/x/same.txt" s)
        done
    done
    files+=("$H/b/2/.notandrix" "" "$S/c/.notandrix" "" "$S/donly/1/y.txt" y "$H/conf/z" z "$S/conf" z)
    mk_files $T "${files[@]}"
    mk_files $((T + 7)) "${later[@]}"
    # Directory times are listed too: pin them, or a minute turning between
    # the two runs shows up as a difference.
    find "$H" "$D" -type d -exec touch -d "@$T" {} +
}
restore() { deep_fixture; }

scenario "the comparison with requests ahead prints what one at a time prints"
deep_fixture
sim_start "$D" --delay-ms 5 --fault "list=/sdcard/a/2 dent 0x81a4 1 $T bad/name" \
    --fault "list=/sdcard/b/3 dent 0x81a4 1 $T n\\{300}" \
    --fault "list=/sdcard/c dent 0x81a4 1 $T bad/name"
W=$(ltime $T)
WANT_ERR="Skipped device entry \"bad/name\" in \"/sdcard/a/2\": not a valid file name
Skipped device entry \"$(printf 'n%.0s' {1..255})\" in \"/sdcard/b/3\": name longer than 255 bytes"
BEFORE=$(both_trees | cksum)
same_as_one_at_a_time "$BEFORE" -l -s -v host:"$H" sdcard <<EOF

                 $W  a
                 $W  a/1
A             1  $W  a/1/d.txt
H             1  $W  a/1/h.txt
                 $W  a/1/x
A>            1  $W  a/1/x/same.txt  +7s
                 $W  a/2
A             1  $W  a/2/d.txt
H             1  $W  a/2/h.txt
                 $W  a/2/x
A>            1  $W  a/2/x/same.txt  +7s
                 $W  a/3
A             1  $W  a/3/d.txt
H             1  $W  a/3/h.txt
                 $W  a/3/x
A>            1  $W  a/3/x/same.txt  +7s
                 $W  b
                 $W  b/1
A             1  $W  b/1/d.txt
H             1  $W  b/1/h.txt
                 $W  b/1/x
A>            1  $W  b/1/x/same.txt  +7s
                 $W  b/3
A             1  $W  b/3/d.txt
H             1  $W  b/3/h.txt
                 $W  b/3/x
A>            1  $W  b/3/x/same.txt  +7s
H!               $W  conf
A                $W  donly

    Dirs match                 14
A   Android dir only            1
H!  Host dir conflict           1
    Host dir ignored            2
    Android dir ignored         2
H   Host file only              5
A   Android file only           5
A>  Android file newer          5
EOF
# The listing of the marked /sdcard/c may come with its marker STAT, but is dropped.
[ "$(grep -c '^Skipped device entry' "$WORK/err")" = 2 ] || fail "the skipped entries were not named"
run_log | grep -q '^L[SI][ST][T2] /sdcard/c/[0-9]' && fail "a directory below the marker was asked for"
run_log | grep -q '^L[SI][ST][T2] /sdcard/b/2/' && fail "device asked after a host marker"
run_log | grep -q '^LIS2 /sdcard/a/1$' || fail "the request log does not show the listings"

scenario "pushes and pulls in flight print what one at a time prints"
restore
same_as_one_at_a_time "3775548369 1905" -s -acs -hcs host:"$H" sdcard <<EOF
H!               $W  conf

->            1  $W  a/1/h.txt - T
->            1  $W  a/2/h.txt - T
->            1  $W  a/3/h.txt - T
->            1  $W  b/1/h.txt - T
->            1  $W  b/3/h.txt - T

<-            1  $W  a/1/d.txt - T
<-            1  $W  a/2/d.txt - T
<-            1  $W  a/3/d.txt - T
<-            1  $W  b/1/d.txt - T
<-            1  $W  b/3/d.txt - T
<-            1  $W  donly/1/y.txt - T
EOF

# The replies of b and c arrive before a/w's; their lines wait for the walk.
scenario "device lines come out where the walk reaches their directories"
rm -rf "$H" "$D"
for d in a/w b c; do mkdir -p "$H/$d" "$S/$d"; done
sim_start "$D" --delay-ms 5 --fault 'list=/sdcard/a/w dent-error 13 w.txt' \
    --fault 'stat=/sdcard/b/.notandrix raw LST2\x0d\x00\x00\x00\x00\{64}' \
    --fault 'list=/sdcard/c dent-error 13 c.txt'
run_tool -l -s host:"$H" sdcard
expect_rc 0
want=""
for line in 'Skipped device entry "w.txt" in "/sdcard/a/w": Permission denied (error 13)' \
    'Could not query device path "/sdcard/b/.notandrix": Permission denied (error 13)' \
    'Skipped device entry "c.txt" in "/sdcard/c": Permission denied (error 13)'; do
    [ "$PLATFORM" = windows ] && want+=$LE
    want+=$line$LE
done
expect_err_raw "$want"

e2e_finish

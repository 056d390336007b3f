#!/bin/bash
# -k: a run that goes on past files it cannot copy and past dropped connections,
# then lists what it did not copy. Each row runs with -k (the exit code, the list at
# the end, every other file copied, no temporary file left on either side) and
# without it (today's exit code).
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@" -m     # a mount namespace of its own for the small file system

T=1600000000   # 2020-09-13 12:26:40 UTC
H=$WORK/host
D=$WORK/device
S=$D/sdcard
PUSHED="d1/p1 d1/p2 d1/p3 d1/p4 d1/p5 d2/p6 d2/p7 d2/p8"
PULLED="e1/q1 e1/q2 e1/q3 e1/q4 e1/q5 e2/q6 e2/q7 e2/q8"

# Eight files to push, eight to pull, in two directories each.
fixture() {
    rm -rf "$H" "$D"
    mkdir -p "$H" "$S"
    local f files=()
    for f in $PUSHED; do files+=("$H/$f.txt" "${f#*/}"); done
    for f in $PULLED; do files+=("$S/$f.txt" "${f#*/}"); done
    mk_files $T "${files[@]}"
}

# Setups of the rows that need more than the fixture.
readonly_setup() {    # e2 exists on the host and the run may not write there
    mkdir -p "$H/e2"; chmod 555 "$H/e2"; chown -R 65534:65534 "$H"; chown 0:0 "$H/e2"
    AS_USER=(setpriv --reuid=65534 --regid=65534 --clear-groups)
}
full_host_setup() {   # room for three of the five 60,000-byte files of e1
    mount -t tmpfs -o size=200k tmpfs "$H"
    local f
    for f in q1 q2 q3 q4 q5; do
        head -c 60000 /dev/zero | tr '\0' "${f:1}" >"$S/e1/$f.txt"; touch -d @$T "$S/e1/$f.txt"
    done
}
short_setup() {       # a sysfs file: listed with 4096 bytes, reads a few
    rm "$H/d1/p3.txt"; ln -s /sys/kernel/uevent_seqnum "$H/d1/p3.txt"
}

# Columns: name | flags | exit code with -k | without | the list (';' between lines,
# codes and paths as printed) | setup | adbsim options | platforms ("" = both) |
# "short": the test build whose wait for a lost device is short (POSIX only)
ROWS=(
    'RECV refused mid-window|-s -hcs|10|2|<-  e1/q3.txt: open failed: Permission denied||--fault '\''recv=/sdcard/e1/q3.txt fail "open failed: Permission denied"'\''|'
    'SEND refused mid-window|-s -acs|9|2|->  d1/p3.txt: couldn'\''t create file: Read-only file system||--fault '\''send=/sdcard/d1/p3.txt fail "couldn\x27t create file: Read-only file system"'\''|'
    'a device that refuses every file|-s -hcs|10|2|<-  e1/q1.txt: no;<-  e1/q2.txt: no;<-  e1/q3.txt: no;<-  e1/q4.txt: no;<-  e1/q5.txt: no;<-  e2/q6.txt: no;<-  e2/q7.txt: no;<-  e2/q8.txt: no||--fault '\''recv fail no'\''|'
    'a read-only host folder|-s -hcs|10|2|<-  e2/q6.txt: Permission denied;<-  e2/q7.txt: Permission denied;<-  e2/q8.txt: Permission denied|readonly_setup||posix'
    'a full host disk stops the pull pass|-s -hcs|10|10|<-  e1/q4.txt: No space left on device;<-  e1/q5.txt: not tried, the host disk is full;<-  e2/q6.txt: not tried, the host disk is full;<-  e2/q7.txt: not tried, the host disk is full;<-  e2/q8.txt: not tried, the host disk is full|full_host_setup||posix'
    'a full device stops the push pass, the pull pass runs|-s -acs -hcs|9|2|->  d1/p3.txt: write failed: No space left on device;->  d1/p4.txt: not tried, the device is full;->  d1/p5.txt: not tried, the device is full;->  d2/p6.txt: not tried, the device is full;->  d2/p7.txt: not tried, the device is full;->  d2/p8.txt: not tried, the device is full||--fault '\''data=/sdcard/d1/p3.txt fail "write failed: No space left on device"'\''|'
    'a host file that reads short|-s -acs|9|9|->  d1/p3.txt: file changed while copied|short_setup||posix'
    'the connection dropped once mid-pull|-s -hcs|0|2|||--fault '\''recv@3 close'\''|'
    'the connection dropped once mid-push|-s -acs -hcs|0|2|||--fault '\''send@3 close'\''|'
    'a device gone for 1 s|-s -hcs|0|2|||--fault '\''recv@3 vanish 1'\''|'
    'a device that drops every connection|-s -hcs|2|2|<-  e1/q1.txt: the connection dropped twice while it was copied;<-  e1/q2.txt: the connection dropped twice while it was copied;<-  e1/q3.txt: the connection dropped twice while it was copied;<-  e1/q4.txt: the connection dropped twice while it was copied;<-  e1/q5.txt: the connection dropped twice while it was copied;<-  e2/q6.txt: the connection kept dropping;<-  e2/q7.txt: the connection kept dropping;<-  e2/q8.txt: the connection kept dropping||--fault '\''recv close'\''|'
    'a device that does not come back|-s -hcs|2|2|<-  e1/q3.txt: the device did not come back;<-  e1/q4.txt: the device did not come back;<-  e1/q5.txt: the device did not come back;<-  e2/q6.txt: the device did not come back;<-  e2/q7.txt: the device did not come back;<-  e2/q8.txt: the device did not come back||--fault '\''recv@3 vanish forever'\''||short'
)

# The lines after "Not copied:" on standard output.
not_copied_block() {
    masked_out | tr -d '\r' | sed -n '/^Not copied:$/,/^$/p' | sed '1d;/^$/d'
}

# Every file of the pass that is not listed arrived whole; every listed one did not.
check_copied() {   # LIST FLAGS
    local f listed
    if [[ $2 == *-a* ]]; then
        for f in $PUSHED; do
            listed=0; [[ ";$1;" == *"  $f.txt: "* ]] && listed=1
            if [ $listed = 1 ]; then assert_absent "$S/$f.txt"
            elif [ -L "$H/$f.txt" ]; then :
            else assert_file "$S/$f.txt" "${f#*/}" $T; fi
        done
    fi
    if [[ $2 == *-h* ]]; then
        for f in $PULLED; do
            listed=0; [[ ";$1;" == *"  $f.txt: "* ]] && listed=1
            if [ $listed = 1 ]; then assert_absent "$H/$f.txt"
            else cmp -s "$S/$f.txt" "$H/$f.txt" || fail "$f.txt was not pulled whole"; fi
        done
    fi
    local left
    left=$(find "$H" "$D" -name '*.tandrix-*' -o -name '*.adbsim-*')
    [ -z "$left" ] || fail "temporary files left: $left"
}

for row in "${ROWS[@]}"; do
    IFS='|' read -r name flags rc_k rc_plain list setup options platforms wait <<<"$row"
    [ -n "$platforms" ] && [ "$platforms" != "$PLATFORM" ] && continue
    if [ -n "$wait" ] && [ -z "${E2E_SHORT_WAIT_TOOL:-}" ]; then
        echo "skipped: $name (no short-wait build here; the real wait is 30 s)"
        continue
    fi
    if [ -n "$setup" ] && [ -z "${E2E_UNSHARED:-}" ]; then
        echo "skipped: $name (needs root)"
        continue
    fi
    for keep in -k ""; do
        scenario "$name ${keep:-(without -k)}"
        fixture
        AS_USER=()
        [ -n "$setup" ] && $setup
        eval "sim_start \"\$D\" $options"
        saved=("${TOOL[@]}"); TOOL=("${AS_USER[@]}" "${TOOL[@]}")
        [ -n "$wait" ] && TOOL=("$E2E_SHORT_WAIT_TOOL")
        # shellcheck disable=SC2086
        run_tool $keep -q $flags host:"$H" sdcard
        TOOL=("${saved[@]}")
        if [ -n "$keep" ]; then
            expect_rc "$rc_k"
            got=$(not_copied_block | paste -sd ';')
            [ "$got" = "$list" ] || fail "list: '$got', wanted '$list'"
            check_copied "$list" "$flags"
        else
            expect_rc "$rc_plain"
            grep -q '^Not copied' "$WORK/out" && fail "a list without -k"
        fi
        mountpoint -q "$H" && umount "$H"
    done
done

scenario "a refusal goes on on the connection held ready, and the next one is opened"
fixture
sim_start "$D" --fault 'recv=/sdcard/e1/q3.txt fail no'
log_mark
run_tool -k -q -s -hcs host:"$H" sdcard
expect_rc 10
# The features, the run's first connection, the spare that took over, the next spare.
[ "$(run_log | grep -c '^CONNECT')" = 4 ] || fail "connections: $(run_log | tr '\n' ' ')"

scenario "the lines of a run that waits for its device, and -v counts the copies made"
fixture
sim_start "$D" --fault 'recv@3 vanish 1' --fault 'recv=/sdcard/e2/q7.txt fail gone'
run_tool -k -v -s -hcs host:"$H" sdcard
expect_rc 10
out=$(masked_out | tr -d '\r')
grep -qx 'Connection to the device lost, waiting up to 30 s for it to come back' <<<"$out" ||
    fail "no waiting line"
grep -qx 'The device is back' <<<"$out" || fail "no line when it is back"
grep -qx "$(lline "<-" 2 $T e2/q7.txt) - not copied (gone)" <<<"$out" || fail "no line for q7"
grep -qx "$(sline "<-" "Created on host" 7)" <<<"$out" || fail "the summary counts other copies"
[ "$(tail -n 1 <<<"$(not_copied_block)")" = "<-  e2/q7.txt: gone" ] || fail "the list"

e2e_finish

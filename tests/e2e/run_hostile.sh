#!/bin/bash
# Hostile and careless input, one scenario per case: names that alias "..", are not
# UTF-8 or carry control characters, link loops, unreadable and deep host
# directories, files that change while copied, kept permissions, long temporary
# names, interruption, a directory where a file goes, a long FAIL text. After each
# run: nothing beside the host root, no temporary file left, the later file copied.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@" -m   # a mount namespace of its own for a FAT image

T=1600000000
H=$WORK/root/host
A=$WORK/root/alt
SENTINEL=$WORK/root/sentinel   # beside the host root: must stay empty
D=$WORK/device
S=$D/sdcard

posix_only() {
    [ "$PLATFORM" != windows ] && return 0
    echo "skipped: POSIX only"
    return 1
}

fixture() {
    rm -rf "$WORK/root" "$D"
    mkdir -p "$H" "$SENTINEL" "$S"
    mk_file "$S/zz.txt" "later" $T   # pulled last: the run went on
}

# The checks every scenario ends with; $1 is the expected exit code.
after_run() {
    expect_rc "$1"
    [ -z "$(ls -A "$SENTINEL")" ] || fail "written beside the host root: $(ls -A "$SENTINEL")"
    [ -z "$(find "$WORK/root" -name '*.tandrix-*')" ] || fail "a temporary file was left"
    if grep -q $'[\x01-\x08\x0b-\x0c\x0e-\x1f\x7f]' "$WORK/out" "$WORK/err"; then
        fail "a control character reached the console"
    fi
}

went_on() {
    assert_file "$H/zz.txt" "later" $T
}

scenario "1: overlong forms of '..', '.' and 'a' are skipped; nothing lands outside the root"
if posix_only; then
    fixture
    mk_file "$S/"$'\xc0\xae\xc0\xae'"/victim.txt" "v" $T
    mk_file "$S/"$'\xc0\xae'"/dot.txt" "d" $T
    mk_file "$S/"$'\xc1\xa1' "older" $((T - 100))
    mk_file "$H/a" "newer" $T
    sim_start "$D"
    run_tool -s -hcus -l host:"$H" sdcard
    after_run 0
    [ "$(grep -c 'not a valid file name' "$WORK/err")" = 3 ] || fail "three names skipped: $(cat "$WORK/err")"
    assert_file "$H/a" "newer" $T
    [ "$(tree_listing "$H" | cut -d' ' -f2)" = "$(printf 'a\nzz.txt')" ] || fail "host: $(tree_listing "$H")"
    went_on
fi

scenario "2: a name that is not UTF-8 is skipped, four-byte names go both ways whole"
if posix_only; then
    fixture
    mk_file "$S/bad"$'\xff'".txt" "bad" $T
    mk_file "$S/"$'\xf0\x9f\x98\x80'"d.txt" "from device" $T
    mk_file "$H/"$'\xf0\x9f\x98\x80'"h.txt" "from host" $T
    sim_start "$D"
    run_tool -s -acus -hcus host:"$H" sdcard
    after_run 0
    grep -q 'not a valid file name' "$WORK/err" || fail "bad name not reported"
    assert_file "$H/"$'\xf0\x9f\x98\x80'"d.txt" "from device" $T
    assert_file "$S/"$'\xf0\x9f\x98\x80'"h.txt" "from host" $T
    went_on
fi

scenario "3: links back to an ancestor are listed once and not entered"
if posix_only; then
    fixture
    mk_file "$H/dir/f.txt" "f" $T
    ln -s .. "$H/dir/loop"
    ln -s .. "$H/dir/loop2"
    mkdir -p "$WORK/root/elsewhere"; mk_file "$WORK/root/elsewhere/e.txt" "e" $T
    ln -s ../../elsewhere "$H/dir/away"   # a link elsewhere is followed
    sim_start "$D"
    run_tool -s -acus host:"$H" sdcard
    after_run 0
    [ "$(grep -c 'a link to a directory that contains it' "$WORK/err")" = 2 ] ||
        fail "two loops reported: $(cat "$WORK/err")"
    assert_file "$S/dir/f.txt" "f" $T
    assert_file "$S/dir/away/e.txt" "e" $T
    [ -z "$(find "$S" -path '*loop*')" ] || fail "pushed through a loop"
fi

scenario "4: a directory that cannot be listed is reported and left out of both passes"
if posix_only; then
    fixture
    mk_file "$H/locked/a.txt" "host" $T
    mk_file "$S/locked/a.txt" "device, newer" $((T + 60))
    mk_file "$S/locked/b.txt" "device only" $T
    mk_file "$H/sealed/c.txt" "host" $T
    mk_file "$S/sealed/c.txt" "device, newer" $((T + 60))
    chmod 0300 "$H/locked"; chmod 000 "$H/sealed"
    chown -R nobody "$WORK/root"; chmod 755 "$WORK"
    sim_start "$D"
    TOOL=(setpriv --reuid=nobody --regid=nogroup --clear-groups "${TOOL[@]}")
    run_tool -s -hcus host:"$H" sdcard
    TOOL=("${TOOL[@]:4}")
    chmod 755 "$H/locked" "$H/sealed"
    after_run 0
    [ "$(grep -c 'cannot be read' "$WORK/err")" = 2 ] || fail "two directories reported: $(cat "$WORK/err")"
    assert_file "$H/locked/a.txt" "host" $T
    assert_absent "$H/locked/b.txt"
    assert_file "$H/sealed/c.txt" "host" $T
    went_on
fi

scenario "5: control characters in names show as '?', the files keep their names"
if posix_only; then
    fixture
    mk_file "$S/esc"$'\x1b]0;PWNED\x07' "title" $T
    mk_file "$S/new"$'\n'"->   1  fake.txt" "forged" $T
    sim_start "$D"
    run_tool -h host:"$H" sdcard
    after_run 0
    grep -q 'esc?]0;PWNED?' "$WORK/out" || fail "escaped name not shown"
    grep -q 'new?->   1  fake.txt - ' "$WORK/out" || fail "the copy line was forged"
    assert_file "$H/esc"$'\x1b]0;PWNED\x07' "title" $T
    assert_file "$H/new"$'\n'"->   1  fake.txt" "forged" $T
fi

scenario "6: a device file that grew while pulled replaces nothing; the run goes on, exit 10"
fixture
mk_file "$H/rec.bin" "old" $T
mk_file "$S/rec.bin" "recording" $((T + 60))
sim_start "$D" --fault 'recv=/sdcard/rec.bin size 70000'
run_tool -h host:"$H" sdcard
after_run 10
grep -q 'rec.bin.* - File changed while copied, not copied' "$WORK/out" ||
    fail "no line for the changed file: $(cat "$WORK/out")"
assert_file "$H/rec.bin" "old" $T
went_on
run_log | grep -q '^QUIT' || fail "the run did not end with QUIT"

scenario "7: an updated file keeps its permissions, a new one gets the default"
if posix_only; then
    fixture
    mk_file "$H/secret.txt" "old" $T; chmod 0600 "$H/secret.txt"
    mk_file "$S/secret.txt" "new" $((T + 60))
    sim_start "$D"
    run_tool -h host:"$H" sdcard
    after_run 0
    assert_file "$H/secret.txt" "new" $((T + 60))
    [ "$(stat -c %a "$H/secret.txt")" = 600 ] || fail "mode $(stat -c %a "$H/secret.txt")"
    [ "$(stat -c %a "$H/zz.txt")" = "$(printf '%o' $((0666 & ~$(umask))))" ] ||
        fail "new file mode $(stat -c %a "$H/zz.txt")"
fi

scenario "8/9: a temporary name or a host directory that does not fit is skipped with a message"
if posix_only; then
    fixture
    seg=$(printf 'd%.0s' $(seq 1 200))
    name=$(printf 'n%.0s' $(seq 1 100))
    fill=$(printf 'e%.0s' $(seq 1 $((1010 - ${#H} - 4 * 201 - 1 - 101))))
    rel=$seg/$seg/$seg/$seg/$fill
    deep=$H/$rel
    mk_file "$S/$rel/$name" "x" $T   # a target of 1,010 characters
    mk_file "$H/$seg/$seg/$seg/$seg/$seg/$seg/far.txt" "far" $T   # beyond 1,023
    sim_start "$D"
    run_tool -s -hcus -acus host:"$H" sdcard
    after_run 0
    grep -q "^Path too long, not copied: .*$name" "$WORK/out" || fail "no skip line: $(cat "$WORK/out")"
    grep -q 'path too long' "$WORK/err" || fail "deep directory not reported"
    assert_absent "$deep/$name"
    [ -z "$(find "$S" -name far.txt)" ] || fail "pushed from a directory that does not fit"
    went_on
fi

scenario "10: a device file named like a temporary file is ignored"
fixture
mk_file "$S/.a.txt.tandrix-0A1B2C" "leftover" $T
sim_start "$D"
run_tool -h host:"$H" sdcard
after_run 0
grep -q 'a temporary file of an interrupted pull' "$WORK/err" || fail "not reported"
assert_absent "$H/.a.txt.tandrix-0A1B2C"
went_on

scenario "11: an interrupted pull removes its temporary file; the old file stays"
if posix_only; then
    for sig in INT TERM HUP; do
        fixture
        mk_file "$H/big.bin" "old" $T
        head -c 200000 /dev/zero >"$S/big.bin"; touch -d @$((T + 60)) "$S/big.bin"
        sim_start "$D" --fault 'recv=/sdcard/big.bin trickle 20'
        set -m   # a job of its own: a script's background job would ignore SIGINT
        "${TOOL[@]}" -h "$H" sdcard >"$WORK/out" 2>"$WORK/err" </dev/null &
        pid=$!
        set +m
        for ((try = 0; try < 400; try++)); do
            [ -n "$(find "$H" -name '*.tandrix-*')" ] && break
            sleep 0.05
        done
        [ -n "$(find "$H" -name '*.tandrix-*')" ] || fail "SIG$sig: the pull never began"
        kill -s "$sig" "$pid"
        for ((try = 0; try < 200; try++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -0 "$pid" 2>/dev/null && { fail "SIG$sig did not end the run"; kill -9 "$pid"; }
        wait "$pid"
        RC=$?
        after_run $((128 + $(kill -l "$sig")))
        assert_file "$H/big.bin" "old" $T
    done
fi

scenario "12: a directory where the updated file goes: fatal, naming the path"
fixture
mk_file "$H/upd.txt" "old" $T
mk_file "$S/upd.txt" "new" $((T + 60))
mkdir -p "$A/upd.txt"
sim_start "$D"
run_tool -h host:"$H" sdcard host:"$A"
after_run 2
grep -qF "Could not create file \"$(host_shown "$A/upd.txt")\"" "$WORK/err" ||
    fail "the path is not named: $(cat "$WORK/err")"
assert_file "$H/upd.txt" "old" $T
[ -d "$A/upd.txt" ] || fail "the directory was replaced"

scenario "13: a 2000-byte FAIL text is shown whole up to its limit, never cut mid-message"
fixture
sim_start "$D" --fault 'sync fail a\{1023}b\{977}'
run_tool -h host:"$H" sdcard
after_run 2
long=$(printf 'a%.0s' $(seq 1 1023))
grep -q "Error \"$long\" from ADB" "$WORK/err" || fail "message cut: $(tail -c 80 "$WORK/err")"

scenario "14: a name listed twice is taken once, its first record; the newer host files stay"
fixture
mk_file "$H/notes.txt" "newer" $((T + 60)); mk_file "$S/notes.txt" "same" $((T + 60))
mk_file "$H/a/f.txt" "newer" $((T + 60)); mk_file "$S/a/f.txt" "older" $T
sim_start "$D" --fault 'list=/sdcard dent 0100644 5 1599990000 notes.txt' \
    --fault 'list=/sdcard dent 0100644 5 1599990000 a'
run_tool -s -hcus host:"$H" sdcard
after_run 0
[ "$(grep -c 'listed more than once' "$WORK/err")" = 2 ] || fail "two lines: $(cat "$WORK/err")"
assert_file "$H/notes.txt" "newer" $((T + 60)); assert_file "$H/a/f.txt" "newer" $((T + 60))
went_on

scenario "15: names Windows would change or open as a device are skipped there, taken on POSIX"
fixture
mk_file "$H/notes.txt" "newer" $((T + 60))
for n in "notes.txt." "notes.txt " aux.c NUL Com1.txt.gz auxiliary com10 con_x.txt lpt
do mk_file "$S/$n" "$n" $T; done
sim_start "$D"
run_tool -hcu host:"$H" sdcard
after_run 0
assert_file "$H/notes.txt" "newer" $((T + 60)); went_on
for n in auxiliary com10 con_x.txt lpt; do assert_file "$H/$n" "$n" $T; done
if [ "$PLATFORM" = windows ]; then
    [ "$(grep -c 'not a valid file name' "$WORK/err")" = 5 ] || fail "five lines: $(cat "$WORK/err")"
else
    assert_file "$H/aux.c" "aux.c" $T; assert_file "$H/notes.txt." "notes.txt." $T
fi

scenario "16: a device that answers more than it was asked never ends with exit 0"
for fault in 'recv#1 twice' 'quit raw DONE\x00\x00\x00\x00'; do
    fixture
    for i in 1 2 3 4 5 6 7 8; do mk_file "$S/f$i.txt" "file $i" $T; done
    sim_start "$D" --fault "$fault"
    run_tool -h host:"$H" sdcard
    after_run 2
    grep -q 'Unknown response from ADB' "$WORK/err" || fail "$fault: $(cat "$WORK/err")"
done

# run_tool in the background ($PID); a request log line matching $1; the end of the run.
run_in_background() { (run_tool "$@"; exit "$RC") & PID=$!; }
await_log() { for ((try = 0; try < 300; try++)); do grep -q "$1" "$WORK/sim.log" && return; sleep 0.05; done; }
await_run() {
    for ((try = 0; try < 400; try++)); do kill -0 "$PID" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$PID" 2>/dev/null && { fail "the run never ended"; kill -9 "$PID"; }
    wait "$PID"; RC=$?
}

scenario "17: a file made or edited on the host while it is pulled stays; the run goes on, exit 10"
fixture
mk_file "$H/upd.txt" "old" $T; mk_file "$S/upd.txt" "device" $((T + 60)); mk_file "$S/w.txt" "d" $T
sim_start "$D" --fault 'recv=/sdcard/upd.txt stall 1'   # the requests after it wait too
run_in_background -h host:"$H" sdcard
await_log '^RECV /sdcard/upd.txt'
mk_file "$H/upd.txt" "edited" $((T + 30)); mk_file "$H/w.txt" "made" $((T + 30))
await_run
after_run 10
[ "$(grep -c ' - File changed while copied, not copied' "$WORK/out")" = 2 ] || fail "$(cat "$WORK/out")"
assert_file "$H/upd.txt" "edited" $((T + 30)); assert_file "$H/w.txt" "made" $((T + 30)); went_on

scenario "18: a host file and a device file whose names differ only in case are both left alone"
for fs in plain fat; do   # fat: a host file system that folds case, where the machine has one
    fixture
    if [ $fs = fat ] && ! { [ "$PLATFORM" != windows ] && command -v mkfs.vfat >/dev/null &&
        truncate -s 8M "$WORK/fat.img" && mkfs.vfat -q "$WORK/fat.img" &&
        mount -o loop "$WORK/fat.img" "$H" 2>/dev/null; }; then
        echo "skipped on FAT: no mkfs.vfat or loop device here (Wine folds case in the plain run)"
        continue
    fi
    mk_file "$H/notes.txt" "newer" $((T + 60)); mk_file "$S/Notes.txt" "older" $T
    sim_start "$D"
    run_tool -s -hcus -acus host:"$H" sdcard
    after_run 0
    [ "$(grep -c 'equal to a name on the other side but for case' "$WORK/err")" = 2 ] ||
        fail "$fs: two lines: $(cat "$WORK/err")"
    assert_file "$H/notes.txt" "newer" $((T + 60)); assert_file "$S/Notes.txt" "older" $T
    [ -e "$S/notes.txt" ] && fail "pushed beside its case twin"; went_on
    [ $fs = fat ] && umount "$H"
done

scenario "19: a host link is neither replaced nor written through"
if posix_only; then
    fixture
    mk_file "$WORK/root/elsewhere/target.txt" "outside" $T; ln -s ../elsewhere/target.txt "$H/link.txt"
    mk_file "$S/link.txt" "device" $((T + 60))
    sim_start "$D"
    run_tool -hcu host:"$H" sdcard
    after_run 0
    grep -q '^Symbolic link, not replaced: link.txt' "$WORK/out" || fail "no line: $(cat "$WORK/out")"
    [ -L "$H/link.txt" ] || fail "the link was replaced"
    assert_file "$WORK/root/elsewhere/target.txt" "outside" $T; went_on
fi

scenario "20: a host file written to while pushed, or made a FIFO before, is not taken as sent: exit 9"
if posix_only; then
    fixture
    head -c 16777216 /dev/zero >"$H/big.bin"; mk_file "$H/fifo.txt" "f" $T; mk_file "$H/z.txt" "z" $T
    sim_start "$D" --fault 'list=/sdcard stall 1' --fault 'data#1=/sdcard/big.bin stall 1'
    run_in_background -a host:"$H" sdcard
    await_log '^LIS2 /sdcard\|^LIST /sdcard'; sleep 0.3
    rm "$H/fifo.txt"; mkfifo "$H/fifo.txt"
    await_log '^DATA'; head -c 1048576 /dev/urandom | dd of="$H/big.bin" conv=notrunc status=none
    await_run
    after_run 9
    grep -q 'big.bin - File changed while copied, not copied' "$WORK/out" || fail "$(cat "$WORK/out")"
    grep -q '^File changed while copied, not copied: fifo.txt' "$WORK/out" || fail "no FIFO line"
    assert_file "$S/z.txt" "z" $T
fi

scenario "21: Windows: a target whose temporary name would pass 259 characters is skipped"
if [ "$PLATFORM" = windows ]; then
    fixture
    root=$(host_arg "$H")
    dir=$(printf 'd%.0s' $(seq 1 $((250 - ${#root} - 7))))   # a target of 250 characters
    mk_file "$S/$dir/n.txt" "x" $T; mkdir -p "$H/$dir"
    sim_start "$D"
    run_tool -s -hcu host:"$H" sdcard
    after_run 0
    grep -q "^Path too long, not copied: $dir.n.txt" "$WORK/out" || fail "no line: $(cat "$WORK/out")"
    assert_absent "$H/$dir/n.txt"; went_on
fi

scenario "22: a device directory that lists itself is not entered (v2: its inode, v1: its listing)"
for v in "" --no-v2; do
    fixture
    mk_file "$S/d/f.txt" "f" $T; ln -s . "$S/d/self"; ln -s . "$S/d/again"
    sim_start "$D" --follow-links $v
    run_tool -s -hcus host:"$H" sdcard
    after_run 0
    [ "$(grep -c 'the same directory as one that contains it' "$WORK/err")" = 2 ] || fail "$v: loops"
    assert_file "$H/d/f.txt" "f" $T; assert_absent "$H/d/self"; went_on
done

e2e_finish

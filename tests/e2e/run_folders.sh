#!/bin/bash
# Folder and path patterns of -i in a two-way sync against adbsim: a matching folder
# is neither entered nor created on either side and nothing is copied into or out of
# it; a path pattern leaves out the files of that path only.
source "$(dirname "$0")/lib/common.bash"
e2e_setup "$@"

T=1600000000
H=$WORK/host
D=$WORK/device
S=$D/sdcard

build_fixture() {
    rm -rf "$H" "$D"
    mk_file "$H/keep.txt" k $T
    mk_file "$H/Sent/top.txt" t $T
    mk_file "$H/WA/Media/Sent/h.txt" h $T;   mk_file "$S/WA/Media/Sent/d.txt" d $T
    mk_file "$H/WA/Media/Sent/x/h.txt" h $T
    mk_file "$S/WA/Media/Sent2/d.txt" d $T
    mk_file "$H/Music/a.m3u" a $T;           mk_file "$S/Music/b.m3u" b $T
    mk_file "$S/Music/b.mp3" b $T;           mk_file "$S/Podcasts/Music/c.m3u" c $T
    mk_file "$H/DCIM/.thumbnails/t1" t $T;   mk_file "$S/DCIM/.thumbnails/t2" t $T
    mk_file "$S/DCIM/p.jpg" p $T
}

# Rows: -i value | files that must arrive | files that must not (h: host, s: sdcard)
# | folders never asked for | host and device folders counted as ignored
rows=(
  "*/Sent/;DCIM/.thumbnails/;Music/*.m3u|s/keep.txt s/Sent/top.txt h/WA/Media/Sent2/d.txt h/Music/b.mp3 h/Podcasts/Music/c.m3u h/DCIM/p.jpg|h/WA/Media/Sent/d.txt s/WA/Media/Sent/h.txt s/WA/Media/Sent/x s/Music/a.m3u h/Music/b.m3u h/DCIM/.thumbnails/t2 s/DCIM/.thumbnails/t1|WA/Media/Sent|DCIM/\.thumbnails|2 2"
  "sent/|s/keep.txt h/WA/Media/Sent2/d.txt s/DCIM/.thumbnails/t1|s/Sent h/WA/Media/Sent/d.txt s/WA/Media/Sent/h.txt|WA/Media/Sent|Sent|2 1"
)
side() { [ "${1%%/*}" = h ] && echo "$H/${1#*/}" || echo "$S/${1#*/}"; }
build_fixture
sim_start "$D"
for row in "${rows[@]}"; do
    IFS='|' read -r value present absent asked1 asked2 counts <<<"$row"
    scenario "-s -acus -hcus -v -i=$value"
    build_fixture
    run_tool -s -acus -hcus -v "-i=$value" host:"$H" sdcard
    expect_rc 0
    for f in $present; do [ -f "$(side "$f")" ] || fail "$f missing"; done
    for f in $absent; do assert_absent "$(side "$f")"; done
    # Neither side is asked about a matching folder, let alone written in it.
    run_log | grep -E " /sdcard/($asked1|$asked2)(/|$)" && fail "a left-out folder was asked for"
    grep -q "$(sline "  " "Host dir ignored" "${counts% *}")" "$WORK/out" &&
        grep -q "$(sline "  " "Android dir ignored" "${counts#* }")" "$WORK/out" ||
        fail "ignored folders not counted: $(cat "$WORK/out")"
done

e2e_finish

#!/bin/bash
# Demonstration: builds tandrix and adbsim, makes a small host tree and a small
# device tree, serves the device tree with adbsim inside a private network namespace
# and runs a real sync in both directions, then shows both trees brought up to date.
# Usage: scripts/demo.sh [WORK-FOLDER]   (as root: the namespace needs it)
set -euo pipefail
export TZ=UTC
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d /tmp/tandrix-demo.XXXXXX)}
build=$top/build

"$top/scripts/install-deps.sh" native
echo "== Building tandrix and adbsim in $build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tandrix adbsim -j"$(nproc)" >/dev/null

host=$work/Photos-and-Documents
device=$work/phone
rm -rf "$host" "$device"

# put PATH TEXT "DATE": a file with its modification time
put() {
    mkdir -p "$(dirname "$1")"
    printf '%s\n' "$2" >"$1"
    touch -d "$3" "$1"
}

echo "== Making the sample trees in $work"
# On both sides, unchanged.
put "$host/DCIM/2019/beach.jpg"      "beach photo"          "2019-08-14 16:20 UTC"
put "$device/sdcard/DCIM/2019/beach.jpg" "beach photo"      "2019-08-14 16:20 UTC"
put "$host/Documents/taxes-2020.pdf" "taxes"                "2021-04-30 09:00 UTC"
put "$device/sdcard/Documents/taxes-2020.pdf" "taxes"       "2021-04-30 09:00 UTC"
# Edited on the computer: newer on the host.
put "$host/Documents/notes.txt"      "notes, edited on the computer" "2024-03-02 18:45 UTC"
put "$device/sdcard/Documents/notes.txt" "notes"            "2024-01-10 08:00 UTC"
# Edited on the phone: newer on the device.
put "$host/Documents/shopping.txt"   "milk"                 "2024-02-01 12:00 UTC"
put "$device/sdcard/Documents/shopping.txt" "milk, eggs, bread" "2024-03-05 07:30 UTC"
# Only on the host: a file and a whole directory.
put "$host/Documents/cv.odt"         "curriculum vitae"     "2023-11-20 10:15 UTC"
put "$host/DCIM/2023/scan-001.png"   "scanned letter"       "2023-06-01 14:00 UTC"
# Only on the phone: new photos in a new directory, and a voice memo.
put "$device/sdcard/DCIM/2024/IMG_0001.jpg" "new photo 1"   "2024-03-09 11:02 UTC"
put "$device/sdcard/DCIM/2024/IMG_0002.jpg" "new photo 2"   "2024-03-09 11:05 UTC"
put "$device/sdcard/Documents/memo.m4a" "voice memo"        "2024-03-07 19:40 UTC"
# Left alone on both sides: a directory that holds the marker file.
put "$host/Private/.notandrix"       ""                     "2022-01-01 00:00 UTC"
put "$host/Private/diary.txt"        "dear diary"           "2022-01-01 00:00 UTC"
put "$device/sdcard/Private/other.txt" "not synced"         "2022-01-01 00:00 UTC"

# Directories get a time of their own too (creating their entries moved it to now).
find "$host" "$device" -type d -exec touch -d "2024-03-01 12:00 UTC" {} +

show_tree() {   # a tree with sizes and times
    (cd "$1" && find . -mindepth 1 -type f -printf '%TY-%Tm-%Td %TH:%TM  %6s  %P\n' | LC_ALL=C sort -k4)
}

echo
echo "== Host tree before"
show_tree "$host"
echo
echo "== Device tree before (served by adbsim as the phone's /sdcard)"
show_tree "$device/sdcard"

cat >"$work/run-in-namespace.sh" <<'INNER'
set -u
build=$1 device=$2 host=$3 work=$4
# A ready file of an earlier run in the same folder would say "listening" too soon,
# so it goes first; then the port itself is waited for, 10 s at most.
rm -f "$work/ready"
"$build/tests/adbsim" --device "demo-phone=$device" --ready "$work/ready" --log "$work/requests.log" \
    2>"$work/adbsim.err" &
sim=$!
for ((i = 0; ; i++)); do
    [ -s "$work/ready" ] && [ -n "$(ss -Hltn 'sport = :5037')" ] && break
    if [ "$i" -ge 200 ] || ! kill -0 "$sim" 2>/dev/null; then
        echo "adbsim did not start listening on port 5037:"; cat "$work/adbsim.err"
        kill "$sim" 2>/dev/null; exit 1
    fi
    sleep 0.05
done
echo
echo "\$ tandrix -s -acus -hcus -l -v $host sdcard"
"$build/tandrix" -s -acus -hcus -l -v "$host" sdcard
code=$?
echo "(exit code $code)"
kill "$sim"; wait "$sim" 2>/dev/null
exit $code
INNER
"$top/tests/netns.sh" bash "$work/run-in-namespace.sh" "$build" "$device" "$host" "$work"

echo
echo "== Host tree after"
show_tree "$host"
echo
echo "== Device tree after"
show_tree "$device/sdcard"
echo
echo "The requests adbsim served are in $work/requests.log."

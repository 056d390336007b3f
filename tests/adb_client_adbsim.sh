#!/bin/bash
# The ADB client's component tests against adbsim, run inside a private network
# namespace: adb_client_adbsim.sh UNIT-COMMAND ADBSIM WORKDIR. For each case adbsim
# starts with the case's devices and faults, the unit test binary runs the AdbSim case
# of that name, and adbsim's request log must show exactly the expected requests.
set -u
unit=$1 adbsim=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
dev=$work/dev/sdcard
mkdir -p "$dev/empty" "$dev/mixed/a" "$dev/marked"
printf hello > "$dev/mixed/b.txt"
touch -d @0 "$dev/mixed/zero"
ln -s b.txt "$dev/mixed/link"
mkfifo "$dev/mixed/fifo"
touch "$dev/marked/.notandrix"
device=(--device "emulator-5554=$work/dev")
sync_start=$'CONNECT\nhost:transport-any\nsync:'
failures=0

# run CASE EXPECTED-LOG ADBSIM-ARGS... (the log ends with adbsim's CLOSE line)
run() {
  local name=$1 expected=$2$'\nCLOSE'; shift 2
  rm -f "$work/ready" "$work/log"
  "$adbsim" --once --ready "$work/ready" --log "$work/log" "$@" 2>"$work/$name.adbsim" &
  local server=$!
  for ((try = 0; try < 200; try++)); do [ -s "$work/ready" ] && break; sleep 0.05; done
  TANDRIX_ADBSIM_CASE=$name $unit --gtest_filter="AdbSim.$name" > "$work/$name.out" 2>&1
  local status=$?
  for ((try = 0; try < 100; try++)); do kill -0 $server 2>/dev/null || break; sleep 0.05; done
  kill $server 2>/dev/null; wait $server 2>/dev/null
  local log; log=$(cat "$work/log" 2>/dev/null)
  if [ $status -ne 0 ] || ! grep -q '\[  PASSED  \] 1 test' "$work/$name.out"; then
    echo "FAIL $name: the test case failed"; cat "$work/$name.out"; failures=$((failures + 1))
  elif [ "$log" != "$expected" ]; then
    echo "FAIL $name: requests differ"; diff <(echo "$expected") <(echo "$log")
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

run QueriesOverOneDevice "$sync_start
STAT /sdcard
STAT /sdcard/missing
LIST /sdcard/empty
LIST /sdcard/mixed
STAT /sdcard/mixed/.notandrix
STAT /sdcard/marked/.notandrix
QUIT" "${device[@]}"

run InjectedNamesAreSkipped "$sync_start
LIST /sdcard/mixed
STAT /sdcard/empty
QUIT" "${device[@]}" \
  --fault 'list=/sdcard/mixed dent 0100644 5 1600000000 a/b' \
  --fault 'list=/sdcard/mixed dent 0100644 5 0 ..' \
  --fault 'list=/sdcard/mixed dent 0100644 5 1600000000 n\{300}' \
  --fault 'list=/sdcard/mixed dent 0100644 0 0 ""'

run NoDevice $'CONNECT\nhost:transport-any'

run UnknownSerial $'CONNECT\nhost:transport:nosuch' "${device[@]}"

run LocalTransportTakesTheEmulator $'CONNECT\nhost:transport-local\nsync:' \
  "${device[@]}" --device "usb-1=$work/dev"

run LongFailTextKeepsItsFirst1023Bytes "$sync_start" "${device[@]}" \
  --fault 'sync fail a\{1022}b\{977}'

run ControlCharactersInAFailText "$sync_start" "${device[@]}" \
  --fault 'sync fail "bad \x1b[31mred\x1b[0m\ttab\nline"'

run ClosedInTheMiddleOfAReply "$sync_start
STAT /sdcard" "${device[@]}" --fault 'stat close-after 6'

[ $failures -eq 0 ] && echo "all cases passed"
exit $((failures > 0))

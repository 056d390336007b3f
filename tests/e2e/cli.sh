#!/bin/bash
# End-to-end test of the command line: each bad command line makes the real program
# write its one message (or the usage text) to standard error, byte for byte, write
# nothing to standard output and exit with 1. None of these reach the ADB server.
# Usage: cli.sh TOOL-COMMAND ADBSIM PLATFORM WORKDIR
set -u
read -r -a tool <<< "$1"
platform=$3
work=$4
version=$(sed -n 's/^project(tandrix VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

if [ "$platform" = windows ]; then
  s=/; eol=$'\r\n'; lead=$'\r\n'   # redirected standard error: each message starts a line
else
  s=-; eol=$'\n'; lead=
fi

# The expected standard error, written to expected.txt.
expect_messages() {
  : > expected.txt
  for message; do printf '%s%s%s' "$lead" "$message" "$eol" >> expected.txt; done
}
expect_usage() {
  printf '%s' "$lead" > expected.txt
  for line in \
    "tandrix - compares a host directory tree with an Android device through ADB" \
    "Usage:  tandrix [flags] hostroot androidroot [altroot]" \
    "" \
    "${s}h  update host" \
    "${s}a  update android" \
    "${s}s  search subdirectories" \
    "${s}l  list all files or d (differences), h (host only), a (android only)" \
    "${s}i  ignore files in pattern list" \
    "${s}o  only files in pattern list" \
    "${s}d  device name" \
    "${s}v  verbose" \
    "${s}q  quiet" \
    "${s}0  one hour differences are considered same" \
    "${s}1  use 1 second resolution (ext*)" \
    "${s}2  use 2 second resolution (vfat)" \
    "" \
    "${s}h and ${s}a use s (create subdirs), c (create files), u (update files), default=cu." \
    "Pattern lists are *? format, semicolon delimited." \
    "${s}n  dry run: list the copies a run would make, copy nothing" \
    "A pattern ending in / leaves folders out; one with / inside matches the path." \
    "${s}k  keep going past files that cannot be copied, list them at the end"; do
    printf '%s%s' "$line" "$eol" >> expected.txt
  done
}

failures=0
count=0
# check NAME ARGS...: runs the tool and compares with expected.txt and exit code 1.
check() {
  local name=$1; shift
  count=$((count + 1))
  "${tool[@]}" "$@" > stdout.txt 2> stderr.txt < /dev/null
  local code=$?
  if [ "$code" != 1 ] || ! cmp -s expected.txt stderr.txt || [ -s stdout.txt ]; then
    failures=$((failures + 1))
    echo "FAIL: $name (exit $code)"
    echo "--- expected standard error"; od -c expected.txt | head -20
    echo "--- actual standard error"; od -c stderr.txt | head -20
    echo "--- standard output"; head -c 300 stdout.txt; echo
  fi
}

expect_usage
check "no argument"
check "usage request" "${s}?"
check "usage request with arguments" "${s}?" "${s}l" host sdcard
check "flags but no roots" "${s}l"
if [ "$platform" = posix ]; then
  # GNU conventions: the answer on standard output, exit 0, whatever else is given.
  mv expected.txt usage.txt
  for row in "--help|usage.txt" "--version|version.txt" "-l host --version sdcard|version.txt"; do
    printf 'tandrix %s\n' "$version" > version.txt
    count=$((count + 1))
    read -r -a words <<< "${row%|*}"
    "${tool[@]}" "${words[@]}" > stdout.txt 2> stderr.txt < /dev/null
    code=$?
    if [ "$code" != 0 ] || ! cmp -s "${row#*|}" stdout.txt || [ -s stderr.txt ]; then
      failures=$((failures + 1)); echo "FAIL: ${row%|*} (exit $code)"; cat stdout.txt stderr.txt
    fi
  done
fi

expect_messages "Flag A, H or L must be specified"
check "no A, H or L" host sdcard
expect_messages "Not enough arguments supplied"
check "one root" "${s}l" host
expect_messages "Too many arguments supplied"
check "four roots" "${s}l" host sdcard alt extra
expect_messages "Flags D and E are mutually exclusive"
check "D and E" "${s}d=myphone" "${s}e" "${s}l" host sdcard
check "E and D" "${s}e" "${s}dmyphone" "${s}l" host sdcard
expect_messages "Flags 1 and 2 are mutually exclusive"
check "1 and 2" "${s}2" "${s}1" "${s}l" host sdcard
expect_messages "Flag S does not take a value"
check "value refused" "${s}sx" "${s}l" host sdcard
expect_messages "Flag D must specify a value"
check "value required" "${s}d" "${s}l" host sdcard
expect_messages "Flag I must specify a value"
check "value in the next word" "${s}i" "*.tmp" "${s}l" host sdcard
expect_messages "Flag H has duplicate option C"
check "duplicate option" "${s}hcc" host sdcard
expect_messages "Flag H has illegal option X"
check "illegal option" "${s}hx" host sdcard
expect_messages "Flag L has duplicate option D"
check "overlapping option" "${s}l*d" host sdcard
expect_messages "Flag L has duplicate option A"
check "overlapping option after others" "${s}ldha" host sdcard
expect_messages "Unknown command flag X"
check "unknown flag" "${s}x" "${s}l" host sdcard
check "unknown flag before usage request" "${s}?" "${s}x"
expect_messages "Illegal command flag character #"
check "illegal flag character" "${s}#" "${s}l" host sdcard
expect_messages "Duplicate command flag S"
check "duplicate flag in either case" "${s}s" "${s}l" -S host sdcard
expect_messages "Command flag switch with no letter"
check "lone switch" "${s}l" "${s}" host sdcard
expect_messages "Flag O takes no folder or path pattern: DCIM/x"
check "path pattern in the only list" "${s}l" "${s}o=*.jpg;DCIM/x;a/" host sdcard
expect_messages "Flag D value is longer than 255 bytes"
check "serial too long" "${s}l" "${s}d$(printf '%0256d' 0)" host sdcard
expect_messages "Argument #2 is longer than 1023 bytes"
check "root too long" "${s}l" host "$(printf '%01024d' 0)"
if [ "$platform" = windows ]; then
  # An unquoted device root with a leading slash is a flag.
  expect_messages "Not enough arguments supplied"
  check "slash root is a flag" /a 'C:\data' /sdcard/DCIM
fi

# Response files: one word per line, spaces kept; quoting spans lines.
printf 'my host dir  \r\nsdcard dir\r\n' > spaces.txt
expect_messages "Flag A, H or L must be specified"
check "response file with spaces" @spaces.txt
printf '%sl\n"my host\nsdcard"\n' "$s" > quoted.txt
expect_messages "Not enough arguments supplied"
check "quoted word spans lines" @quoted.txt
printf '%sl\n"my host\n' "$s" > unclosed.txt
expect_messages "Terminating quote missing" "Couldn't open response file"
check "missing closing quote" @unclosed.txt host
: > empty.txt
expect_messages "Couldn't open response file"
check "empty response file" "${s}l" @empty.txt host sdcard
check "missing response file" "${s}l" @missing.txt host sdcard
check "response file name of 300 characters" "${s}l" "@$(printf '%0300d' 0)" host sdcard
printf '%sx\n' "$s" > badflag.txt
expect_messages "Unknown command flag X" "Couldn't open response file"
check "bad flag in a response file" @badflag.txt host sdcard

echo "$((count - failures)) of $count command lines behaved"
[ "$failures" = 0 ]

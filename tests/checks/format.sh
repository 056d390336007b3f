#!/bin/bash
# Fails when a C++ file of the project is not in the house format (.clang-format);
# `format.sh --fix` rewrites them instead. Needs clang-format (Debian's clang-format).
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top" || exit 2
command -v clang-format >/dev/null || { echo "format: clang-format is not installed"; exit 2; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench fuzz -name '*.cpp' -o -name '*.h')
if [ "${1:-}" = --fix ]; then
    clang-format -i --style=file "${files[@]}"
    exit 0
fi
# One clang-format for all files; its complaints name the files.
existing=()
for f in "${files[@]}"; do [ -f "$f" ] && existing+=("$f"); done
if complaints=$(clang-format --style=file --dry-run -Werror "${existing[@]}" 2>&1); then
    echo "format: ${#existing[@]} files formatted"
    exit 0
fi
grep -o '^[^:]*\.\(cpp\|h\):' <<<"$complaints" | sort -u | sed 's/:$//' |
    while read -r f; do echo "format: $f is not formatted (tests/checks/format.sh --fix)"; done
grep -q '\.\(cpp\|h\):' <<<"$complaints" || echo "$complaints"
exit 1

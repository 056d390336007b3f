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
bad=0
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    if ! clang-format --style=file --dry-run -Werror "$f" >/dev/null 2>&1; then
        echo "format: $f is not formatted (tests/checks/format.sh --fix)"
        bad=1
    fi
done
[ "$bad" -eq 0 ] && echo "format: ${#files[@]} files formatted"
exit "$bad"

#!/bin/bash
# The manual page: man reads it without a warning, and it documents every flag of the
# program's usage text. Exit 77 (skipped) where man is not installed.
# Usage: manual.sh MANUAL-PAGE TANDRIX
set -u
page=$1 tool=$2
if ! command -v man >/dev/null; then
    echo "skipped: man is not installed (Debian: man-db)"
    exit 77
fi
text=$(MANWIDTH=80 man --warnings -l "$page" 2>warnings.txt) || { echo "man failed on $page"; exit 1; }
if [ -s warnings.txt ]; then
    echo "man warns about $page:"; cat warnings.txt; exit 1
fi
status=0
for flag in $("$tool" --help | sed -n 's/^\(-[a-z0-9?]\)  .*/\1/p'); do
    # An option entry: its tag at the indent of the OPTIONS list.
    awk -v tag="       $flag" 'index($0, tag) == 1 { found = 1 } END { exit !found }' <<<"$text" ||
        { echo "the manual page has no entry for $flag"; status=1; }
done
exit $status

#!/bin/bash
# Keeps the source layering: a file under src/ includes only its own folder and the
# folders below it (platform < support < tree < hostfs, adb < run; hostfs and adb
# are the two sides and never include each other). Prints each offending include.
set -u
src=${1:-$(dirname "$0")/../../src}
rank() {
    case $1 in
        platform) echo 0 ;; support) echo 1 ;; tree) echo 2 ;;
        hostfs|adb) echo 3 ;; run) echo 4 ;; *) echo -1 ;;
    esac
}
bad=0
while IFS=: read -r file _ text; do
    own=${file#"$src"/}; own=${own%%/*}
    target=$(sed -n 's/^#include "\([a-z]*\)\/.*/\1/p' <<<"$text")
    [ -z "$target" ] && continue
    r_own=$(rank "$own"); r_target=$(rank "$target")
    if [ "$r_target" -lt 0 ] || [ "$r_own" -lt 0 ] || [ "$r_target" -gt "$r_own" ] ||
       { [ "$r_target" -eq "$r_own" ] && [ "$target" != "$own" ]; }; then
        echo "layering: ${file#"$src"/} includes $target/ (${text#\#include })"
        bad=1
    fi
done < <(grep -rn '^#include "' "$src")
[ "$bad" -eq 0 ] && echo "layering: every include points to its own folder or one below"
exit "$bad"

#!/bin/bash
# Runs a Windows program under Wine inside the current (private) network namespace:
# wine-net-run.sh PREFIX PROGRAM ARGS... Wine's sockets are made by the wineserver,
# so the program needs a wineserver of its own started here, in a prefix used only
# for network tests (one at a time: the server's socket is reachable from every
# namespace). "wine-net-run.sh PREFIX --init ARCH" prepares the prefix once.
here=$(cd "$(dirname "$0")" && pwd)
if [ "${2-}" = "--init" ]; then
  exec "$here/wine-run.sh" "$@"
fi
. "$here/wine-env.sh"
wine_setup "$1" "$2"
shift
wineserver -k 2>/dev/null   # a server left from elsewhere would own the sockets
wineserver -w
"$WINELOADER" "$@"
status=$?
wineserver -k 2>/dev/null
wineserver -w
exit $status

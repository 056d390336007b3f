#!/bin/bash
# Runs a Windows program that uses the network under Wine, inside the current (private)
# network namespace: wine-net-run.sh BASE PROGRAM ARGS... takes a prefix of the pool
# beside the prefix BASE, with a server of its own started here (see wine-env.sh).
# "wine-net-run.sh BASE --hold PROGRAM COMMAND..." takes the prefix for PROGRAM and runs
# COMMAND while holding it: the wine-net-run.sh calls inside COMMAND use that prefix and
# its server, which saves a server start per call.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
if [ -n "${WINE_NET_HELD:-}" ]; then
  wine_setup "$WINE_NET_HELD" "$2"
  shift
  exec "$WINELOADER" "$@"
fi
base=$1
shift
hold=""
if [ "${1-}" = --hold ]; then
  hold=1
  shift
fi
wine_net_take "$base" "$1" || exit 1
if [ -n "$hold" ]; then
  shift
  WINE_NET_HELD=$WINE_NET_PREFIX "$@"
else
  "$WINELOADER" "$@"
fi
status=$?
wine_net_release
exit $status

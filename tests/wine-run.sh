#!/bin/bash
# Runs a Windows program under Wine in a private prefix: wine-run.sh PREFIX PROGRAM ARGS...
# "wine-run.sh PREFIX --init ARCH" creates the prefix once; later calls keep it.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
if [ "${2-}" = "--init" ]; then
  wine_setup "$1" "${3:-win32}"
  wine_init_prefix
  exit
fi
wine_setup "$1" "$2"
shift
exec "$WINELOADER" "$@"

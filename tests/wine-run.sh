#!/bin/bash
# Runs a Windows program under Wine in a private 32-bit prefix: wine-run.sh PREFIX PROGRAM ARGS...
# "wine-run.sh PREFIX --init" creates the prefix once; later calls keep it.
export WINEPREFIX="$1"; shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer dialogs
export WINEARCH=win32
unset DISPLAY                                # console programs only: no window system
if [ "${1-}" = "--init" ]; then
  [ -f "$WINEPREFIX/system.reg" ] && exit 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  if ! wineboot -i >"$WINEPREFIX.log" 2>&1 || [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-run.sh: could not create the Wine prefix $WINEPREFIX:" >&2
    tail -5 "$WINEPREFIX.log" >&2
    exit 1
  fi
  wineserver -w
  exit 0
fi
exec wine "$@"

# Sourced by the Wine runners: wine_setup PREFIX ARCH|PROGRAM sets up a private prefix
# and picks the loader. ARCH is win32 or win64; given a program, its PE header decides.
# A 32-bit program needs a kernel that runs 32-bit code (wine_can_run_win32 tells).
wine_arch_of() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 8664 ]; then echo win64; else echo win32; fi
}
wine_can_run_win32() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}
wine_setup() {
  export WINEPREFIX="$1"
  case "$2" in
    win32|win64) WINEARCH=$2 ;;
    *) WINEARCH=$(wine_arch_of "$2") ;;
  esac
  export WINEARCH
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer dialogs
  unset DISPLAY                                # console programs only
  if [ "$WINEARCH" = win64 ]; then
    export WINELOADER=/usr/lib/wine/wine64
  else
    export WINELOADER=/usr/lib/wine/wine
  fi
}
wine_init_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  # wineboot's status is not the verdict: a 64-bit-only Wine fails on the missing
  # 32-bit rundll32 yet leaves a usable prefix. The registry is on disk once the
  # server has ended.
  "$WINELOADER" wineboot -i >"$WINEPREFIX.log" 2>&1
  wineserver -w
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "could not create the Wine prefix $WINEPREFIX:" >&2
    tail -5 "$WINEPREFIX.log" >&2
    return 1
  fi
}
# Wine makes sockets in its server, so a program that uses the network needs a server
# started in the caller's network namespace. wine_net_take BASE PROGRAM takes a free
# prefix of a pool of four beside BASE (waiting for the first when all are taken),
# copied once from BASE, starts its server here and holds the prefix's lock on fd
# WINE_NET_LOCK until the caller ends; wine_net_release stops the server.
wine_net_take() {
  local pool slot
  pool=$(cd "$(dirname "$1")" && pwd)/wine-net   # Wine takes absolute prefixes only
  mkdir -p "$pool"
  for slot in 1 2 3 4; do
    exec {WINE_NET_LOCK}>"$pool/prefix$slot.lock"
    flock -n "$WINE_NET_LOCK" && break
    exec {WINE_NET_LOCK}>&-
    slot=""
  done
  if [ -z "$slot" ]; then
    slot=1
    exec {WINE_NET_LOCK}>"$pool/prefix$slot.lock"
    flock "$WINE_NET_LOCK"
  fi
  WINE_NET_PREFIX=$pool/prefix$slot
  wine_setup "$WINE_NET_PREFIX" "$2"
  if [ ! -f "$WINE_NET_PREFIX/system.reg" ] && [ -f "$1/system.reg" ]; then
    rm -rf "$WINE_NET_PREFIX"
    cp -a "$1" "$WINE_NET_PREFIX"
  fi
  wine_init_prefix || return 1
  wineserver -k >/dev/null 2>&1   # a server started elsewhere would own the sockets
  wineserver -w
  wineserver -p {WINE_NET_LOCK}>&-   # the lock ends with the caller, not with the server
}
wine_net_release() {
  WINEPREFIX=$WINE_NET_PREFIX wineserver -k >/dev/null 2>&1 || true
}

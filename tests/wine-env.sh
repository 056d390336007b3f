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

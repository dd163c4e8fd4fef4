#!/usr/bin/env bash
# init PREFIX: makes the Wine prefix if needed, then leaves a stamp
# (.zobrel-ready) that the build depends on.
# start PREFIX: init, then keeps a wineserver running for the prefix, so that
# each test's Wine start is quick. stop PREFIX: ends that wineserver.
set -eu
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= WINEARCH=win64
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver || true)
if [ ! -x /usr/lib/wine/wine64 ] || [ -z "$server" ]; then
  echo "wine-prefix: Wine is not installed; run scripts/setup.sh" >&2
  exit 1
fi

# Bounded, so a Wine that hangs fails the run loudly instead of eating it.
# Wine's services outlive these commands and inherit their output: keep them
# off the caller's pipe, or whoever reads it (ninja, ctest) waits for them.
init() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
  fi
  # A program that runs proves the prefix works.
  timeout 300 /usr/lib/wine/wine64 cmd /c exit 0 >/dev/null 2>&1 </dev/null ||
    { echo "wine-prefix: Wine cannot run programs in $WINEPREFIX" >&2; exit 1; }
  touch "$WINEPREFIX/.zobrel-ready"
}

case $action in
  init)
    init
    ;;
  start)
    "$server" -p >/dev/null 2>&1 </dev/null || true
    init
    ;;
  stop)
    "$server" -k >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: wine-prefix.sh init|start|stop PREFIX" >&2
    exit 2
    ;;
esac

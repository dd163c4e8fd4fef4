#!/usr/bin/env bash
# start PREFIX: makes the Wine prefix if needed and keeps a wineserver running
# for it, so that each test's Wine start is quick. stop PREFIX: ends it.
set -eu
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= WINEARCH=win64
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver || true)
if [ ! -x /usr/lib/wine/wine64 ] || [ -z "$server" ]; then
  echo "wine-prefix: Wine is not installed; run scripts/setup.sh" >&2
  exit 1
fi
case $action in
  start)
    "$server" -p >/dev/null 2>&1 </dev/null || true
    # Bounded, so a Wine that hangs fails the run loudly instead of eating it.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
    fi
    # A program that runs proves the prefix works.
    # Wine's services outlive this command and inherit its output: keep them
    # off the caller's pipe, or whoever reads it (ctest) waits for them.
    timeout 300 /usr/lib/wine/wine64 cmd /c exit 0 >/dev/null 2>&1 </dev/null ||
      { echo "wine-prefix: Wine cannot run programs in $WINEPREFIX" >&2; exit 1; }
    ;;
  stop)
    "$server" -k >/dev/null 2>&1 || true
    ;;
esac

#!/usr/bin/env bash
# Runs windowed_test.exe on a desktop of its own: a private Xvfb display,
# started here (the machine needs no X server of its own), and a Wine prefix
# whose desktop is made with that display. Wine makes a prefix's desktop once
# per wineserver; made without a display (as the other tests' prefix's may
# be), it shows no window to any later process.
#   windowed_test.sh PREFIX TEST_EXE WINE_RUN WINE_PREFIX_SCRIPT
set -u
prefix=$1 test_exe=$2 wine_run=$3 wine_prefix=$4
work=$(mktemp -d /tmp/zobrel-windowed.XXXXXX)
xvfb=""
cleanup() {
  "$wine_prefix" stop "$prefix"
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

command -v Xvfb >/dev/null || { echo "FAIL: Xvfb is missing; run scripts/setup.sh"; exit 1; }
# Xvfb picks a free display number and writes it to descriptor 5.
Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 5>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# A wineserver left from an earlier run would keep its old desktop.
"$wine_prefix" stop "$prefix"
"$wine_prefix" start "$prefix" || exit 1
ZOBREL_WINEPREFIX=$prefix "$wine_run" "$test_exe"

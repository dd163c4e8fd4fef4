#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix, quietly
# and without Mono/Gecko prompts. Set ZOBREL_WINEPREFIX to choose the prefix;
# by default it is "wineprefix" in the current build directory.
#
# With ZOBREL_WINE_RETRY=1 (the build sets it for test runs and test
# discovery), a run that fails with Wine's own client fault ("wine client
# error", seen about once in a hundred process starts, at start or at exit,
# whatever the program does) runs once more. Every retry is reported on
# standard error and appended to $ZOBREL_WINE_RETRY_LOG if that is set. Any
# other failure is the program's, and is returned as it is.
set -u
export WINEPREFIX=${ZOBREL_WINEPREFIX:-${WINEPREFIX:-$PWD/wineprefix}}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# A test adds its own overrides here: Wine reads them from the Unix
# environment a process starts with, never from a Windows environment block.
[ -n "${ZOBREL_WINE_EXTRA_OVERRIDES:-}" ] && WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$ZOBREL_WINE_EXTRA_OVERRIDES"
export WINEARCH=win64
loader=${ZOBREL_WINE_LOADER:-/usr/lib/wine/wine64}  # replaced only by its own test
if [ ! -x "$loader" ]; then
  echo "wine-run: Wine's loader $loader is missing; run scripts/setup.sh" >&2
  exit 127
fi
[ "${ZOBREL_WINE_RETRY:-0}" = 1 ] || exec "$loader" "$@"

fault='wine client error'
errors=$(mktemp)
output=$(mktemp)
trap 'rm -f "$errors" "$output"' EXIT
# A test list is read by a program, so a retried listing must not reach it
# twice: its output is held back until the run has succeeded.
hold_output=0
for arg in "$@"; do [ "$arg" = --gtest_list_tests ] && hold_output=1; done

for attempt in 1 2; do
  if [ $hold_output = 1 ]; then
    "$loader" "$@" >"$output" 2>"$errors"
  else
    "$loader" "$@" 2>"$errors"
  fi
  status=$?
  cat "$errors" >&2
  if [ $status = 0 ] || [ $attempt = 2 ] || ! grep -q "$fault" "$errors"; then
    [ $hold_output = 1 ] && cat "$output"
    exit $status
  fi
  note="wine-run: Wine's own fault ('$(grep -m1 "$fault" "$errors")', status $status) in: $*; running it once more"
  echo "$note" >&2
  [ -n "${ZOBREL_WINE_RETRY_LOG:-}" ] && echo "$note" >>"$ZOBREL_WINE_RETRY_LOG"
done

#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix, quietly
# and without Mono/Gecko prompts. Set ZOBREL_WINEPREFIX to choose the prefix;
# by default it is "wineprefix" in the current build directory.
set -u
export WINEPREFIX=${ZOBREL_WINEPREFIX:-${WINEPREFIX:-$PWD/wineprefix}}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
loader=/usr/lib/wine/wine64
if [ ! -x "$loader" ]; then
  echo "wine-run: Wine's loader $loader is missing; run scripts/setup.sh" >&2
  exit 127
fi
exec "$loader" "$@"

#!/usr/bin/env bash
# The full damage campaign: CASES damaged copies (default 500) of the small
# packed application, packed by default and with --checksum, each run once
# through the Windows-side runner (tests/helpers/damage_runner.cpp) on an
# empty unpack folder, then again on one that holds the intact files; the
# runner prints the counts per class and per kind of damage. Copies that end
# in the class "other" are kept under BUILD_DIR/damage-kept for replay.
#
#   tests/damage_campaign.sh [BUILD_DIR] [CASES] [SEED]
#   (BUILD_DIR: a Windows build, default build/ci/win; SEED default 1)
#
# Exit status 0 only when no copy of either pack ended in "other".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci/win}" && pwd)
cases=${2:-500}
seed=${3:-1}
cmake --build "$build" --target damage_runner >/dev/null
export ZOBREL_WINEPREFIX=$build/wineprefix
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
status=0
for folder in empty warm; do
  for variant in default checksum; do
    echo "== packed $( [ $variant = checksum ] && echo 'with --checksum' || echo 'by default' ), $folder unpack folder"
    "$root/cmake/wine-run.sh" "$build/tests/damage_runner.exe" \
      "$(winpath "$build/tests/damage_onefile_$variant.exe")" "$(winpath "$build/tests/damage-app")" \
      "$seed" "$cases" $( [ $folder = warm ] && echo --warm ) --keep "$(winpath "$build/damage-kept")" || status=1
  done
done
exit $status

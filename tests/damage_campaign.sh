#!/usr/bin/env bash
# The full damage campaign: the executable cut at every section boundary and
# inside its headers, CASES damaged copies (default 500) of the small
# packed application, packed by default and with --checksum, and, on the
# empty folder, LAUNCHER_CASES more (default 300) damaged in the launcher's
# own code, data, section table or headers, each run once
# through the Windows-side runner (tests/helpers/damage_runner.cpp) on an
# empty unpack folder, each then held against what zobrel-pack.exe verify
# says of it, then again on a folder that holds the intact files; the
# runner prints the counts per class and per kind of damage, and the table
# of verify's verdicts against the starts. Copies that end in the class
# "other", or where verify disagrees, are kept under BUILD_DIR/damage-kept
# for replay.
#
#   tests/damage_campaign.sh [BUILD_DIR] [CASES] [SEED] [LAUNCHER_CASES]
#   (DAMAGE_FOLDERS="empty warm" and DAMAGE_VARIANTS="default checksum" choose the phases)
#   (BUILD_DIR: a Windows build, default build/ci/win; SEED default 1)
#
# Exit status 0 only when no copy of either pack ended in "other" (but a
# damaged launcher verify refused, whose start cannot be foretold) and
# verify agreed with every start on an empty folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci/win}" && pwd)
cases=${2:-500}
seed=${3:-1}
launcher_cases=${4:-300}
cmake --build "$build" --target damage_runner zobrel-pack >/dev/null
export ZOBREL_WINEPREFIX=$build/wineprefix
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# A launcher damaged in its code may write anywhere relative to its current
# folder: that is a scratch folder of the build, never the caller's.
mkdir -p "$build/damage-cwd"
cd "$build/damage-cwd"
status=0
for folder in ${DAMAGE_FOLDERS:-empty warm}; do
  for variant in ${DAMAGE_VARIANTS:-default checksum}; do
    echo "== packed $( [ $variant = checksum ] && echo 'with --checksum' || echo 'by default' ), $folder unpack folder"
    "$root/cmake/wine-run.sh" "$build/tests/damage_runner.exe" \
      "$(winpath "$build/tests/damage_onefile_$variant.exe")" "$(winpath "$build/tests/damage-app")" \
      "$seed" "$cases" --keep "$(winpath "$build/damage-kept")" \
      $( [ $folder = warm ] && echo --warm || echo --launcher-cases "$launcher_cases" \
           --verify "$(winpath "$build/packer/zobrel-pack.exe")") || status=1
  done
done
exit $status

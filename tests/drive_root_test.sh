#!/usr/bin/env bash
# A launcher at the root of a drive publishes the drive alone ("Q:", no
# backslash) as ZOBREL_ONEFILE_DIRECTORY, and passes "Q:\name.exe" as the
# child's first argument. The drive is a Wine drive letter made for the test
# in the build's own prefix, pointing at a scratch folder.
#
# usage: drive_root_test.sh WINEPREFIX TEST_BIN_DIR WINE_RUN_SCRIPT
set -u
prefix=$1
bin=$2
wine_run=$3
scratch=$(mktemp -d /tmp/zobrel-drive-root.XXXXXX)
letter=
for candidate in q r s t u v w x y; do
  if [ ! -e "$prefix/dosdevices/$candidate:" ] && ln -s "$scratch" "$prefix/dosdevices/$candidate:" 2>/dev/null; then
    letter=$candidate
    break
  fi
done
cleanup() {
  [ -n "$letter" ] && rm -f "$prefix/dosdevices/$letter:"
  rm -rf "$scratch"
}
trap cleanup EXIT
[ -n "$letter" ] || { echo "FAIL: no free drive letter in $prefix/dosdevices"; exit 1; }
drive=${letter^^}:

# The value of one report line, decoded from its UTF-16 hex.
report_value() {
  local hex i
  hex=$(grep -m1 "^$2=" "$1" | cut -d= -f2)
  for ((i = 0; i < ${#hex}; i += 4)); do
    printf "\\u${hex:i:4}"
  done
}

cp "$bin/launch_probe.exe" "$scratch/"
cp -r "$bin/report-app" "$scratch/"
launchers=(launch_probe.exe)
if [ -f "$bin/report_onefile.exe" ]; then
  cp "$bin/report_onefile.exe" "$scratch/"
  launchers+=(report_onefile.exe)
fi
mkdir -p "$scratch/temp"

failures=0
for launcher in "${launchers[@]}"; do
  rm -f "$scratch/report"
  ZOBREL_WINEPREFIX=$prefix TMP="$drive\\temp" TEMP="$drive\\temp" REPORT_OUT="$drive\\report" \
    "$wine_run" "$drive\\$launcher" a >/dev/null 2>&1
  if [ ! -f "$scratch/report" ]; then
    echo "FAIL: $launcher: the child did not run"
    failures=$((failures + 1))
    continue
  fi
  directory=$(report_value "$scratch/report" env.ZOBREL_ONEFILE_DIRECTORY)
  raw=$(report_value "$scratch/report" raw)
  if [ "$directory" != "$drive" ]; then
    echo "FAIL: $launcher: ZOBREL_ONEFILE_DIRECTORY is '$directory', not '$drive'"
    failures=$((failures + 1))
  fi
  if [ "$raw" != "$drive\\$launcher a" ]; then
    echo "FAIL: $launcher: the child's command line is '$raw'"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || exit 1
echo "drive root cases passed (${launchers[*]} on $drive)"

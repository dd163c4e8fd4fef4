#!/usr/bin/env bash
# The Windows archive: CPack makes the .zip from the Windows build; it holds
# zobrel-pack.exe, one file with the launcher inside it, and the CMake
# package, and the unpacked zobrel-pack.exe runs.
#   windows_package_test.sh WINDOWS_BUILD_DIR WINE_RUN
set -euo pipefail
build=$1 wine_run=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
archive=$(ls "$work"/package/zobrel-onefile-*-windows-x86_64.zip)
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$archive")
prefix=$(ls -d "$work"/unpacked/zobrel-onefile-*)
for f in bin/zobrel-pack.exe lib/cmake/ZobrelOnefile/ZobrelOnefileConfig.cmake lib/cmake/ZobrelOnefile/ZobrelOnefile.cmake; do
  [ -f "$prefix/$f" ] || { echo "FAIL the archive has no $f"; exit 1; }
done
extra=$(cd "$prefix/bin" && ls | grep -v '^zobrel-pack.exe$' || true)
[ -z "$extra" ] || { echo "FAIL bin/ holds more than zobrel-pack.exe: $extra"; exit 1; }
version=$("$wine_run" "$prefix/bin/zobrel-pack.exe" --version | tr -d '\r')
case $version in
  "zobrel-pack "[0-9]*) echo "ok   $(basename "$archive") holds $version" ;;
  *) echo "FAIL zobrel-pack.exe --version printed '$version'"; exit 1 ;;
esac

#!/usr/bin/env bash
# The Linux archive as a user installs it: CPack makes the .tar.gz from the
# build, it is unpacked into a fresh folder, holds zobrel-pack and the CMake
# package, and a project of someone else's finds it with
# find_package(ZobrelOnefile) and packs a Windows program with
# zobrel_add_onefile() (install/use_installed.sh).
#   install_test.sh HOST_BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
archive=$(ls "$work"/package/zobrel-onefile-*-linux-x86_64.tar.gz)
mkdir "$work/opt"
tar -xzf "$archive" -C "$work/opt"
prefix=$(ls -d "$work"/opt/zobrel-onefile-*)
for f in bin/zobrel-pack lib/cmake/ZobrelOnefile/ZobrelOnefileConfig.cmake \
         lib/cmake/ZobrelOnefile/ZobrelOnefileConfigVersion.cmake lib/cmake/ZobrelOnefile/ZobrelOnefile.cmake; do
  [ -f "$prefix/$f" ] || { echo "FAIL the archive has no $f"; exit 1; }
done
"$prefix/bin/zobrel-pack" --version | grep -q '^zobrel-pack [0-9]' || { echo "FAIL --version"; exit 1; }
"$here/install/use_installed.sh" "$prefix" "$work/use"
echo "ok   installed from $(basename "$archive"), found by find_package, packed by zobrel_add_onefile"

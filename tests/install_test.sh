#!/usr/bin/env bash
# The Linux archive as a user installs it: CPack makes the .tar.gz from the
# build, it is unpacked into a fresh folder, and a project of someone else's
# finds it with find_package(ZobrelOnefile) and packs a Windows program with
# zobrel_add_onefile(). No compiler for Windows is on the PATH meanwhile.
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

# Any 64-bit Windows console program will do as the application.
mkdir -p "$work/app"
cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/where.exe "$work/app/hello.exe"
echo "data" >"$work/app/data.txt"

# The other project is configured and built with a PATH that holds cmake,
# make and a shell, and nothing of mingw-w64 (which /usr/bin holds here).
mkdir "$work/bin"
for tool in cmake make sh; do ln -s "$(command -v $tool)" "$work/bin/$tool"; done
bare() { env PATH="$work/bin" "$@"; }
bare cmake -S "$here/install" -B "$work/user" -G "Unix Makefiles" -DCMAKE_PREFIX_PATH="$prefix" \
  -DHELLO_APP_DIR="$work/app" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; echo "FAIL configure"; exit 1; }
bare cmake --build "$work/user" >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "FAIL build"; exit 1; }
[ -f "$work/user/hello.exe" ] || { echo "FAIL no hello.exe"; exit 1; }
"$prefix/bin/zobrel-pack" verify "$work/user/hello.exe"
"$prefix/bin/zobrel-pack" list "$work/user/hello.exe" | grep -q 'data.txt' || { echo "FAIL data.txt not packed"; exit 1; }
echo "ok   installed from $(basename "$archive"), found by find_package, packed by zobrel_add_onefile"

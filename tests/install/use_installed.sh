#!/usr/bin/env bash
# An installed zobrel-onefile used by a project of someone else's (this
# folder's CMakeLists.txt): found with find_package(ZobrelOnefile), it packs
# a Windows program with zobrel_add_onefile(). No compiler for Windows is on
# the PATH meanwhile. Used for the archives and the Debian package alike.
#   use_installed.sh PREFIX WORK_DIR
# PREFIX holds bin/zobrel-pack and lib/cmake/ZobrelOnefile; WORK_DIR, which
# must not exist, receives the application and the other project's build.
set -euo pipefail
prefix=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL $*"; exit 1; }
mkdir "$work"

# Any 64-bit Windows console program will do as the application.
mkdir -p "$work/app"
cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/where.exe "$work/app/hello.exe"
echo "data" >"$work/app/data.txt"

# The other project is configured and built with a PATH that holds cmake,
# make and a shell, and nothing of mingw-w64 (which /usr/bin holds here).
mkdir "$work/bin"
for tool in cmake make sh; do ln -s "$(command -v $tool)" "$work/bin/$tool"; done
bare() { env PATH="$work/bin" "$@"; }
bare cmake -S "$here" -B "$work/user" -G "Unix Makefiles" -DCMAKE_PREFIX_PATH="$prefix" \
  -DHELLO_APP_DIR="$work/app" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
bare cmake --build "$work/user" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
[ -f "$work/user/hello.exe" ] || fail "no hello.exe"
"$prefix/bin/zobrel-pack" verify "$work/user/hello.exe" >/dev/null || fail "hello.exe does not verify"
"$prefix/bin/zobrel-pack" list "$work/user/hello.exe" | grep -q 'data.txt' || fail "data.txt not packed"

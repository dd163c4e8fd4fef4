#!/usr/bin/env bash
# Lays out an application folder to pack for the unpacking tests: the tiny
# program as app.exe, a shipped empty file, a small text file and the given
# number of Wine's own DLLs (real PE files of 20 to 600 KB, in name order).
#
# usage: make_unpack_app.sh APP_EXE DEST_DIR DLL_COUNT
set -euo pipefail
exe=$1
dest=$2
count=$3
src=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
[ -d "$src" ] || { echo "make_unpack_app: $src is missing; install wine64 (scripts/setup.sh)" >&2; exit 1; }
rm -rf "$dest"
mkdir -p "$dest/data" "$dest/lib"
cp "$exe" "$dest/app.exe"
: > "$dest/data/empty.dat"
printf 'Shipped inside the executable.\r\n' > "$dest/data/text.txt"
n=0
for f in $(LC_ALL=C ls "$src"); do
  [ "$n" -lt "$count" ] || break
  case $f in *.dll) ;; *) continue ;; esac
  size=$(stat -c %s "$src/$f")
  [ "$size" -ge 20000 ] && [ "$size" -le 600000 ] || continue
  cp "$src/$f" "$dest/lib/"
  n=$((n + 1))
done
[ "$n" = "$count" ] || { echo "make_unpack_app: only $n DLLs of the size wanted in $src" >&2; exit 1; }

#!/usr/bin/env bash
# Where the tidy of older builds' unpack folders costs a start least: run to
# its end before the child starts, or on a thread beside the child; each
# against a start of a build that keeps every folder (tidy_bench). Warm
# starts of a tree of real Windows binaries (~100 MB, several hundred files);
# with nothing to remove, and with an older build's copy of the whole tree
# to remove before each run. Prints every time and ratio, min / median /
# max; holds no target.
#
#   bench/run_tidy_bench.sh [BUILD_DIR]   (default build/ci/win; a Windows build)
#   environment: BENCH_REPS (5), BENCH_MB (100), BENCH_LEVEL (3), ZOBREL_PACK
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci/win}" && pwd)
pack=${ZOBREL_PACK:-$root/build/ci/packer/zobrel-pack}
src=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
reps=${BENCH_REPS:-5}
level=${BENCH_LEVEL:-3}
want=$(( ${BENCH_MB:-100} * 1000 * 1000 ))

[ -d "$src" ] || { echo "bench: $src is missing; install wine64 (scripts/setup.sh)" >&2; exit 1; }
[ -x "$pack" ] || { echo "bench: $pack is missing; run scripts/build.sh" >&2; exit 1; }
cmake --build "$build" -j2 --target tidy_bench >/dev/null
bench=$build/bench

work=$build/tidy-bench
rm -rf "$work"
mkdir -p "$work/app" "$work/parent"
app=$work/app
# bench_child first, then Wine's binaries in name order, spread over folders,
# until the size wanted.
cp "$bench/bench_child.exe" "$app/app.exe"
total=$(stat -c %s "$app/app.exe")
for f in $(LC_ALL=C ls "$src"); do
  [ "$total" -lt "$want" ] || break
  size=$(stat -c %s "$src/$f")
  [ "$size" -le 1000000 ] || continue
  dir=$app/lib/${f##*.}/${f:0:1}
  mkdir -p "$dir"
  cp "$src/$f" "$dir/"
  total=$((total + size))
done
echo "bench: $(cd "$app" && find . -type f | wc -l) files, $total bytes"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
export ZOBREL_WINEPREFIX=$build/wineprefix
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
wine() { "$root/cmake/wine-run.sh" "$@"; }

"$pack" build "$app" --main app.exe -o "$work/launcher.exe" --level "$level" \
  --target-spec "$(winpath "$work/unused")" --quiet
wine "$bench/tidy_bench.exe" "$(winpath "$work/launcher.exe")" "$(winpath "$work/parent/build")" "$reps"

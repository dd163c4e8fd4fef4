#!/usr/bin/env bash
# Times the unpacker over a ~130 MB tree of real Windows binaries, warm (every
# file reused) and cold (empty folder), against a bare decode of the same
# frame plus zlib's crc32 over the same files through mappings, all as Windows
# programs in the same run, and prints the ratios and the peak memory
# (unpack_bench). The unpacker runs as the launcher's unpack stages
# (unpack_run) and as a real packed launcher (zobrel-pack) whose child exits
# at once (bench_child); the launcher's warm start is also set against the
# two floors of a warm start: every file checked as the launcher checks it
# against its record index, then the same child started ("check + child"),
# and the same after decoding the whole frame first ("decode + crc32 +
# child", what every warm start did before there was an index). Then the
# ways to checksum an existing file against each other (checksum_bench), and
# the unpack lock (lock_bench). Exits 1 when a target is missed, after all
# have run.
#
#   bench/run_unpack_bench.sh [BUILD_DIR]   (default build/ci/win; a Windows build)
#   environment: BENCH_REPS (5), BENCH_MB (130), BENCH_LEVEL (19), ZOBREL_PACK
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci/win}" && pwd)
pack=${ZOBREL_PACK:-$root/build/ci/packer/zobrel-pack}
src=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
reps=${BENCH_REPS:-5}
level=${BENCH_LEVEL:-19}
want=$(( ${BENCH_MB:-130} * 1000 * 1000 ))

[ -d "$src" ] || { echo "bench: $src is missing; install wine64 (scripts/setup.sh)" >&2; exit 1; }
cmake --build "$build" -j2 --target unpack_bench payload_blob checksum_bench lock_bench >/dev/null
bench=$build/bench

work=$build/unpack-bench
rm -rf "$work"
mkdir -p "$work/app"
app=$work/app

# The main program first (bench_child, which exits at once as a launcher's
# child), then binaries in name order, spread over folders by extension and
# first letter the way an application's libraries are, until the size wanted.
cp "$bench/bench_child.exe" "$app/app.exe"
total=$(stat -c %s "$app/app.exe")
for f in $(LC_ALL=C ls "$src"); do
  [ "$total" -lt "$want" ] || break
  size=$(stat -c %s "$src/$f")
  # Files of up to 1 MB, so the tree has several hundred of them.
  [ "$size" -le 1000000 ] || continue
  ext=${f##*.}
  dir=$app/lib/$ext/${f:0:1}
  mkdir -p "$dir"
  cp "$src/$f" "$dir/"
  total=$((total + size))
done
files=$(cd "$app" && find . -type f | wc -l)
dirs=$(cd "$app" && find . -mindepth 1 -type d | wc -l)
echo "bench: $files files in $dirs folders, $total bytes"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
export ZOBREL_WINEPREFIX=$build/wineprefix
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
wine() { "$root/cmake/wine-run.sh" "$@"; }

# The packer makes both the launcher and, extracted from it, the blob that
# the unpack stages and the baseline read.
[ -x "$pack" ] || { echo "bench: $pack is missing; run scripts/build.sh" >&2; exit 1; }
echo "bench: packing with zobrel-pack, level $level"
"$pack" build "$app" --main app.exe -o "$work/launcher.exe" --level "$level" \
  --target-spec "$(winpath "$work/launcher-dir")" --quiet
# The files as the record index lists them: size, stored CRC-32, name.
"$pack" list "$work/launcher.exe" > "$work/list.txt"
wine "$bench/payload_blob.exe" "$(winpath "$work/launcher.exe")" "$(winpath "$work/payload.blob")" >/dev/null
echo "bench: payload blob $(stat -c %s "$work/payload.blob") bytes"

status=0
wine "$bench/unpack_bench.exe" "$(winpath "$work/payload.blob")" "$(winpath "$work/list.txt")" \
  "$(winpath "$work/probe-dir")" "$reps" "$(winpath "$work/launcher.exe")" "$(winpath "$work/launcher-dir")" ||
  status=1

# Checking existing files: plain reads (what the unpacker does, since a
# mapping faults when the file is cut short under it) against the mapping,
# over the tree the runs above left in place; then the warm start's lock.
wine "$bench/checksum_bench.exe" "$(winpath "$work/list.txt")" "$(winpath "$work/probe-dir")" "$reps" || status=1
wine "$bench/lock_bench.exe" "$(winpath "$work/probe-dir")" "$reps" || status=1
exit $status

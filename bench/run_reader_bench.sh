#!/usr/bin/env bash
# Times the payload reader against a bare zstd decode of the same frame, both
# in one Windows process under Wine, and prints the ratio reader / bare.
#
# The frame is realistic: an archive of several hundred real Windows binaries
# (~130 MB) compressed like a packed launcher's (level 19, window 2^27, no
# checksum, no content size), wrapped as a payload blob by the shared writer
# (make_reader_payload.cpp). The blob is kept in the build tree and rebuilt
# only when missing.
#
#   bench/run_reader_bench.sh [BUILD_DIR]   (default build/ci/win; a Windows build)
#   environment: BENCH_REPS (7), BENCH_MB (130), BENCH_LEVEL (19)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci/win}" && pwd)
src=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
reps=${BENCH_REPS:-7}
level=${BENCH_LEVEL:-19}
want=$(( ${BENCH_MB:-130} * 1000 * 1000 ))

[ -d "$src" ] || { echo "bench: $src is missing; install wine64 (scripts/setup.sh)" >&2; exit 1; }
cmake --build "$build" -j2 --target reader_bench make_reader_payload >/dev/null
bench_exe=$build/bench/reader_bench.exe

winpath() { printf 'Z:%s' "${1//\//\\}"; }
export ZOBREL_WINEPREFIX=$build/wineprefix
# Quiet and detached: Wine's services outlive this call and must not hold our output.
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX" </dev/null >/dev/null 2>&1
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT

work=$build/reader-bench
mkdir -p "$work"
blob=$work/payload-${want}-l${level}.blob

if [ ! -f "$blob" ]; then
  echo "bench: building the archive from $src"
  "$root/cmake/wine-run.sh" "$build/bench/make_reader_payload.exe" "$(winpath "$src")" "$want" "$level" \
    "$(winpath "$blob.tmp")"
  mv "$blob.tmp" "$blob"
fi
echo "bench: payload blob $(stat -c %s "$blob") bytes"

"$root/cmake/wine-run.sh" "$bench_exe" "$(winpath "$blob")" "$reps"

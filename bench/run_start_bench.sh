#!/usr/bin/env bash
# The start of a tiny program (bench_child.exe, which exits at once), packed
# with the default unpack folder ({CACHE_DIR}: the shell's per-user folder
# lookup runs on every start), warm, against the same program started
# directly, timed from one Windows process taking turns (side_by_side.exe):
# min / median / max of packed / direct. With ZOBREL_PACK_BEFORE naming
# another zobrel-pack (an older build), its launcher runs in the same
# turns, and the new launcher is also given against it.
#
#   bench/run_start_bench.sh [BUILD_DIR]   (default build/ci/win; a Windows build)
#   environment: BENCH_REPS (31), ZOBREL_PACK, ZOBREL_PACK_BEFORE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci/win}" && pwd)
pack=${ZOBREL_PACK:-$root/build/ci/packer/zobrel-pack}
reps=${BENCH_REPS:-31}

[ -x "$pack" ] || { echo "bench: $pack is missing; run scripts/build.sh" >&2; exit 1; }
cmake --build "$build" -j2 --target side_by_side bench_child >/dev/null
side=$build/bench/side_by_side.exe
work=$build/start-bench
rm -rf "$work"
mkdir -p "$work/app"
cp "$build/bench/bench_child.exe" "$work/app/app.exe"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
export ZOBREL_WINEPREFIX=$build/wineprefix
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
wine() { "$root/cmake/wine-run.sh" "$@"; }

# Each build gets its own product name, so their default folders differ.
"$pack" build "$work/app" --main app.exe -o "$work/after.exe" --product start-bench-after --quiet
wine "$work/after.exe" >/dev/null  # the first, cold start
commands=(after "$(winpath "$work/after.exe")" direct "$(winpath "$work/app/app.exe")")
if [ -n "${ZOBREL_PACK_BEFORE:-}" ]; then
  "$ZOBREL_PACK_BEFORE" build "$work/app" --main app.exe -o "$work/before.exe" --product start-bench-before \
    --quiet
  wine "$work/before.exe" >/dev/null
  commands+=(before "$(winpath "$work/before.exe")")
fi
echo "bench: a tiny program, warm, packed with the default unpack folder: after / direct$([ -n "${ZOBREL_PACK_BEFORE:-}" ] && echo ', after / before')"
wine "$side" "$reps" "${commands[@]}"
if [ -n "${ZOBREL_PACK_BEFORE:-}" ]; then
  echo "bench: the older launcher / direct"
  wine "$side" "$reps" before "$(winpath "$work/before.exe")" direct "$(winpath "$work/app/app.exe")"
fi

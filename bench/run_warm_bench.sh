#!/usr/bin/env bash
# Warm starts side by side with what they are measured against, all timed
# from one Windows process (side_by_side.exe) taking turns, as ratios over
# the runs (min / median / max); each target is held on the median, and the
# script exits 1 when one is missed, after all have run:
#
#  1. A real program packed with a few large DLLs (biome 1.5.3, a 22 MB
#     console program from the npm registry, and Wine's four largest DLLs,
#     about 100 MB), warm, against the same program started directly with
#     the same arguments.                                      target <= 1.25
#  2. A tree of 10,000 small files (1 to 16 KiB in 100 folders, made the same
#     way every time), warm, against checking the same files the way the
#     launcher does (plain reads, one thread) and starting the same child,
#     with no decoding: the per-file cost and the ratio.      target <= 1.0
#     The cold start (an empty folder each run) too.
#  3. With BENCH_METADATA=1 both packed with --check metadata as well: the
#     real program's warm start against the program started directly
#     (target <= 1.3), the tree's against its program started directly
#     (target <= 1.5) and against the default mode's warm start.
#  4. With BENCH_PROGRESS=1 the tree packed with --progress as well, warm,
#     against the same build without it: a warm start shows nothing and
#     should cost nothing more.                                target <= 1.05
#
#  5. With BENCH_PROGRESS=1 and Xvfb at hand: the tree given the windowed
#     launcher, cold, with --progress (its window shows) against the same
#     without, on a private X display: what the window costs a first start.
#
# With ZOBREL_PACK_BEFORE naming another zobrel-pack (an older build), 1 and
# 2 (warm and cold) also run its launcher in the same turns, into a folder of
# its own, and give the new launcher against it: "launcher / before".
#
#   bench/run_warm_bench.sh [BUILD_DIR]   (default build/ci/win; a Windows build)
#   environment: BENCH_REPS (9), BENCH_CACHE (~/.cache/zobrel-bench), ZOBREL_PACK,
#                ZOBREL_PACK_BEFORE, BENCH_METADATA (1), BENCH_PROGRESS (1)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci/win}" && pwd)
pack=${ZOBREL_PACK:-$root/build/ci/packer/zobrel-pack}
before=${ZOBREL_PACK_BEFORE:-}
reps=${BENCH_REPS:-9}
cache=${BENCH_CACHE:-$HOME/.cache/zobrel-bench}
src=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows

[ -x "$pack" ] || { echo "bench: $pack is missing; run scripts/build.sh" >&2; exit 1; }
[ -d "$src" ] || { echo "bench: $src is missing; install wine64 (scripts/setup.sh)" >&2; exit 1; }
cmake --build "$build" -j2 --target side_by_side floor_run bench_child >/dev/null
side=$build/bench/side_by_side.exe
floor_exe=$build/bench/floor_run.exe
child_exe=$build/bench/bench_child.exe
work=$build/warm-bench
rm -rf "$work"
mkdir -p "$work" "$cache"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
export ZOBREL_WINEPREFIX=$build/wineprefix
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
wine() { "$root/cmake/wine-run.sh" "$@"; }
status=0

# 1. A real program and large DLLs.
if [ ! -f "$cache/biome-1.5.3/biome.exe" ]; then
  echo "bench: fetching biome 1.5.3 from the npm registry into $cache"
  (cd "$cache" && npm pack --silent @biomejs/cli-win32-x64@1.5.3 >/dev/null &&
    mkdir -p biome-1.5.3 && tar -xzf biomejs-cli-win32-x64-1.5.3.tgz -C biome-1.5.3 --strip-components=1)
fi
app=$work/real-app
mkdir -p "$app/lib"
cp "$cache/biome-1.5.3/biome.exe" "$app/"
for f in $(ls -S "$src"/*.dll | head -4); do cp "$f" "$app/lib/"; done
echo "bench 1: $(find "$app" -type f | wc -l) files, $(du -sb "$app" | cut -f1) bytes; packing at level 19"
"$pack" build "$app" --main biome.exe -o "$work/real.exe" --level 19 --quiet \
  --target-spec "$(winpath "$work/real-unpacked")"
wine "$work/real.exe" --version >/dev/null  # the first, cold start
real_before=()
if [ -n "$before" ]; then
  "$before" build "$app" --main biome.exe -o "$work/real-before.exe" --level 19 --quiet \
    --target-spec "$(winpath "$work/real-before-unpacked")"
  wine "$work/real-before.exe" --version >/dev/null
  real_before=(before "$(winpath "$work/real-before.exe") --version")
fi
wine "$side" "$reps" --target direct 1.25 packed "$(winpath "$work/real.exe") --version" \
  direct "$(winpath "$app/biome.exe") --version" "${real_before[@]}" || status=1
if [ "${BENCH_METADATA:-1}" = 1 ]; then
  echo "bench 1 with --check metadata:"
  "$pack" build "$app" --main biome.exe -o "$work/real-meta.exe" --level 19 --quiet --check metadata \
    --target-spec "$(winpath "$work/real-meta-unpacked")"
  wine "$work/real-meta.exe" --version >/dev/null
  wine "$side" "$reps" --target direct 1.3 metadata "$(winpath "$work/real-meta.exe") --version" \
    direct "$(winpath "$app/biome.exe") --version" || status=1
fi

# 2. Ten thousand small files.
tree=$work/small-app
python3 - "$tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20261210)
for d in range(100):
    folder = os.path.join(root, "mod%03d" % d)
    os.makedirs(folder)
    for f in range(100):
        size = rng.randint(1024, 16 * 1024)
        # Text-like bytes: compressible, as source files are.
        words = [rng.choice(("def ", "return ", "self", "value", "(", ")", ":", "\n    ", "import ", "x", "1"))
                 for _ in range(size // 4)]
        data = "".join(words).encode()[:size].ljust(size, b"#")
        with open(os.path.join(folder, "file%03d.py" % f), "wb") as out:
            out.write(data)
PY
cp "$child_exe" "$tree/app.exe"
echo "bench 2: $(find "$tree" -type f | wc -l) files in $(find "$tree" -mindepth 1 -type d | wc -l) folders, $(du -sb "$tree" | cut -f1) bytes"
"$pack" build "$tree" --main app.exe -o "$work/small.exe" --level 19 --quiet \
  --target-spec "$(winpath "$work/small-unpacked")"
"$pack" list "$work/small.exe" > "$work/small-list.txt"
wine "$work/small.exe" >/dev/null
small_before=() cold_before=()
if [ -n "$before" ]; then
  "$before" build "$tree" --main app.exe -o "$work/small-before.exe" --level 19 --quiet \
    --target-spec "$(winpath "$work/small-before-unpacked")"
  wine "$work/small-before.exe" >/dev/null
  small_before=(before "$(winpath "$work/small-before.exe")")
  cold_before=(--clean "$(winpath "$work/small-before-unpacked")" before "$(winpath "$work/small-before.exe")")
fi
wine "$side" "$reps" --target floor 1.0 launcher "$(winpath "$work/small.exe")" \
  floor "$(winpath "$floor_exe") $(winpath "$work/small-list.txt") $(winpath "$work/small-unpacked") --child" \
  "${small_before[@]}" || status=1
echo "bench 2, cold (the unpack folder emptied before each run):"
wine "$side" "$(( (reps + 2) / 3 ))" --clean "$(winpath "$work/small-unpacked")" cold "$(winpath "$work/small.exe")" \
  "${cold_before[@]}" || status=1

# 3. The same tree checked by metadata.
if [ "${BENCH_METADATA:-1}" = 1 ]; then
  "$pack" build "$tree" --main app.exe -o "$work/small-meta.exe" --level 19 --quiet --check metadata \
    --target-spec "$(winpath "$work/small-meta-unpacked")"
  wine "$work/small-meta.exe" >/dev/null  # unpacks, checks by content, records the state
  wine "$work/small-meta.exe" >/dev/null
  echo "bench 3: --check metadata, warm, against the program started directly and the default mode's warm start"
  wine "$side" "$reps" --target direct 1.5 metadata "$(winpath "$work/small-meta.exe")" \
    direct "$(winpath "$work/small-meta-unpacked")\\app.exe" \
    content "$(winpath "$work/small.exe")" || status=1
fi

# 4. The same tree with --progress, warm.
if [ "${BENCH_PROGRESS:-1}" = 1 ]; then
  "$pack" build "$tree" --main app.exe -o "$work/small-progress.exe" --level 19 --quiet --progress \
    --progress-message "Unpacking {PRODUCT}" --target-spec "$(winpath "$work/small-progress-unpacked")"
  wine "$work/small-progress.exe" >/dev/null
  echo "bench 4: --progress, warm, against the same tree without it"
  wine "$side" "$reps" --target silent 1.05 progress "$(winpath "$work/small-progress.exe")" \
    silent "$(winpath "$work/small.exe")" || status=1
fi

# 5. The windowed launcher's progress window on a first start. Wine makes a
# prefix's desktop once per wineserver: it is restarted with the display.
if [ "${BENCH_PROGRESS:-1}" = 1 ] && command -v Xvfb >/dev/null; then
  for with in window none; do
    option=$([ $with = window ] && echo --progress || true)
    "$pack" build "$tree" --main app.exe -o "$work/small-$with.exe" --level 19 --quiet --subsystem windows \
      $option --target-spec "$(winpath "$work/small-$with-unpacked")"
  done
  Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 5>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  "$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"
  DISPLAY=":$(head -n1 "$work/display")" "$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
  echo "bench 5: windowed launcher, cold, with --progress (its window shows) against the same without"
  DISPLAY=":$(head -n1 "$work/display")" wine "$side" "$(( (reps + 2) / 3 ))" \
    --clean "$(winpath "$work/small-window-unpacked")" window "$(winpath "$work/small-window.exe")" \
    --clean "$(winpath "$work/small-none-unpacked")" none "$(winpath "$work/small-none.exe")" || status=1
  "$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"
  kill "$xvfb" 2>/dev/null
fi
exit $status

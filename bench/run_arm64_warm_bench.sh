#!/usr/bin/env bash
# The ARM64 launcher's warm start under ARM64 Wine, against the same program
# started directly under the same emulator (qemu-user, in the chroot of
# cmake/arm64-wine.sh), timed from one ARM64 Windows process taking turns
# (arm64_side_by_side): min / median / max of packed / direct, for
#   tiny  a program that exits at once, packed with the default unpack folder
#         (the shell's folder lookup on every start), as run_start_bench.sh;
#   cmd   ARM64 Wine's cmd.exe running "exit 0", packed with every one of
#         Wine's ARM64 DLLs beside it (over 500 files; each checked by content
#         at every start).
# Every ARM64 instruction is emulated, so the times are far above an ARM64
# machine's; the ratio is what compares.
#
#   bench/run_arm64_warm_bench.sh [BUILD_DIR]   (default build/ci: a top-level build with ZOBREL_ARM64)
#   environment: BENCH_REPS (11), ZOBREL_ARM64_WINE_PACKAGES (default .cache/arm64-wine)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci}" && pwd)
reps=${BENCH_REPS:-11}
pack=$build/packer/zobrel-pack
programs=$build/win-arm64/tests/arm64
dir=$build/arm64-wine
[ -x "$pack" ] && [ -f "$programs/arm64_side_by_side.exe" ] ||
  { echo "bench: $pack or $programs is missing; run scripts/build.sh (with ZOBREL_ARM64 on)" >&2; exit 1; }

"$root/cmake/arm64-wine.sh" start "$dir" "${ZOBREL_ARM64_WINE_PACKAGES:-$root/.cache/arm64-wine}"
trap '"$root/cmake/arm64-wine.sh" stop "$dir" >/dev/null' EXIT
wine() { "$root/cmake/arm64-wine.sh" run "$dir" "$@"; }
work=$dir/root/work/warm-bench
win='Z:\work\warm-bench'
rm -rf "$work"
mkdir -p "$work/tiny" "$work/cmd"
cp "$programs/arm64_side_by_side.exe" "$work/"
cp "$programs/arm64_probe.exe" "$work/tiny/app.exe"
windows=$dir/root/usr/lib/aarch64-linux-gnu/wine/aarch64-windows
cp "$windows/cmd.exe" "$work/cmd/"
cp "$windows"/*.dll "$work/cmd/"

# Each build gets its own product name, so their default folders differ.
"$pack" build "$work/tiny" --main app.exe -o "$work/tiny.exe" --product arm64-warm-tiny --quiet
"$pack" build "$work/cmd" --main cmd.exe -o "$work/cmd.exe" --product arm64-warm-cmd --quiet
wine "$win\\tiny.exe" --silent >/dev/null  # the first, cold starts
wine "$win\\cmd.exe" /c exit 0 >/dev/null
echo "bench: ARM64 launcher, warm, under ARM64 Wine ($reps runs): packed / direct"
echo "bench: tiny: a program that exits at once, the default unpack folder"
wine "$win\\arm64_side_by_side.exe" "$reps" packed "$win\\tiny.exe --silent" direct "$win\\tiny\\app.exe --silent"
echo "bench: cmd: cmd.exe /c exit 0 with $(ls "$work/cmd" | wc -l) files, $(du -sm "$work/cmd" | cut -f1) MB"
wine "$win\\arm64_side_by_side.exe" "$reps" packed "$win\\cmd.exe /c exit 0" direct "$win\\cmd\\cmd.exe /c exit 0"

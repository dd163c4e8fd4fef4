#!/usr/bin/env bash
# Times zobrel-pack build on a ~130 MB folder of real Windows binaries against
# the zstd command line compressing the same bytes with the same parameters
# (level, threads, 2^27 window with long-distance matching, no checksum), in
# the same run, and prints the packer's time as a ratio of zstd's.
#
#   bench/pack_vs_zstd.sh            environment: BENCH_LEVEL (19), BENCH_THREADS (nproc),
#                                    BENCH_MB (130), ZOBREL_PACK, ZOBREL_RUNTIME
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pack=${ZOBREL_PACK:-$root/build/host/packer/zobrel-pack}
src=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
level=${BENCH_LEVEL:-19}
threads=${BENCH_THREADS:-$(nproc)}
want=$(( ${BENCH_MB:-130} * 1000 * 1000 ))

[ -x "$pack" ] || { echo "bench: $pack is missing; run scripts/build.sh" >&2; exit 1; }
[ -d "$src" ] || { echo "bench: $src is missing; install wine64 (scripts/setup.sh)" >&2; exit 1; }
command -v zstd >/dev/null || { echo "bench: the zstd command is missing (apt-get install zstd)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
app=$work/app
mkdir -p "$app/lib"

# The main program (a console program), then other binaries in name order up to the size wanted.
cp "$src/cmd.exe" "$app/"
total=$(stat -c %s "$app/cmd.exe")
for f in "$src"/*.dll "$src"/*.exe; do
  [ "$total" -lt "$want" ] || break
  [ "$(basename "$f")" = cmd.exe ] && continue
  cp "$f" "$app/lib/"
  total=$((total + $(stat -c %s "$f")))
done
files=$(find "$app" -type f | wc -l)
# The same bytes for zstd: the main program first, then the rest as the packer orders them.
{ cat "$app/cmd.exe"; find "$app/lib" -type f -print0 | LC_ALL=C sort -z | xargs -0 cat; } > "$work/all.bin"

now() { date +%s.%N; }
echo "bench: $files files, $total bytes; level $level, $threads threads"

t0=$(now)
zstd -q -f -"$level" --ultra -T"$threads" --long=27 --no-check "$work/all.bin" -o "$work/all.zst"
t1=$(now)
"$pack" build "$app" --main cmd.exe -o "$work/out.exe" --level "$level" --threads "$threads" --quiet
t2=$(now)

zstd_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
pack_s=$(awk -v a="$t1" -v b="$t2" 'BEGIN { print b - a }')
printf 'zstd CLI      %7.2f s  %11d bytes\n' "$zstd_s" "$(stat -c %s "$work/all.zst")"
printf 'zobrel-pack   %7.2f s  %11d bytes (whole executable)\n' "$pack_s" "$(stat -c %s "$work/out.exe")"
printf 'ratio zobrel-pack / zstd = %.3f (target <= 1.15)\n' "$(awk -v p="$pack_s" -v z="$zstd_s" 'BEGIN { print p / z }')"

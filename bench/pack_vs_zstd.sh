#!/usr/bin/env bash
# Times zobrel-pack build on a ~130 MB folder of real Windows binaries against
# the zstd command line compressing the same bytes with the same parameters
# (level, threads, 2^27 window with long-distance matching, no checksum), in
# the same run, and prints the packer's time as a ratio of zstd's: min,
# median and max over the runs, for each level.
#
#   bench/pack_vs_zstd.sh      environment: BENCH_LEVELS ("3 19"), BENCH_THREADS (nproc),
#                              BENCH_MB (130), BENCH_RUNS (5), ZOBREL_PACK
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pack=${ZOBREL_PACK:-$root/build/ci/packer/zobrel-pack}
src=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
threads=${BENCH_THREADS:-$(nproc)}
want=$(( ${BENCH_MB:-130} * 1000 * 1000 ))

[ -x "$pack" ] || { echo "bench: $pack is missing; run scripts/build.sh" >&2; exit 1; }
[ -d "$src" ] || { echo "bench: $src is missing; install wine64 (scripts/setup.sh)" >&2; exit 1; }
command -v zstd >/dev/null || { echo "bench: the zstd command is missing (apt-get install zstd)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
app=$work/app
mkdir -p "$app/lib"

# The main program (a console program), then the other binaries smallest
# first up to the size wanted: as many files as possible, so that per-file
# costs show.
cp "$src/cmd.exe" "$app/"
total=$(stat -c %s "$app/cmd.exe")
while read -r size name; do
  [ "$total" -lt "$want" ] || break
  [ "$name" = cmd.exe ] && continue
  cp "$src/$name" "$app/lib/"
  total=$((total + size))
done < <(find "$src" -maxdepth 1 -type f -printf '%s %f\n' | LC_ALL=C sort -k1,1n -k2,2)
files=$(find "$app" -type f | wc -l)
# The same bytes for zstd: the main program first, then the rest as the packer orders them.
{ cat "$app/cmd.exe"; find "$app/lib" -type f -print0 | LC_ALL=C sort -z | xargs -0 cat; } > "$work/all.bin"

now() { date +%s.%N; }
echo "bench: $files files, $total bytes; $threads threads; levels ${BENCH_LEVELS:-3 19}; ${BENCH_RUNS:-5} runs each"

# Each run times zstd and the packer back to back, in alternating order, and
# gives one ratio: the machine is shared, and a pair sees the same load.
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }
status=0
for level in ${BENCH_LEVELS:-3 19}; do
  ratios=()
  for run in $(seq "${BENCH_RUNS:-5}"); do
    time_zstd() {
      local t0 t1
      t0=$(now)
      zstd -q -f -"$level" --ultra -T"$threads" --long=27 --no-check "$work/all.bin" -o "$work/all.zst"
      t1=$(now)
      zstd_s=$(elapsed "$t0" "$t1")
    }
    time_pack() {
      local t0 t1
      t0=$(now)
      "$pack" build "$app" --main cmd.exe -o "$work/out.exe" --level "$level" --threads "$threads" --quiet
      t1=$(now)
      pack_s=$(elapsed "$t0" "$t1")
    }
    if [ $((run % 2)) = 1 ]; then time_zstd; time_pack; else time_pack; time_zstd; fi
    ratio=$(awk -v p="$pack_s" -v z="$zstd_s" 'BEGIN { printf "%.3f", p / z }')
    printf 'level %2d run %d: zstd %6.2f s (%d bytes), zobrel-pack %6.2f s (%d bytes, whole executable), ratio %s\n' \
      "$level" "$run" "$zstd_s" "$(stat -c %s "$work/all.zst")" "$pack_s" "$(stat -c %s "$work/out.exe")" "$ratio"
    ratios+=("$ratio")
  done
  printf '%s\n' "${ratios[@]}" | sort -n | awk -v level="$level" -v target=1.15 '
    { r[NR] = $1 }
    END { m = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
          printf "level %d: zobrel-pack / zstd  min %.3f  median %.3f  max %.3f\n", level, r[1], m, r[NR]
          printf "TARGET level %d, zobrel-pack / zstd: median %.3f <= %.3f: %s\n", level, m, target,
                 (m <= target ? "met" : "MISSED")
          exit (m <= target ? 0 : 1) }' || status=1
done
exit $status

#!/usr/bin/env bash
# Times the payload reader against a bare zstd decode of the same frame, both
# in one Windows process under Wine, and prints the ratio reader / bare.
#
# The frame is realistic: an archive of several hundred real Windows binaries
# (~130 MB) compressed like a packed launcher's (level 19, window 2^27, no
# checksum, no content size) with the host's zstd, wrapped as a payload blob.
# The blob is kept in the build tree and rebuilt only when missing.
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
command -v zstd >/dev/null || { echo "bench: the zstd command is missing (apt-get install zstd)" >&2; exit 1; }
cmake --build "$build" -j2 --target reader_bench >/dev/null
bench_exe=$build/bench/reader_bench.exe

work=$build/reader-bench
mkdir -p "$work"
blob=$work/payload-${want}-l${level}.blob

if [ ! -f "$blob" ]; then
  # Binaries in name order, up to 1 MB each so there are several hundred,
  # under folders by extension and first letter, until the size wanted.
  echo "bench: building the archive from $src"
  python3 - "$src" "$want" "$work/archive.bin" <<'EOF'
import os, struct, sys, zlib
src, want, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
total = count = 0
with open(out, "wb") as archive:
    for name in sorted(os.listdir(src)):
        if total >= want:
            break
        path = os.path.join(src, name)
        size = os.path.getsize(path)
        if size > 1000000:
            continue
        ext = name.rsplit(".", 1)[-1]
        record = "lib\\%s\\%s\\%s" % (ext, name[0], name)
        with open(path, "rb") as f:
            content = f.read()
        crc = zlib.crc32(content) or 1
        archive.write(record.encode("utf-16-le") + b"\0\0")
        archive.write(struct.pack("<QI", len(content), crc))
        archive.write(content)
        total += size
        count += 1
    archive.write(b"\0\0")
print("bench: %d files, %d content bytes, %d archive bytes" % (count, total, os.path.getsize(out)))
EOF
  echo "bench: compressing (level $level, window 2^27)"
  zstd -q -T1 -"$level" --zstd=wlog=27 --no-check --no-content-size -c < "$work/archive.bin" > "$work/frame.zst"
  python3 - "$work/frame.zst" "$blob.tmp" <<'EOF'
import struct, sys
frame = open(sys.argv[1], "rb").read()
# One frame, no content size and no checksum, window 2^27.
assert frame[:4] == b"\x28\xb5\x2f\xfd" and frame[4] == 0x00 and frame[5] == 0x88, frame[:6].hex()
blob = b"QJY" + frame
blob += b"\0" * (-len(blob) % 16)
blob += struct.pack("<Q", len(blob))
open(sys.argv[2], "wb").write(blob)
EOF
  mv "$blob.tmp" "$blob"
  rm -f "$work/archive.bin" "$work/frame.zst"
fi
echo "bench: payload blob $(stat -c %s "$blob") bytes"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
export ZOBREL_WINEPREFIX=$build/wineprefix
# Quiet and detached: Wine's services outlive this call and must not hold our output.
"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX" </dev/null >/dev/null 2>&1
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
"$root/cmake/wine-run.sh" "$bench_exe" "$(winpath "$blob")" "$reps"

#!/usr/bin/env bash
# Installs what is missing, then builds everything: the launcher (Windows),
# the Linux zobrel-pack that carries it (host), then zobrel-pack.exe, the
# Windows tests, benchmarks and example (Windows, cross-compiled).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
jobs=${ZOBREL_JOBS:-$(nproc)}
host=$root/build/host win=$root/build/win
cmake -S "$root" -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DZOBREL_DEPS="${ZOBREL_DEPS:-/opt/zobrel-deps}" \
  -DZOBREL_PACK="$host/packer/zobrel-pack" >/dev/null
cmake --build "$win" -j "$jobs" --target zobrel-launcher
cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZOBREL_DEPS="${ZOBREL_DEPS:-/opt/zobrel-deps}" \
  -DZOBREL_LAUNCHER_EXE="$win/launcher/zobrel-launcher.exe" >/dev/null
cmake --build "$host" -j "$jobs"
cmake --build "$win" -j "$jobs"

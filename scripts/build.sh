#!/usr/bin/env bash
# Installs what is missing, then builds the packer (host) and the launcher
# runtime, tests and benchmarks (Windows, cross-compiled).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
jobs=${ZOBREL_JOBS:-$(nproc)}
cmake -S "$root" -B "$root/build/host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZOBREL_RUNTIME_DIR="$root/build/win/runtime" >/dev/null
cmake --build "$root/build/host" -j "$jobs"
cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DZOBREL_DEPS="${ZOBREL_DEPS:-/opt/zobrel-deps}" \
  -DZOBREL_PACK="$root/build/host/packer/zobrel-pack" \
  -DZOBREL_RUNTIME_DIR="$root/build/win/runtime" >/dev/null
cmake --build "$root/build/win" -j "$jobs"

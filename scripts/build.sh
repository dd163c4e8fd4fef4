#!/usr/bin/env bash
# Installs what is missing (scripts/setup.sh), then builds everything with
# the CI preset in build/ci: the dependencies from their sources, the
# Windows launcher, the Linux zobrel-packs (x86-64, and aarch64) that carry
# it, then zobrel-pack.exe, the Windows tests, benchmarks and example; and
# last the release in build/ci/release (the archives, the Debian packages,
# the wheels, the npm package and SHA256SUMS).
# ZOBREL_JOBS sets how many jobs each build runs at once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
export CMAKE_BUILD_PARALLEL_LEVEL=${ZOBREL_JOBS:-$(nproc)}
cd "$root"
cmake --preset ci -DZOBREL_DEPS_JOBS="$CMAKE_BUILD_PARALLEL_LEVEL" >/dev/null
cmake --build --preset ci
cmake --build --preset ci --target release

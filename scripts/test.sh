#!/usr/bin/env bash
# Builds everything (installing what is missing), then runs the whole test
# suite from the top build: the packers' host tests, the check of the aarch64
# packer under qemu-user, the Windows tests under Wine and the ARM64 ones
# under ARM64 Wine (as root: cmake/arm64-wine.sh). Any failure fails
# the run the first time; the only retry is Wine's own client fault, which
# cmake/wine-run.sh recognises by its message and reports here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
retries=$root/build/ci/win/wine-retries.log
rm -f "$retries"
status=0
(cd "$root" && ctest --preset ci) || status=1
if [ -s "$retries" ]; then
  echo "test: Wine failed on its own $(wc -l <"$retries") time(s); each of these ran once more:"
  cat "$retries"
fi
exit $status

#!/usr/bin/env bash
# Builds everything (installing what is missing), then runs the whole test
# suite: the packer's host tests and the Windows tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
status=0
ctest --test-dir "$root/build/host" --output-on-failure || status=1
# Wine now and then fails a process at start or exit on its own ("wine
# client error: ... Bad file descriptor", seen about once in a hundred
# starts): a failing Windows test executable gets one more run, and ctest
# shows both attempts.
ctest --test-dir "$root/build/win" --output-on-failure --repeat until-pass:2 || status=1
exit $status

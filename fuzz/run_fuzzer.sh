#!/usr/bin/env bash
# Runs one fuzzer for a bounded time, starting from its seed corpus and its
# saved findings, and fails on any finding: a crash, a sanitizer report, a
# broken invariant, a leak, an input slower than 10 s or one that takes more
# than 2 GB. What it learns stays in WORK_DIR/corpus for the next run; an
# input that failed is saved in WORK_DIR/findings.
#
# usage: run_fuzzer.sh FUZZER SECONDS WORK_DIR [INPUT_DIR...]
set -euo pipefail
fuzzer=$1 seconds=$2 work=$3
shift 3
inputs=()
for dir in "$@"; do
  [ -d "$dir" ] && inputs+=("$dir")
done
name=$(basename "$fuzzer" _fuzzer)
mkdir -p "$work/corpus" "$work/findings"
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
  -print_final_stats=1 -artifact_prefix="$work/findings/" "$work/corpus" "${inputs[@]}" || status=$?
if [ "$status" != 0 ]; then
  echo "run_fuzzer: $name found a fault (status $status); the input is in $work/findings." >&2
  echo "run_fuzzer: fix it at its root, then add the input to fuzz/regressions/$name/." >&2
fi
exit $status

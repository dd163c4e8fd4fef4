#!/usr/bin/env bash
# Runs one fuzzer for a bounded time, starting from its seed corpus and its
# saved findings, and fails on any finding: a crash, a sanitizer report, a
# broken invariant, a leak, an input slower than 10 s or one that takes more
# than 2 GB. What it learns stays in WORK_DIR/corpus for the next run; an
# input that failed is saved in WORK_DIR/findings.
#
# usage: run_fuzzer.sh FUZZER SECONDS WORK_DIR [INPUT_DIR...] [-LIBFUZZER_FLAG...]
# (input folders that do not exist are left out: a target without saved
# findings has no folder of them)
set -euo pipefail
fuzzer=$(realpath "$1") seconds=$2 work=$3
shift 3
mkdir -p "$work/corpus" "$work/findings"
work=$(realpath "$work")
inputs=() flags=()
for arg in "$@"; do
  case $arg in
    -*) flags+=("$arg") ;;
    *) [ -d "$arg" ] && inputs+=("$(realpath "$arg")") ;;
  esac
done
name=$(basename "$fuzzer" _fuzzer)
# With -jobs, libFuzzer writes a log per job in the current folder.
cd "$work"
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
  -print_final_stats=1 -artifact_prefix="$work/findings/" "${flags[@]}" "$work/corpus" "${inputs[@]}" || status=$?
if [ "$status" != 0 ]; then
  echo "run_fuzzer: $name found a fault (status $status); the input is in $work/findings." >&2
  echo "run_fuzzer: fix it at its root, then add the input to fuzz/regressions/$name/." >&2
fi
exit $status

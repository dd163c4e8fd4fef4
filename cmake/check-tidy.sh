#!/usr/bin/env bash
# Fails when clang-tidy-14, with the checks .clang-tidy lists, finds anything
# in the project's own product code: the packer and the shared formats as the
# host build compiles them (BUILD/compile_commands.json), the launcher's
# stages as the mingw-w64 build compiles them (WIN_BUILD). Tests, benchmarks
# and fuzz targets are not checked. Usage: check-tidy.sh BUILD WIN_BUILD
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tidy=${CLANG_TIDY:-clang-tidy-14}
command -v "$tidy" >/dev/null || { echo "check-tidy: $tidy is missing (scripts/setup.sh installs it)" >&2; exit 1; }
[ $# -eq 2 ] || { echo "usage: check-tidy.sh BUILD WIN_BUILD" >&2; exit 2; }
host=$1 win=$2
for db in "$host" "$win"; do
  [ -f "$db/compile_commands.json" ] || { echo "check-tidy: $db/compile_commands.json is missing (build first)" >&2; exit 1; }
done
# The sources each build compiles, once, from the folders that are product code.
sources() { # DB DIR...
  local db=$1; shift
  python3 - "$db/compile_commands.json" "$root" "$@" <<'PY'
import json, sys
db, root, tops = sys.argv[1], sys.argv[2].rstrip('/') + '/', set(sys.argv[3:])
seen = set()
for entry in json.load(open(db)):
    f = entry['file']
    rel = f[len(root):] if f.startswith(root) else ''
    if rel.split('/')[0] in tops and '/tests/' not in rel and f not in seen:
        seen.add(f)
        print(f)
PY
}
mapfile -t host_files < <(sources "$host" format packer)
mapfile -t win_files < <(sources "$win" common payload pathspec child tidy launcher)
jobs=$(nproc)
# Flags only gcc knows (the builds' warning options) are not clang-tidy's concern.
quiet=(--quiet --extra-arg=-Wno-unknown-warning-option)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\n' "${host_files[@]}" | xargs -P "$jobs" -n 4 "$tidy" -p "$host" "${quiet[@]}" >>"$log" 2>/dev/null || status=1
# clang finds mingw-w64's headers by the target alone.
printf '%s\n' "${win_files[@]}" |
  xargs -P "$jobs" -n 4 "$tidy" -p "$win" "${quiet[@]}" --extra-arg=--target=x86_64-w64-mingw32 >>"$log" 2>/dev/null || status=1
if [ $status -ne 0 ]; then
  echo "check-tidy: $tidy found problems:" >&2
  grep -E '(warning|error):' "$log" | sort -u >&2 || cat "$log" >&2
  exit 1
fi
echo "check-tidy: $((${#host_files[@]} + ${#win_files[@]})) sources pass .clang-tidy's checks"

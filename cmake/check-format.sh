#!/usr/bin/env bash
# Fails, naming each file, when a C or C++ source of the project differs from
# what the project's .clang-format makes of it. Pinned to Debian 12's
# clang-format-14: another version lays some lines out otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
format=${CLANG_FORMAT:-clang-format-14}
command -v "$format" >/dev/null || { echo "check-format: $format is missing (scripts/setup.sh installs it)" >&2; exit 1; }
cd "$root"
# The tracked sources in a clone; every source under the tree otherwise.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build -prune -o -path ./.cache -prune -o \
                       \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -type f -print | sort)
fi
# One run over all of them; each file that differs is named in its complaints.
status=0
complaints=$("$format" --dry-run --Werror "${files[@]}" 2>&1 >/dev/null) || status=$?
mapfile -t differ < <(sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*clang-format.*/\1/p' <<<"$complaints" | sort -u)
if [ $status -ne 0 ] && [ ${#differ[@]} -eq 0 ]; then
  echo "check-format: $format failed:" >&2
  echo "$complaints" >&2
  exit 1
fi
if [ ${#differ[@]} -gt 0 ]; then
  echo "check-format: ${#differ[@]} file(s) differ from .clang-format (fix with: $format -i FILE):" >&2
  printf '  %s\n' "${differ[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files as .clang-format lays them out"

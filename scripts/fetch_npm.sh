#!/usr/bin/env bash
# Fetches packages from the npm registry into a cache folder, each once, for
# the tests and benchmarks that run real programs; nothing fetched is ever
# committed. NAME@VERSION is unpacked into CACHE/<name>-VERSION (a scope's
# '@' dropped and its '/' made '-'), which is reused when present; a package
# whose unpacking was cut short is fetched again.
#
#   scripts/fetch_npm.sh CACHE NAME@VERSION...
#
# Exit status 0 when every package is in place; otherwise 1, with the reason
# on standard error (no npm, the registry out of reach, no such version).
set -uo pipefail
cache=$1
shift
mkdir -p "$cache" || exit 1
command -v npm >/dev/null || { echo "fetch_npm: npm is not installed" >&2; exit 1; }
# npm's own cache and logs in the cache folder too: a test run leaves the
# user's ~/.npm as it was.
export npm_config_cache=$cache/.npm
for spec in "$@"; do
  name=${spec%@*} version=${spec##*@}
  folder=$cache/$(printf '%s' "${name#@}" | tr / -)-$version
  [ -f "$folder/.complete" ] && continue
  rm -rf "$folder" "$folder.partial"
  echo "fetch_npm: fetching $spec from the npm registry into $cache" >&2
  if ! tarball=$(cd "$cache" && npm pack --loglevel=error "$spec" 2>"$cache/npm-error.log" | tail -1) ||
     [ ! -f "$cache/$tarball" ]; then
    echo "fetch_npm: npm pack $spec failed: $(tail -3 "$cache/npm-error.log" | tr '\n' ' ')" >&2
    exit 1
  fi
  mkdir -p "$folder.partial" &&
    tar -xzf "$cache/$tarball" -C "$folder.partial" --strip-components=1 &&
    rm -f "$cache/$tarball" "$cache/npm-error.log" && touch "$folder.partial/.complete" && mv "$folder.partial" "$folder" ||
    { echo "fetch_npm: cannot unpack $cache/$tarball" >&2; exit 1; }
done

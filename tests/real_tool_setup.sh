#!/usr/bin/env bash
# Sets up the real interpreter-based tool for command_real_tool_test:
# TypeScript's compiler run by Node.js for Windows, laid out by
# tests/make_tsc_app.sh (fetched once into BUILD_DIR/npm-cache, never
# committed) and packed with a fixed argument that names tsc's script in the
# unpack directory.
#
#   tests/real_tool_setup.sh BUILD_DIR ZOBREL_PACK
#
# Writes BUILD_DIR/real-tool/{app/, tsc.exe}. When the packages cannot be
# had (no npm, the registry out of reach), writes the reason to
# BUILD_DIR/real-tool/unavailable.txt instead and succeeds, so that the test
# skips with that reason rather than pass without having run.
set -uo pipefail
build=$1 pack=$2
out=$build/real-tool
rm -rf "$out"
mkdir -p "$out"
if ! reason=$(bash "$(dirname "$0")/make_tsc_app.sh" "$build/npm-cache" "$out/app" 2>&1); then
  printf 'Node.js for Windows and TypeScript could not be had from the npm registry: %s\n' \
    "$(printf '%s' "$reason" | tail -2 | tr '\n' ' ')" >"$out/unavailable.txt"
  cat "$out/unavailable.txt"
  exit 0
fi
"$pack" build "$out/app" --main node.exe -o "$out/tsc.exe" --product tsc --file-version 5.4.5.0 \
  --target-spec '{TEMP}\zobrel-real-tool' --level 3 --quiet \
  --arg '{UNPACK_DIR}\node_modules\typescript\bin\tsc'

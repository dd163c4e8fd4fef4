#!/usr/bin/env bash
# The release as the `release` target makes it: one archive per platform and
# a SHA256SUMS that `sha256sum -c` accepts; the aarch64 archive's zobrel-pack
# is an aarch64 program that runs (under qemu-user). The archives' contents
# are checked by install_test and windows_package_test.
#   release_test.sh RELEASE_SCRIPT HOST_BUILD WINDOWS_BUILD [AARCH64_BUILD QEMU_AARCH64]
set -euo pipefail
script=$1 host=$2 windows=$3 aarch64=${4:-} qemu=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL $*"; exit 1; }

args=(-DOUTPUT="$work/release" -DHOST="$host" -DWINDOWS="$windows")
[ -z "$aarch64" ] || args+=(-DAARCH64="$aarch64")
cmake "${args[@]}" -P "$script" >/dev/null
cd "$work/release"
expected="linux-x86_64.tar.gz windows-x86_64.zip"
[ -z "$aarch64" ] || expected+=" linux-aarch64.tar.gz"
for platform in $expected; do
  ls zobrel-onefile-*-"$platform" >/dev/null 2>&1 || fail "no $platform archive: $(ls)"
done
[ "$(wc -l <SHA256SUMS)" = "$(wc -w <<<"$expected")" ] || fail "SHA256SUMS does not list each archive once"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match the archives"
if [ -n "$aarch64" ]; then
  tar -xzf zobrel-onefile-*-linux-aarch64.tar.gz
  version=$("$qemu" zobrel-onefile-*-linux-aarch64/bin/zobrel-pack --version)
  [[ $version == "zobrel-pack "[0-9]* ]] || fail "the aarch64 zobrel-pack printed '$version'"
fi
echo "ok   $(ls zobrel-onefile-* -d | tr '\n' ' ')and SHA256SUMS"

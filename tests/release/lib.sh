# Sourced by the tests of the release (release_test.sh, npm_package_test.sh,
# wheel_test.sh, deb_test.sh). The build sets, for each of them:
#   ZOBREL_RELEASE        the release folder the build made
#   ZOBREL_VERSION        the project's version
#   ZOBREL_BUILD_PACK     the build's own zobrel-pack, whose output every installed one must match
#   ZOBREL_SAMPLE_APP     the application they pack (the example)
#   ZOBREL_QEMU_AARCH64   qemu-user's aarch64 emulator; empty when the build makes no aarch64 packer
#   ZOBREL_WINE_RUN       cmake/wine-run.sh, with ZOBREL_WINEPREFIX its prefix
#   ZOBREL_PYTHON         Python 3
# Each works in a scratch folder of its own, removed at its end, with HOME
# there too, so that no tool it runs writes into the user's own folders.
set -euo pipefail
release=$ZOBREL_RELEASE version=$ZOBREL_VERSION
qemu=${ZOBREL_QEMU_AARCH64:-} wine_run=$ZOBREL_WINE_RUN
# The interpreter itself, not a shim that finds it through HOME.
python=$("$ZOBREL_PYTHON" -c 'import sys; print(sys.executable)')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"
fail() { echo "FAIL $*"; exit 1; }

[ -f "$release/SHA256SUMS" ] ||
  fail "no release in $release: make it with cmake --build $(dirname "$release") --target release"
tar -xzOf "$release/zobrel-onefile-$version-linux-x86_64.tar.gz" --wildcards '*/bin/zobrel-pack' |
  cmp -s - "$ZOBREL_BUILD_PACK" ||
  fail "$release is older than the build: make it again with cmake --build $(dirname "$release") --target release"

# release_file PATTERN: the one file of the release the pattern names.
release_file() {
  local found=("$release"/$1)
  [ ${#found[@]} = 1 ] && [ -f "${found[0]}" ] || fail "the release has no single file $1: $(ls "$release")"
  echo "${found[0]}"
}

# The sample and what the build's own zobrel-pack makes of it, with option
# values that must arrive whole through any wrapper: spaces, quotes, a
# backslash at the end, an empty value, non-ASCII text.
sample=$work/sample
cp -r "$ZOBREL_SAMPLE_APP" "$sample"
sample_options=(--main vexor.exe --company "" --product 'Vexor "two" ü' --version-key 'a b\' --level 3 --quiet)
"$ZOBREL_BUILD_PACK" build "$sample" "${sample_options[@]}" -o "$work/reference.exe"
# The version, then the launchers it carries (x64, and ARM64 unless the
# build went without): every installed packer must say the same.
expected_version=$("$ZOBREL_BUILD_PACK" --version)
[ "$(head -n1 <<<"$expected_version")" = "zobrel-pack $version" ] ||
  fail "the build's zobrel-pack printed '$expected_version' for --version"

# check_packer LABEL COMMAND...: the installed zobrel-pack the command runs
# (itself, or through qemu-user or Wine) prints this version and packs the
# sample into the very bytes the build's own zobrel-pack wrote; it carries
# the launchers the build's carries. The paths
# are relative: the Windows packer takes a word that begins with / for an
# option, as Windows programs do.
check_packer() {
  local label=$1 printed
  shift
  printed=$("$@" --version | tr -d '\r') || fail "$label: --version failed"
  [ "$printed" = "$expected_version" ] || fail "$label: --version printed '$printed'"
  rm -f "$work/packed.exe"
  (cd "$work" && "$@" build sample "${sample_options[@]}" -o packed.exe) || fail "$label: build failed"
  cmp -s "$work/reference.exe" "$work/packed.exe" || fail "$label: packed other bytes than the build's zobrel-pack"
}

# file_type FILE: what the program is: linux-x86_64, linux-aarch64, windows-x86_64.
file_type() {
  local header
  header=$(od -An -tx1 -N4 "$1" | tr -d ' ')
  case $header in
    7f454c46) case $(readelf -h "$1" | grep Machine:) in
        *X86-64*) echo linux-x86_64 ;;
        *AArch64*) echo linux-aarch64 ;;
        *) echo linux-other ;;
      esac ;;
    4d5a*) if x86_64-w64-mingw32-objdump -f "$1" 2>/dev/null | grep -q 'pei-x86-64'; then
        echo windows-x86_64
      else
        echo windows-other
      fi ;;
    *) echo unknown ;;
  esac
}

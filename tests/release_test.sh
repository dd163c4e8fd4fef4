#!/usr/bin/env bash
# The release folder as the build left it: exactly the expected files, every
# one named once in SHA256SUMS, which `sha256sum -c` accepts; each archive
# holds zobrel-pack and the CMake package, and its zobrel-pack, unpacked,
# runs (the aarch64 one under qemu-user, the Windows one under Wine) and
# packs the very bytes the build's own writes. The Linux x86-64 archive is
# also used by a project of someone else's through find_package.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/release/lib.sh"

expected=(
  "zobrel-onefile-$version-linux-x86_64.tar.gz"
  "zobrel-onefile-$version-windows-x86_64.zip"
  "zobrel-pack_${version}_amd64.deb"
  "zobrel_pack-$version-py3-none-manylinux_2_17_x86_64.manylinux2014_x86_64.musllinux_1_1_x86_64.whl"
  "zobrel_pack-$version-py3-none-win_amd64.whl"
)
if [ -n "$qemu" ]; then
  expected+=(
    "zobrel-onefile-$version-linux-aarch64.tar.gz"
    "zobrel-pack_${version}_arm64.deb"
    "zobrel_pack-$version-py3-none-manylinux_2_17_aarch64.manylinux2014_aarch64.musllinux_1_1_aarch64.whl"
    "zobrel-pack-$version.tgz"
  )
fi
listed=$(cd "$release" && ls -A | grep -vx SHA256SUMS | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$listed" = "$wanted" ] || fail "the release holds other files than expected:$(diff <(echo "$wanted") <(echo "$listed"))"
[ "$(cut -d' ' -f3 "$release/SHA256SUMS" | sort)" = "$wanted" ] || fail "SHA256SUMS does not name each file once"
(cd "$release" && sha256sum --quiet --strict -c SHA256SUMS) || fail "SHA256SUMS does not match the files"

# check_archive PLATFORM RUNNER...: the archive's files, unpacked, and its zobrel-pack.
check_archive() {
  local platform=$1 archive prefix exe=""
  shift
  archive=$(release_file "zobrel-onefile-$version-$platform.*")
  [[ $platform == windows-* ]] && exe=.exe
  mkdir "$work/$platform"
  (cd "$work/$platform" && cmake -E tar xf "$archive")
  prefix=$work/$platform/zobrel-onefile-$version-$platform
  for f in bin/zobrel-pack$exe lib/cmake/ZobrelOnefile/ZobrelOnefileConfig.cmake \
           lib/cmake/ZobrelOnefile/ZobrelOnefileConfigVersion.cmake lib/cmake/ZobrelOnefile/ZobrelOnefile.cmake; do
    [ -f "$prefix/$f" ] || fail "$(basename "$archive") has no $f"
  done
  [ "$(ls "$prefix/bin")" = "zobrel-pack$exe" ] || fail "$(basename "$archive")'s bin/ holds more than zobrel-pack$exe"
  [ "$(file_type "$prefix/bin/zobrel-pack$exe")" = "$platform" ] ||
    fail "$(basename "$archive")'s zobrel-pack is a $(file_type "$prefix/bin/zobrel-pack$exe") program"
  check_packer "$(basename "$archive")" "$@" "$prefix/bin/zobrel-pack$exe"
}
check_archive linux-x86_64
"$here/install/use_installed.sh" "$work/linux-x86_64/zobrel-onefile-$version-linux-x86_64" "$work/find_package" ||
  fail "the Linux x86-64 archive's CMake package"
check_archive windows-x86_64 "$wine_run"
[ -z "$qemu" ] || check_archive linux-aarch64 "$qemu"
echo "ok   $release: ${#expected[@]} files and SHA256SUMS; each archive's zobrel-pack runs and packs alike"

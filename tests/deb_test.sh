#!/usr/bin/env bash
# The Debian packages of the release, installed with dpkg into a root and a
# package database of this test's own (dpkg --root): the machine's own
# packages, architectures and log stay as they are. Each holds zobrel-pack
# in /usr/bin and the CMake package in /usr/lib/cmake/ZobrelOnefile, depends
# on nothing (the program is static), runs (the arm64 one under qemu-user,
# installed after its architecture was added to the scratch database only)
# and packs the very bytes the build's own zobrel-pack writes; a project of
# someone else's finds the amd64 one with find_package; removing a package
# leaves nothing of it.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/release/lib.sh"

# dpkg_in ROOT ARGS...: dpkg on the scratch root; its log stays there too.
dpkg_in() {
  local root=$1
  shift
  dpkg --root="$root" --log="$root/dpkg.log" --force-not-root "$@"
}

# check_deb ARCH TYPE RUNNER...
check_deb() {
  local arch=$1 type=$2 deb name root
  shift 2
  deb=$(release_file "zobrel-pack_${version}_$arch.deb")
  name=$(basename "$deb")
  for field in "Package zobrel-pack" "Version $version" "Architecture $arch" "Depends " "Pre-Depends "; do
    [ "$(dpkg-deb -f "$deb" "${field%% *}")" = "${field#* }" ] ||
      fail "$name: ${field%% *} is '$(dpkg-deb -f "$deb" "${field%% *}")', not '${field#* }'"
  done
  dpkg-deb -c "$deb" >"$work/contents"
  for f in ./usr/bin/zobrel-pack ./usr/lib/cmake/ZobrelOnefile/ZobrelOnefileConfig.cmake \
           ./usr/lib/cmake/ZobrelOnefile/ZobrelOnefileConfigVersion.cmake \
           ./usr/lib/cmake/ZobrelOnefile/ZobrelOnefile.cmake; do
    grep -q " $f\$" "$work/contents" || fail "$name has no $f"
  done
  root=$work/root-$arch
  mkdir -p "$root"
  [ "$arch" = "$(dpkg --print-architecture)" ] || dpkg_in "$root" --add-architecture "$arch"
  dpkg_in "$root" -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i $name"; }
  [ "$(dpkg_in "$root" -s zobrel-pack | grep '^Status:')" = "Status: install ok installed" ] ||
    fail "$name is not installed in the scratch root"
  [ -x "$root/usr/bin/zobrel-pack" ] || fail "$name installed no /usr/bin/zobrel-pack"
  [ "$(file_type "$root/usr/bin/zobrel-pack")" = "$type" ] ||
    fail "$name's zobrel-pack is a $(file_type "$root/usr/bin/zobrel-pack") program"
  check_packer "$name" "$@" "$root/usr/bin/zobrel-pack"
}

check_deb amd64 linux-x86_64
"$here/install/use_installed.sh" "$work/root-amd64/usr" "$work/find_package" || fail "the amd64 package's CMake package"
dpkg_in "$work/root-amd64" -r zobrel-pack >/dev/null 2>&1 || fail "dpkg -r zobrel-pack"
left=$(cd "$work/root-amd64" && find usr -type f 2>/dev/null || true)
[ -z "$left" ] || fail "removing the package left $left"
[ -z "$qemu" ] || check_deb arm64 linux-aarch64 "$qemu"
echo "ok   the Debian packages install into a scratch root, run, pack alike and are found by find_package"

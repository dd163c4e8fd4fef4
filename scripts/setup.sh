#!/usr/bin/env bash
# Installs what building and testing need, only what is missing, so a second
# run costs a few seconds: Debian packages (mingw-w64, Wine, zlib for both
# sides, host zstd, GoogleTest source, Unicode's character database) and a
# static Windows build of zstd made from Debian's own zstd source package.
set -euo pipefail

DEPS=${ZOBREL_DEPS:-/opt/zobrel-deps}
ZSTD_WIN=$DEPS/zstd-mingw
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 libz-mingw-w64-dev libzstd-dev zlib1g-dev zstd googletest
  libcli11-dev cmake make ninja-build dpkg-dev tmux xxd osslsigncode openssl unicode-data
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# Work folders of source builds, removed however the script ends.
scratch=()
trap 'rm -rf "${scratch[@]}"' EXIT

apt_updated=0
apt_update() {
  [ $apt_updated = 1 ] && return
  $SUDO apt-get update -qq
  apt_updated=1
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Fetches and unpacks Debian's source package $1 into $2 (adding a deb-src
# entry if the machine has none).
fetch_source() {
  local package=$1 dest=$2
  local src_list=/etc/apt/sources.list.d/zobrel-deb-src.sources
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    local suite
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$suite" | $SUDO tee "$src_list" >/dev/null
    apt_updated=0
  fi
  apt_update
  mkdir -p "$dest"
  # apt has checked the downloaded files against the signed archive index;
  # its remarks on sandboxing and the unsigned .dsc are noise here.
  (cd "$dest" && apt-get source -qq --download-only -o APT::Sandbox::User=root "$package" >/dev/null 2>&1 &&
    dpkg-source -x --skip-patches ./*.dsc src >/dev/null 2>&1) ||
    { echo "setup: could not fetch and unpack Debian's $package source" >&2; exit 1; }
}

# zstd, built from Debian's source by zstd's own Makefile with its own flags:
# for the launcher a Windows decoder alone, without the legacy formats; for
# the two packers (and the tests) the whole library, multi-threaded, for
# Windows and for this host. Both packers thus compress with the same code
# (Debian's own static libzstd is single-threaded). A recipe stamp makes a
# changed recipe rebuild.
ZSTD_DECODER_WIN=$DEPS/zstd-decoder-mingw
ZSTD_HOST=$DEPS/zstd-host
zstd_windows="CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar"
zstd_recipes=(
  "$ZSTD_WIN|$zstd_windows libzstd.a-mt-release"
  "$ZSTD_DECODER_WIN|$zstd_windows libzstd.a-nomt-release ZSTD_LIB_COMPRESSION=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 ZSTD_LEGACY_SUPPORT=0"
  "$ZSTD_HOST|libzstd.a-mt-release"
)
zstd_stale=0
for recipe in "${zstd_recipes[@]}"; do
  [ "$(cat "${recipe%%|*}/recipe" 2>/dev/null)" = "${recipe#*|}" ] || zstd_stale=1
done
if [ $zstd_stale = 1 ]; then
  work=$(mktemp -d)
  scratch+=("$work")
  fetch_source libzstd "$work"
  echo "setup: building the zstd libraries from $(basename "$work"/*.dsc)"
  for recipe in "${zstd_recipes[@]}"; do
    dest=${recipe%%|*} args=${recipe#*|}
    rm -f "$work/src/lib/libzstd.a"
    # shellcheck disable=SC2086  # the recipe is a list of make arguments
    make -C "$work/src/lib" -j2 $args >/dev/null
    $SUDO rm -rf "$dest"
    $SUDO mkdir -p "$dest/lib" "$dest/include"
    $SUDO cp "$work/src/lib/zstd.h" "$work/src/lib/zstd_errors.h" "$work/src/lib/zdict.h" "$dest/include/"
    $SUDO cp "$work/src/lib/libzstd.a" "$dest/lib/libzstd.a"
    echo "$args" | $SUDO tee "$dest/recipe" >/dev/null
  done
fi

# libdeflate, for its carry-less-multiply CRC-32 (the CRC-32 zlib computes, at
# memory speed): built from Debian's source by its own Makefile with its own
# flags, as a static library for Windows and for this host.
LIBDEFLATE_WIN=$DEPS/libdeflate-mingw
LIBDEFLATE_HOST=$DEPS/libdeflate-host
libdeflate_recipes=(
  "$LIBDEFLATE_WIN|libdeflatestatic.lib|CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar"
  "$LIBDEFLATE_HOST|libdeflate.a|"
)
libdeflate_stale=0
for recipe in "${libdeflate_recipes[@]}"; do
  [ "$(cat "${recipe%%|*}/recipe" 2>/dev/null)" = "${recipe#*|}" ] || libdeflate_stale=1
done
if [ $libdeflate_stale = 1 ]; then
  work=$(mktemp -d)
  scratch+=("$work")
  fetch_source libdeflate "$work"
  echo "setup: building the libdeflate libraries from $(basename "$work"/*.dsc)"
  for recipe in "${libdeflate_recipes[@]}"; do
    dest=${recipe%%|*} rest=${recipe#*|}
    target=${rest%%|*} args=${rest#*|}
    make -C "$work/src" clean >/dev/null
    # shellcheck disable=SC2086  # the recipe is a list of make arguments
    make -C "$work/src" -j2 "$target" $args >/dev/null
    $SUDO rm -rf "$dest"
    $SUDO mkdir -p "$dest/lib" "$dest/include"
    $SUDO cp "$work/src/libdeflate.h" "$dest/include/"
    $SUDO cp "$work/src/$target" "$dest/lib/libdeflate.a"
    echo "$rest" | $SUDO tee "$dest/recipe" >/dev/null
  done
fi

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after installation" >&2; exit 1; }
done
[ -x /usr/lib/wine/wine64 ] || { echo "setup: Wine's loader /usr/lib/wine/wine64 is missing" >&2; exit 1; }
[ -f /usr/src/googletest/CMakeLists.txt ] || { echo "setup: GoogleTest source is missing" >&2; exit 1; }

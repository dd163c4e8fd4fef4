#!/usr/bin/env bash
# Installs what building and testing need, only what is missing, so a second
# run costs a few seconds: Debian packages (mingw-w64, Wine, zlib for both
# sides, host zstd, GoogleTest source) and a static Windows build of zstd made
# from Debian's own zstd source package.
set -euo pipefail

DEPS=${ZOBREL_DEPS:-/opt/zobrel-deps}
ZSTD_WIN=$DEPS/zstd-mingw
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 libz-mingw-w64-dev libzstd-dev zlib1g-dev zstd googletest
  cmake make ninja-build dpkg-dev tmux xxd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

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

# The Windows zstd library: Debian ships none, so build it from Debian's source.
if [ ! -f "$ZSTD_WIN/lib/libzstd.a" ] || [ ! -f "$ZSTD_WIN/include/zstd.h" ]; then
  src_list=/etc/apt/sources.list.d/zobrel-deb-src.sources
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$suite" | $SUDO tee "$src_list" >/dev/null
    apt_updated=0
  fi
  apt_update
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # apt has checked the downloaded files against the signed archive index;
  # its remarks on sandboxing and the unsigned .dsc are noise here.
  (cd "$work" && apt-get source -qq --download-only -o APT::Sandbox::User=root libzstd >/dev/null 2>&1 &&
    dpkg-source -x --skip-patches ./*.dsc src >/dev/null 2>&1) ||
    { echo "setup: could not fetch and unpack Debian's zstd source" >&2; exit 1; }
  lib=$work/src/lib
  echo "setup: building the Windows zstd library from $(basename "$work"/*.dsc)"
  objs=()
  for c in "$lib"/common/*.c "$lib"/compress/*.c "$lib"/decompress/*.c; do
    o=$work/$(basename "${c%.c}").o
    objs+=("$o")
    x86_64-w64-mingw32-gcc-posix -O2 -DZSTD_DISABLE_ASM -DZSTD_MULTITHREAD=0 -DXXH_NAMESPACE=ZSTD_ \
      -I"$lib" -I"$lib/common" -c "$c" -o "$o" &
    # two compilers at a time is what this machine has cores for
    [ "$(jobs -rp | wc -l)" -lt 2 ] || wait -n
  done
  wait
  $SUDO mkdir -p "$ZSTD_WIN/lib" "$ZSTD_WIN/include"
  rm -f "$work/libzstd.a"
  x86_64-w64-mingw32-ar rcs "$work/libzstd.a" "${objs[@]}"
  $SUDO cp "$lib/zstd.h" "$lib/zstd_errors.h" "$lib/zdict.h" "$ZSTD_WIN/include/"
  $SUDO cp "$work/libzstd.a" "$ZSTD_WIN/lib/libzstd.a"
fi

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after installation" >&2; exit 1; }
done
[ -x /usr/lib/wine/wine64 ] || { echo "setup: Wine's loader /usr/lib/wine/wine64 is missing" >&2; exit 1; }
[ -f /usr/src/googletest/CMakeLists.txt ] || { echo "setup: GoogleTest source is missing" >&2; exit 1; }

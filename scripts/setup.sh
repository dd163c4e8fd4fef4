#!/usr/bin/env bash
# Installs what building and testing need, only what is missing, so a second
# run costs a second:
# - Debian packages: the compilers (mingw-w64 for Windows, Debian's aarch64
#   cross toolchain), Wine and qemu-user to run what they make, CMake and
#   Ninja, GoogleTest's and CLI11's sources, Unicode's character database
#   (the name-equality table is made from it), clang with its sanitizer and
#   libFuzzer runtimes (the fuzz targets), clang-format-14 (the layout
#   check), and the tools some tests use;
# - Debian's source archives of zstd, libdeflate and zlib, which the build
#   makes for every target with their own build systems. They are fetched
#   with apt-get source through an apt configuration of this script's own,
#   in the source cache folder, from the Debian archive that the system's
#   apt sources name and from no other (the system's sources stay as they
#   are; where they name none, this stops and says what to add).
#   Each archive is checked against the SHA-256 in cmake/debian-sources.txt.
# Nothing is installed anywhere else.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${ZOBREL_SOURCE_CACHE:-$root/.cache/debian-sources}
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

packages=(
  cmake make ninja-build
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  g++-aarch64-linux-gnu
  googletest libcli11-dev unicode-data
  clang libclang-rt-dev clang-format-14
  zstd tmux xxd osslsigncode openssl xvfb
)
# qemu-user and qemu-user-static both give qemu-aarch64; either will do.
command -v qemu-aarch64 >/dev/null || command -v qemu-aarch64-static >/dev/null || packages+=(qemu-user)
# The release's npm package and wheels: any npm and any Python 3 with venv
# will do (the machine's own, or Debian's).
command -v npm >/dev/null || packages+=(nodejs npm)
command -v python3 >/dev/null && python3 -c 'import ensurepip, venv' 2>/dev/null || packages+=(python3 python3-venv)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The source archives the build needs and does not have yet.
sha256() { sha256sum "$1" | cut -d' ' -f1; }
wanted=()
while read -r package archive hash; do
  case $package in ''|'#'*) continue ;; esac
  [ -f "$cache/$archive" ] && [ "$(sha256 "$cache/$archive")" = "$hash" ] || wanted+=("$package|$archive|$hash")
done <"$root/cmake/debian-sources.txt"

if [ ${#wanted[@]} -gt 0 ]; then
  # A private apt: its own source list (deb-src of the Debian archive the
  # system uses), package lists and caches, all under $apt, removed after.
  apt=$cache/apt
  rm -rf "$apt"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/download"
  trap 'rm -rf "$apt"' EXIT
  # The Debian archive apt is configured with, as apt itself names it; no
  # other is ever used.
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$(apt-get indextargets --format '$(REPO_URI)|$(CODENAME)|$(LABEL)|$(TARGET_OF)' 2>/dev/null |
    awk -F'|' -v c="$codename" '$2 == c && $3 == "Debian" && ($4 == "deb" || $4 == "deb-src") { print $1; exit }')
  if [ -z "$mirror" ]; then
    echo "setup: apt's sources name no Debian archive for $codename (apt-get indextargets lists none labelled" \
         "Debian; on a machine where apt-get update never ran, run it first). Add an entry of type deb for" \
         "Debian $codename, component main, naming the Debian mirror you use, to /etc/apt/sources.list.d/," \
         "run apt-get update, and run this again." >&2
    exit 1
  fi
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$mirror" "$codename" >"$apt/sources.list.d/debian-src.sources"
  private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt/sources.list.d"
           -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o APT::Sandbox::User=root)
  echo "setup: fetching Debian's sources of ${wanted[*]%%|*} from $mirror into $cache"
  apt-get "${private[@]}" update -qq >"$apt/update.log" 2>&1 || { cat "$apt/update.log" >&2; exit 1; }
  for entry in "${wanted[@]}"; do
    IFS='|' read -r package archive hash <<<"$entry"
    # apt checks each file against the signed archive index; its remark on
    # the unsigned .dsc is noise here.
    (cd "$apt/download" && apt-get "${private[@]}" source -qq --download-only "$package" >/dev/null 2>&1) ||
      { echo "setup: could not fetch Debian's $package source package" >&2; exit 1; }
    if [ ! -f "$apt/download/$archive" ]; then
      echo "setup: Debian's $package source has no $archive now ($(cd "$apt/download" && ls ./*.orig.* | tr '\n' ' '));" \
           "update cmake/debian-sources.txt" >&2
      exit 1
    fi
    if [ "$(sha256 "$apt/download/$archive")" != "$hash" ]; then
      echo "setup: $archive differs from the SHA-256 in cmake/debian-sources.txt" >&2
      exit 1
    fi
    mv "$apt/download/$archive" "$cache/$archive"
  done
fi

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres aarch64-linux-gnu-g++; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after installation" >&2; exit 1; }
done
[ -x /usr/lib/wine/wine64 ] || { echo "setup: Wine's loader /usr/lib/wine/wine64 is missing" >&2; exit 1; }

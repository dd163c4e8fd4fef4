#!/usr/bin/env bash
# Installs what building and testing need, only what is missing, so a second
# run costs a second:
# - Debian packages: the compilers (mingw-w64 for Windows, Debian's aarch64
#   cross toolchain), Wine and qemu-user to run what they make, CMake and
#   Ninja, GoogleTest's and CLI11's sources, Unicode's character database
#   (the name-equality table is made from it), clang with its sanitizer and
#   libFuzzer runtimes (the fuzz targets), clang-format-14 and
#   clang-tidy-14 (the layout and fault checks), and the tools some tests use;
# - Debian's source archives of zstd, libdeflate and zlib, which the build
#   makes for every target with their own build systems, and of mingw-w64
#   and LLVM, from which it makes the ARM64 launchers' toolchain. They are
#   fetched with apt-get source through an apt configuration of this
#   script's own, in the source cache folder, from the Debian archive that
#   the system's apt sources name and from no other (the system's sources
#   stay as they are; where they name none, this stops and says what to
#   add). Each archive is checked against the SHA-256 in
#   cmake/debian-sources.txt;
# - Debian's arm64 Wine packages and what they need, for the ARM64 tests'
#   chroot, in .cache/arm64-wine: fetched, not installed, from the system's
#   apt sources through another such configuration (arm64 alone, an empty
#   package status, lists and cache of its own), checked by apt against the
#   archive's signed indexes.
# Nothing is installed anywhere else, and no architecture is added to dpkg.
# What only the ARM64 launchers need and cannot be had is said, not fatal:
# the build then stops and says how to go without them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${ZOBREL_SOURCE_CACHE:-$root/.cache/debian-sources}
wine_cache=${ZOBREL_ARM64_WINE_CACHE:-$root/.cache/arm64-wine}
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

packages=(
  cmake make ninja-build
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  g++-aarch64-linux-gnu
  googletest libcli11-dev unicode-data
  clang libclang-rt-dev clang-format-14 clang-tidy-14
  clang-14 lld-14 llvm-14 qemu-user-static
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
while read -r package archive hash use; do
  case $package in ''|'#'*) continue ;; esac
  [ -f "$cache/$archive" ] && [ "$(sha256 "$cache/$archive")" = "$hash" ] ||
    wanted+=("$package|$archive|$hash|${use:-}")
done <"$root/cmake/debian-sources.txt"
# A source the ARM64 launchers alone need: a warning, and the build says the rest.
missed() {
  if [ "$2" = arm64 ]; then
    echo "setup: warning: $1; the ARM64 launchers cannot be built without it (configure with -DZOBREL_ARM64=OFF)" >&2
  else
    echo "setup: $1" >&2
    exit 1
  fi
}

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
    IFS='|' read -r package archive hash use <<<"$entry"
    # apt checks each file against the signed archive index; its remark on
    # the unsigned .dsc is noise here.
    if ! (cd "$apt/download" && apt-get "${private[@]}" source -qq --download-only "$package" >/dev/null 2>&1); then
      missed "could not fetch Debian's $package source package" "$use"
    elif [ ! -f "$apt/download/$archive" ]; then
      missed "Debian's $package source has no $archive now ($(cd "$apt/download" && ls ./*.orig.* | tr '\n' ' ')); update cmake/debian-sources.txt" "$use"
    elif [ "$(sha256 "$apt/download/$archive")" != "$hash" ]; then
      missed "$archive differs from the SHA-256 in cmake/debian-sources.txt" "$use"
    else
      mv "$apt/download/$archive" "$cache/$archive"
    fi
    rm -rf "${apt:?}/download/"*
  done
fi

# The arm64 Wine packages, unless a whole set is there (packages.txt lists
# it once every file is in place). They come from the machine's own apt
# sources, as arm64 packages, with an empty status, so every package they
# need is fetched; apt checks each against the archive's signed indexes.
# Their versions follow Debian's point releases: the tests print them.
wine_set_complete() {
  [ -f "$wine_cache/packages.txt" ] || return 1
  while read -r deb; do [ -f "$wine_cache/$deb" ] || return 1; done <"$wine_cache/packages.txt"
}
if ! wine_set_complete; then
  wapt=$wine_cache/apt
  rm -rf "$wine_cache"
  mkdir -p "$wapt/state/lists/partial" "$wapt/cache/archives/partial"
  : >"$wapt/state/status"
  trap 'rm -rf "${apt:-}" "$wapt"' EXIT
  arm64=(-o APT::Architecture=arm64 -o APT::Architectures::=arm64 -o Dir::State="$wapt/state"
         -o Dir::State::status="$wapt/state/status" -o Dir::Cache="$wapt/cache" -o APT::Sandbox::User=root)
  echo "setup: fetching Debian's arm64 Wine packages into $wine_cache"
  if apt-get "${arm64[@]}" update -qq >"$wapt/update.log" 2>&1 &&
     apt-get "${arm64[@]}" install -qq -y --download-only --no-install-recommends wine64 libwine \
       >"$wapt/install.log" 2>&1; then
    mv "$wapt/cache/archives/"*.deb "$wine_cache/"
    (cd "$wine_cache" && ls ./*.deb | sed 's|^\./||') >"$wine_cache/packages.txt.new"
    mv "$wine_cache/packages.txt.new" "$wine_cache/packages.txt"
    echo "setup: $(wc -l <"$wine_cache/packages.txt") packages: $(cd "$wine_cache" && ls wine64_*.deb libwine_*.deb | tr '\n' ' ')"
  else
    cat "$wapt/update.log" "$wapt/install.log" >&2
    echo "setup: warning: Debian's arm64 Wine packages cannot be had; the ARM64 tests need them" \
         "(configure with -DZOBREL_ARM64=OFF to go without the ARM64 launchers)" >&2
  fi
  rm -rf "$wapt"
fi

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres aarch64-linux-gnu-g++; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after installation" >&2; exit 1; }
done
[ -x /usr/lib/wine/wine64 ] || { echo "setup: Wine's loader /usr/lib/wine/wine64 is missing" >&2; exit 1; }

#!/usr/bin/env bash
# The Python wheels of the release, as pip installs them, with nothing but
# the wheel itself to install from (no index, no other folder of wheels, no
# cache, no user's pip configuration). Each wheel is well formed (its tags,
# RECORD, the one program in its scripts folder: release/check_wheel.py).
# The x86-64 one installs into a fresh venv, where `zobrel-pack` runs and
# packs the very bytes the build's own writes, and uninstalls whole; the
# aarch64 wheel is refused there. For the platforms this machine is not,
# pip installs each wheel into a folder of its own as for that platform
# (--platform, --target): the manylinux and musllinux tags are both
# accepted, and each installed program runs (the aarch64 one under
# qemu-user, the Windows one under Wine) and packs alike.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/release/lib.sh"
unset PIP_FIND_LINKS PIP_INDEX_URL PIP_EXTRA_INDEX_URL
export PIP_CONFIG_FILE=/dev/null PIP_NO_INDEX=1 PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1

x86=$(release_file "zobrel_pack-$version-py3-none-manylinux*_x86_64*.whl")
windows=$(release_file "zobrel_pack-$version-py3-none-win_amd64.whl")
wheels=("$x86" "$windows")
[ -z "$qemu" ] || { arm=$(release_file "zobrel_pack-$version-py3-none-manylinux*_aarch64*.whl"); wheels+=("$arm"); }
for wheel in "${wheels[@]}"; do
  command=zobrel-pack
  [ "$wheel" != "$windows" ] || command=zobrel-pack.exe
  "$python" "$here/release/check_wheel.py" "$wheel" "$command" || exit 1
done

"$python" -m venv "$work/venv" || fail "python3 -m venv (Debian: python3-venv)"
pip=("$work/venv/bin/python" -m pip)
"${pip[@]}" install --no-index "$x86" >"$work/pip.log" 2>&1 || { cat "$work/pip.log"; fail "pip install $(basename "$x86")"; }
[ "$(file_type "$work/venv/bin/zobrel-pack")" = linux-x86_64 ] || fail "the venv's zobrel-pack is not an x86-64 program"
check_packer "the venv's zobrel-pack" "$work/venv/bin/zobrel-pack"
"${pip[@]}" uninstall -y zobrel-pack >/dev/null || fail "pip uninstall"
[ ! -e "$work/venv/bin/zobrel-pack" ] || fail "pip uninstall left the venv's zobrel-pack"
if [ -n "$qemu" ] && "${pip[@]}" install --no-index "$arm" >"$work/pip.log" 2>&1; then
  fail "pip installed the aarch64 wheel on x86-64"
fi

# install_as PLATFORM WHEEL: pip installs the wheel as for that platform; the
# installed program's path.
install_as() {
  local target=$work/as-$1
  "${pip[@]}" install --no-index --only-binary=:all: --platform "$1" --target "$target" "$2" >"$work/pip.log" 2>&1 ||
    { cat "$work/pip.log"; fail "pip install --platform $1 $(basename "$2")"; }
  ls "$target"/bin/zobrel-pack*
}
native=$(install_as musllinux_1_1_x86_64 "$x86")
check_packer "zobrel-pack installed for musllinux x86-64" "$native"
check_packer "zobrel-pack.exe installed for win_amd64" "$wine_run" "$(install_as win_amd64 "$windows")"
if [ -n "$qemu" ]; then
  install_as musllinux_1_1_aarch64 "$arm" >/dev/null
  check_packer "zobrel-pack installed for manylinux2014 aarch64" "$qemu" "$(install_as manylinux2014_aarch64 "$arm")"
fi
echo "ok   the wheels install with pip from the files alone, run and pack alike"

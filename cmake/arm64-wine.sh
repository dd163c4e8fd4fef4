#!/usr/bin/env bash
# ARM64 Wine for the ARM64 tests and benchmark: Debian's arm64 Wine packages
# unpacked into a chroot in the build tree (DIR/root, kept for later runs),
# their aarch64 programs run by qemu-aarch64-static through binfmt_misc.
#
#   arm64-wine.sh start DIR DEBS   the chroot (made again when the packages in
#                                  DEBS, listed in DEBS/packages.txt, changed;
#                                  their versions are printed), then a guard
#                                  process that registers the emulator, mounts
#                                  /proc and /dev in the chroot, keeps a
#                                  wineserver running and makes the Wine prefix
#   arm64-wine.sh stop DIR         ends the guard, which undoes all of that
#   arm64-wine.sh run DIR PROGRAM [ARGUMENT...]
#                                  runs a Windows program (a path in the chroot
#                                  or a Windows path) under ARM64 Wine; PROBE_*
#                                  variables pass through, as does
#                                  ZOBREL_WINE_RETRY (wine-run.sh's one retry)
#
# As root: chroot, mounts and binfmt_misc need it; nothing is installed, and
# no architecture is added to dpkg. The registration has a name of its own
# (zobrel-onefile-aarch64-PID) and goes first, so it leaves any other
# registration alone; binfmt_misc is mounted only if it was not, and
# unmounted at the end only if no registration is left in it. The guard
# undoes everything in a trap however it ends: told to stop, or when the
# process that started it (ctest, a benchmark) is gone.
set -euo pipefail
action=${1:-} dir=${2:-}
[ -n "$dir" ] || { echo "usage: arm64-wine.sh start DIR DEBS | stop DIR | run DIR PROGRAM [ARG...]" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
root=$dir/root
binfmt=/proc/sys/fs/binfmt_misc
# One lock for every run on the machine, as they share the kernel's one
# binfmt_misc: held while a run mounts and registers, or unregisters and
# unmounts, so that no run unmounts another's registration.
global_lock=/run/lock/zobrel-onefile-binfmt.lock
prefix=/root/wineprefix
aarch64_elf='\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
aarch64_mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# A command inside the chroot, with Wine's settings and nothing else of ours.
in_root() {
  local pass=()
  while IFS='=' read -r name _; do
    case $name in PROBE_*) pass+=("$name=${!name}") ;; esac
  done < <(env)
  env -i HOME=/root PATH=/usr/bin:/bin LANG=C.UTF-8 WINEPREFIX=$prefix WINEDEBUG=-all \
    WINEDLLOVERRIDES='mscoree,mshtml=' WINESERVER=/usr/lib/wine/wineserver64 "${pass[@]}" \
    /usr/sbin/chroot "$root" "$@"
}

# The processes whose root is the chroot: every one of them is ours.
chroot_processes() {
  local real p
  real=$(readlink -f "$root")
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$real" ] && echo "${p#/proc/}"
  done
  return 0
}

make_root() {
  local debs=$1
  [ -f "$debs/packages.txt" ] ||
    { echo "arm64-wine: no arm64 Wine packages in $debs: run scripts/setup.sh" >&2; exit 1; }
  if mountpoint -q "$root/proc" 2>/dev/null || mountpoint -q "$root/dev" 2>/dev/null; then
    echo "arm64-wine: $root still has mounts of an earlier run; 'arm64-wine.sh stop $dir' undoes them" >&2
    exit 1
  fi
  if [ -f "$root/.zobrel-packages" ] && cmp -s "$debs/packages.txt" "$root/.zobrel-packages"; then
    echo "arm64-wine: the chroot in $root is made from these packages:"
  else
    echo "arm64-wine: making the chroot in $root from these packages:"
    rm -rf "$root"
    mkdir -p "$root"
    sed "s|^|$debs/|" "$debs/packages.txt" | xargs -P2 -n8 sh -c 'for d; do dpkg-deb -x "$d" "$0"; done' "$root"
    mkdir -p "$root/proc" "$root/dev" "$root/root" "$root/work"
    mkdir -p -m 1777 "$root/tmp"
    cp "$debs/packages.txt" "$root/.zobrel-packages"
  fi
  # The versions: Debian's point releases change them.
  while read -r deb; do
    dpkg-deb --show --showformat='${Package} ${Version}\n' "$debs/$deb"
  done <"$debs/packages.txt" | paste -sd, | sed 's/,/, /g' | fold -s -w 100
}

# --- the guard: holds the registration and the mounts for the run ---------

registration=""
mounted_binfmt=0
mounted=()
cleanup() {
  set +e
  if [ -n "$registration" ] && [ -e "$binfmt/$registration" ]; then
    # Wine's services outlive the server's end by a moment; whatever is left
    # in the chroot is this run's.
    in_root /usr/lib/wine/wineserver64 -k >/dev/null 2>&1
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      [ -z "$(chroot_processes)" ] && break
      sleep 0.5
    done
    for pid in $(chroot_processes); do kill -KILL "$pid" 2>/dev/null; done
  fi
  local m
  for m in "${mounted[@]}"; do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
  (
    flock 9
    [ -n "$registration" ] && [ -e "$binfmt/$registration" ] && echo -1 >"$binfmt/$registration"
    # Unmounted only when it was this run that mounted it and nothing is
    # registered in it any more (an unmount drops every registration).
    if [ $mounted_binfmt = 1 ] && [ -z "$(ls "$binfmt" | grep -vx -e register -e status)" ]; then
      umount "$binfmt"
    fi
  ) 9>"$global_lock"
  rm -f "$dir/guard.pid"
}

guard() {
  local watch=$1 qemu
  trap cleanup EXIT
  trap 'exit 0' TERM INT HUP
  qemu=$(command -v qemu-aarch64-static) ||
    { echo "arm64-wine: qemu-aarch64-static is missing: run scripts/setup.sh (Debian's qemu-user-static)"; exit 1; }
  registration=zobrel-onefile-aarch64-$$
  mkdir -p "$(dirname "$global_lock")"
  rm -f "$dir/guard.mounted"
  (
    flock 9
    if ! mountpoint -q "$binfmt"; then
      mount -t binfmt_misc binfmt_misc "$binfmt"
      touch "$dir/guard.mounted"
    fi
    # F: the kernel opens the emulator now, so that it serves inside the chroot.
    echo ":$registration:M::$aarch64_elf:$aarch64_mask:$qemu:F" >"$binfmt/register"
  ) 9>"$global_lock"
  if [ -f "$dir/guard.mounted" ]; then mounted_binfmt=1; fi
  for m in proc dev; do
    if [ $m = proc ]; then mount -t proc proc "$root/proc"; else mount --bind /dev "$root/dev"; fi
    mounted+=("$root/$m")
  done
  # The server needs its prefix's folder; wineboot fills it in.
  mkdir -p "$root$prefix"
  in_root /usr/lib/wine/wineserver64 -p >/dev/null </dev/null || { echo "arm64-wine: wineserver did not start"; exit 1; }
  # Bounded, so a Wine that hangs fails the run loudly instead of eating it.
  if [ ! -f "$root$prefix/system.reg" ]; then
    echo "arm64-wine: making the Wine prefix $root$prefix"
    timeout 900 "$0" run "$dir" wineboot -i >/dev/null 2>&1 </dev/null || { echo "arm64-wine: wineboot failed"; exit 1; }
  fi
  timeout 300 "$0" run "$dir" cmd /c exit 0 >/dev/null 2>&1 </dev/null ||
    { echo "arm64-wine: ARM64 Wine cannot run programs in $root"; exit 1; }
  in_root /usr/lib/wine/wine64 --version
  echo ready >"$dir/guard.state"
  while [ ! -f "$dir/guard.stop" ] && kill -0 "$watch" 2>/dev/null; do sleep 1; done
}

case $action in
  start)
    [ "$(id -u)" = 0 ] || { echo "arm64-wine: the ARM64 tests need root (chroot, mounts, binfmt_misc)" >&2; exit 1; }
    if [ -f "$dir/guard.pid" ] && kill -0 "$(cat "$dir/guard.pid")" 2>/dev/null; then
      echo "arm64-wine: a guard already runs for $dir (process $(cat "$dir/guard.pid"))" >&2
      exit 1
    fi
    make_root "${3:?usage: arm64-wine.sh start DIR DEBS}"
    rm -f "$dir/guard.state" "$dir/guard.stop"
    # Its own session, so that it outlives this script; it watches ctest.
    setsid "$0" guard "$dir" "$PPID" >"$dir/guard.log" 2>&1 </dev/null &
    echo $! >"$dir/guard.pid"
    for _ in $(seq 1200); do
      [ -f "$dir/guard.state" ] && break
      kill -0 "$(cat "$dir/guard.pid")" 2>/dev/null || break
      sleep 1
    done
    cat "$dir/guard.log"
    [ -f "$dir/guard.state" ] || { echo "arm64-wine: the guard did not get ready" >&2; exit 1; }
    ;;
  guard)
    guard "$3"
    ;;
  stop)
    [ -f "$dir/guard.pid" ] || { echo "arm64-wine: no guard runs for $dir"; exit 0; }
    pid=$(cat "$dir/guard.pid")
    touch "$dir/guard.stop"
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 120); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
    if kill -0 "$pid" 2>/dev/null; then echo "arm64-wine: the guard $pid did not end" >&2; exit 1; fi
    status=0
    ! ls "$binfmt"/zobrel-onefile-aarch64-"$pid" >/dev/null 2>&1 ||
      { echo "arm64-wine: the registration zobrel-onefile-aarch64-$pid is still there" >&2; status=1; }
    for m in proc dev; do
      ! mountpoint -q "$root/$m" || { echo "arm64-wine: $root/$m is still mounted" >&2; status=1; }
    done
    [ -z "$(chroot_processes)" ] || { echo "arm64-wine: processes are left in $root" >&2; status=1; }
    exit $status
    ;;
  run)
    shift 2
    ls "$binfmt"/zobrel-onefile-aarch64-* >/dev/null 2>&1 ||
      { echo "arm64-wine: ARM64 Wine is not started for $dir ('arm64-wine.sh start')" >&2; exit 1; }
    [ "${ZOBREL_WINE_RETRY:-0}" = 1 ] || { in_root /usr/lib/wine/wine64 "$@"; exit $?; }
    # The one retry: Wine's own client fault, as cmake/wine-run.sh does it.
    errors=$(mktemp)
    trap 'rm -f "$errors"' EXIT
    for attempt in 1 2; do
      set +e
      in_root /usr/lib/wine/wine64 "$@" 2>"$errors"
      status=$?
      set -e
      cat "$errors" >&2
      if [ $status = 0 ] || [ $attempt = 2 ] || ! grep -q 'wine client error' "$errors"; then exit $status; fi
      note="arm64-wine: Wine's own fault ('$(grep -m1 'wine client error' "$errors")', status $status) in: $*; running it once more"
      echo "$note" >&2
      [ -n "${ZOBREL_WINE_RETRY_LOG:-}" ] && echo "$note" >>"$ZOBREL_WINE_RETRY_LOG"
    done
    ;;
  *)
    echo "usage: arm64-wine.sh start DIR DEBS | stop DIR | run DIR PROGRAM [ARG...]" >&2
    exit 2
    ;;
esac

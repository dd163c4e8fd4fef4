#!/usr/bin/env bash
# One case of the ARM64 launchers under ARM64 Wine: an ARM64 application
# packed on Linux by this build's zobrel-pack (which picks the ARM64
# launcher for it), run in the chroot of cmake/arm64-wine.sh (started by the
# test fixture), side by side with the application started directly.
#   wine_test.sh CASE ZOBREL_PACK ARM64_WINE_DIR ARM64_PROGRAMS
#
# Exit codes are read by arm64_runner, a Windows process (GetExitCodeProcess),
# in all 32 bits. What the emulated Wine limits: it is Wine, so what Wine
# differs in from Windows holds here too (running images are not locked;
# as root, read-only attributes are ignored); and every ARM64 instruction is
# emulated by qemu-user, so processes start and run tens of times slower
# than on ARM64 hardware, which changes how their timing can interleave
# (see parallel_starts) but not what each start does.
set -euo pipefail
case=$1 pack=$2 dir=$3 programs=$4
here=$(cd "$(dirname "$0")" && pwd)
arm64_wine=$here/../../cmake/arm64-wine.sh
root=$dir/root
work=$root/work/$case
win_work="Z:\\work\\$case"
rm -rf "$work"
mkdir -p "$work/app" "$work/bin"
cp "$programs/arm64_runner.exe" "$work/bin/"

fail() { echo "FAIL $case: $*"; exit 1; }
wine() { "$arm64_wine" run "$dir" "$@"; }
# Runs the command lines given, one per argument, through arm64_runner, with
# its output (theirs, and "exit 0x........" after each) on standard output.
run_commands() {
  printf '%s\n' "$@" >"$work/commands.txt"
  wine "$win_work\\bin\\arm64_runner.exe" "$win_work\\commands.txt"
}
run_parallel() {
  printf '%s\n' "$2" >"$work/commands.txt"
  wine "$win_work\\bin\\arm64_runner.exe" --parallel "$1" "$win_work\\commands.txt"
}
pack() { "$pack" build "$work/app" --quiet -o "$work/packed.exe" --target-spec "$win_work\\unpacked" "$@"; }
# Every file of the unpack folder: name, inode, size and modification time,
# so a start that rewrote or added a file shows.
snapshot() { (cd "$work/unpacked" && find . -type f -printf '%p %i %s %T@\n' | sort); }
same_files() { diff -r "$work/app" "$work/unpacked" >/dev/null || fail "$1: the unpack folder differs from the application"; }
# An application of the probe, a real ARM64 DLL of Wine's (large enough for
# several zstd blocks) and a small data file, in folders.
probe_app() {
  cp "$programs/arm64_probe.exe" "$work/app/probe.exe"
  mkdir -p "$work/app/lib" "$work/app/data"
  cp "$root/usr/lib/aarch64-linux-gnu/wine/aarch64-windows/msvcrt.dll" "$work/app/lib/"
  printf 'ARM64 data\n' >"$work/app/data/small.txt"
}
expect_info() {
  local info
  info=$("$pack" info "$work/packed.exe")
  grep -qx "launcher arch: *arm64" <<<"$info" || fail "info does not show the ARM64 launcher: $info"
  grep -qx "subsystem: *$1" <<<"$info" || fail "info does not show the $1 launcher: $info"
}

case $case in
  exit_codes)
    # Every bit of the exit code, through the packed probe as started directly.
    probe_app
    pack --main probe.exe
    expect_info console
    codes=(0x00000000 0x00000001 0x00000100 0x12345678 0x80000000 0xc0000135 0xffffffff)
    commands=()
    for code in "${codes[@]}"; do
      commands+=("$win_work\\app\\probe.exe --silent --exit=$code" "$win_work\\packed.exe --silent --exit=$code")
    done
    got=$(run_commands "${commands[@]}" | tr -d '\r')
    expected=$(for code in "${codes[@]}"; do echo "exit $code"; echo "exit $code"; done)
    [ "$got" = "$expected" ] || fail "exit codes, direct and packed in turn: expected
$expected
got
$got"
    ;;

  arguments_environment)
    # The fixed arguments and variables, expanded, then the user's arguments
    # exactly as typed; the user's variables through, the build's set or
    # removed, and the launcher's own.
    probe_app
    pack --main probe.exe --arg '{UNPACK_DIR}\data' --arg 'two words' --env 'PROBE_FIXED={UNPACK_DIR}\lib' \
      --env 'PROBE_GONE='
    tail=' "a b" "" c\"d  é'
    direct=$(PROBE_USER=kept run_commands "$win_work\\app\\probe.exe $win_work\\unpacked\\data \"two words\"$tail" |
      tr -d '\r')
    packed=$(PROBE_USER=kept PROBE_GONE=set run_commands "$win_work\\packed.exe$tail" | tr -d '\r')
    [ "$(grep '^arg=' <<<"$packed")" = "$(grep '^arg=' <<<"$direct")" ] ||
      fail "the arguments differ: direct
$direct
packed
$packed"
    [ "$(grep -c '^arg=' <<<"$packed")" = 6 ] || fail "not six arguments: $packed"
    grep -qxF "raw=$win_work\\packed.exe $win_work\\unpacked\\data \"two words\"$tail" <<<"$packed" ||
      fail "the command line is not the launcher's path, the fixed arguments and the rest as typed: $packed"
    for line in "env.PROBE_USER=kept" "env.PROBE_FIXED=$win_work\\unpacked\\lib" \
                "env.ZOBREL_ONEFILE_UNPACK_DIRECTORY=$win_work\\unpacked" "env.ZOBREL_ONEFILE_DIRECTORY=$win_work" \
                "dir=$win_work\\unpacked" "exit 0x00000000"; do
      grep -qxF "$line" <<<"$packed" || fail "packed, no line '$line': $packed"
    done
    ! grep -q '^env.PROBE_GONE' <<<"$packed" || fail "--env 'PROBE_GONE=' did not remove the variable: $packed"
    ;;

  cold_warm_start)
    # The first start unpacks every file; the second writes nothing.
    probe_app
    pack --main probe.exe
    first=$(run_commands "$win_work\\packed.exe --exit=0x2a" | tr -d '\r')
    grep -qx 'exit 0x0000002a' <<<"$first" || fail "cold start: $first"
    same_files "cold start"
    before=$(snapshot)
    second=$(run_commands "$win_work\\packed.exe --exit=0x2a" | tr -d '\r')
    # The same but for the launcher's process id.
    [ "$(grep -v PARENT= <<<"$second")" = "$(grep -v PARENT= <<<"$first")" ] ||
      fail "the warm start's output differs: $second"
    [ "$(snapshot)" = "$before" ] || fail "the warm start wrote files: before
$before
after
$(snapshot)"
    ;;

  repair)
    # A damaged, a shortened and a missing file are written again.
    probe_app
    pack --main probe.exe
    run_commands "$win_work\\packed.exe --silent" >/dev/null
    same_files "cold start"
    size=$(stat -c %s "$work/unpacked/lib/msvcrt.dll")
    printf 'damage' | dd of="$work/unpacked/lib/msvcrt.dll" bs=1 seek=$((size / 2)) conv=notrunc status=none
    truncate -s 3 "$work/unpacked/data/small.txt"
    rm "$work/unpacked/probe.exe"
    got=$(run_commands "$win_work\\packed.exe --silent --exit=0x7" | tr -d '\r')
    [ "$got" = "exit 0x00000007" ] || fail "the start after the damage: $got"
    same_files "after the repair"
    ;;

  damaged_payload)
    # A byte changed inside the compressed payload: the start stops before
    # the application runs, with the message and exit code 2.
    probe_app
    pack --main probe.exe
    # The payload section's file offset and size, from the section table.
    u32() { od -An -tu4 -j "$1" -N4 "$work/packed.exe" | tr -d ' '; }
    u16() { od -An -tu2 -j "$1" -N2 "$work/packed.exe" | tr -d ' '; }
    pe=$(u32 60)
    sections=$(u16 $((pe + 6))) table=$((pe + 24 + $(u16 $((pe + 20)))))
    offset=""
    for ((i = 0; i < sections; i++)); do
      at=$((table + 40 * i))
      if [ "$(head -c $((at + 7)) "$work/packed.exe" | tail -c 7)" = .zobrel ]; then
        offset=$(($(u32 $((at + 20))) + $(u32 $((at + 16))) / 2))
      fi
    done
    [ -n "$offset" ] || fail "no .zobrel section in the packed executable"
    printf '\xff\x00\xff\x00' | dd of="$work/packed.exe" bs=1 seek="$offset" conv=notrunc status=none
    ! "$pack" verify "$work/packed.exe" >/dev/null 2>&1 || fail "verify accepted the damaged payload"
    got=$(run_commands "$win_work\\packed.exe" | tr -d '\r')
    grep -qxF "Error, couldn't decode attached data." <<<"$got" || fail "no error message: $got"
    grep -qx 'exit 0x00000002' <<<"$got" || fail "not exit code 2: $got"
    ! grep -q '^raw=' <<<"$got" || fail "the application ran: $got"
    ;;

  parallel_starts)
    # Two starts at once into a new folder: one unpacks, the other waits
    # for its lock and then finds every file in place; both run. Under the
    # emulator each launcher's start-up takes long enough that the second
    # often asks for the lock only after the first gave it up, so this
    # shows that two starts together end right, not that they overlapped.
    probe_app
    pack --main probe.exe
    got=$(run_parallel 2 "$win_work\\packed.exe --silent --exit=0x12345678" | tr -d '\r')
    [ "$got" = "$(printf 'exit 0x12345678\nexit 0x12345678')" ] || fail "two starts at once: $got"
    same_files "after two starts at once"
    ;;

  windowed_exit_code)
    # A windowed ARM64 program gets the windowed ARM64 launcher, which exits
    # with its exit code. (No display here: Wine shows no window at all, and
    # the launcher's message boxes are not tested under ARM64 Wine.)
    cp "$programs/arm64_windowed.exe" "$work/app/windowed.exe"
    pack --main windowed.exe
    expect_info windows
    got=$(run_commands "$win_work\\app\\windowed.exe --exit=0xc0000135" "$win_work\\packed.exe --exit=0xc0000135" \
      "$win_work\\packed.exe --exit=0x00000007" | tr -d '\r')
    [ "$got" = "$(printf 'exit 0xc0000135\nexit 0xc0000135\nexit 0x00000007')" ] || fail "windowed: $got"
    ;;

  real_cmd)
    # A real ARM64 program, ARM64 Wine's own command interpreter, packed:
    # the same output and exit codes as started directly, and a second
    # start that finds every file in place.
    cp "$root/usr/lib/aarch64-linux-gnu/wine/aarch64-windows/cmd.exe" "$work/app/cmd.exe"
    pack --main cmd.exe
    expect_info console
    script='/c echo hello from cmd& exit -1073741515'
    direct=$(run_commands "$win_work\\app\\cmd.exe $script" "$win_work\\app\\cmd.exe /c exit 3" | tr -d '\r')
    packed=$(run_commands "$win_work\\packed.exe $script" "$win_work\\packed.exe /c exit 3" | tr -d '\r')
    expected=$(printf 'hello from cmd\nexit 0xc0000135\nexit 0x00000003')
    [ "$direct" = "$expected" ] || fail "cmd.exe started directly: $direct"
    [ "$packed" = "$direct" ] || fail "cmd.exe packed: $packed"
    same_files "cold start"
    before=$(snapshot)
    again=$(run_commands "$win_work\\packed.exe /c exit 3" | tr -d '\r')
    [ "$again" = "exit 0x00000003" ] || fail "the second start: $again"
    [ "$(snapshot)" = "$before" ] || fail "the second start wrote files"
    ;;

  unexpandable_folder)
    # A folder the specification names that cannot be had (TMP and TEMP not
    # absolute paths): the launcher ends at once through the ARM64
    # fail-fast trap (0xC0000409), as the x64 one does, with nothing
    # unpacked and nothing run. The command interpreter sets the variables;
    # its exit code is the launcher's.
    probe_app
    "$pack" build "$work/app" --quiet -o "$work/packed.exe" --main probe.exe --target-spec '{TEMP}\unpacked'
    got=$(run_commands "C:\\windows\\system32\\cmd.exe /c set TMP=reltmp&& set TEMP=reltmp&& $win_work\\packed.exe" |
      tr -d '\r')
    [ "$got" = "exit 0xc0000409" ] || fail "not the fail-fast end alone: $got"
    [ -z "$(find "$root" -maxdepth 3 -name reltmp)" ] || fail "something was unpacked under reltmp"
    ;;

  *)
    echo "wine_test.sh: unknown case $case" >&2
    exit 2
    ;;
esac
echo "ok   arm64 $case"

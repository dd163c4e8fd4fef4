#!/usr/bin/env bash
# The two Linux zobrel-packs: both fully static (no loader, so no C library
# version floor), and the aarch64 one, run under qemu-user, writes the very
# bytes the x86-64 one writes for the same folder and options, lists them
# alike, verifies and extracts them; with ARM64_PROGRAMS (the ARM64 build's
# test programs), the same for ARM64 applications, console and windowed,
# each behind its ARM64 launcher.
#   linux_packers_test.sh X86_64_PACK AARCH64_PACK QEMU_AARCH64 APP_DIR [ARM64_PROGRAMS]
set -euo pipefail
x86=$1 arm=$2 qemu=$3 app_src=$4 arm64_programs=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL $*"; exit 1; }

for pack in "$x86" "$arm"; do
  headers=$(readelf -lhW "$pack") || fail "$pack is not an ELF executable"
  if grep -q INTERP <<<"$headers"; then fail "$pack asks for a dynamic loader"; fi
  if grep -q DYNAMIC <<<"$headers"; then fail "$pack has a dynamic section"; fi
done
grep -q 'Machine:.*AArch64' <(readelf -h "$arm") || fail "$arm is not an aarch64 executable"
arm() { "$qemu" "$arm" "$@"; }

# The example application, non-ASCII names (whose order must not depend on
# the platform's char signedness) and a real DLL large enough for several
# blocks of the default level.
app=$work/app
cp -r "$app_src" "$app"
mkdir -p "$app/données" "$app/Zeta"
printf 'café\n' >"$app/données/café ü 中.txt"
printf 'z\n' >"$app/Zeta/z.txt"
printf 'ä\n' >"$app/äpfel.txt"
cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/msvcrt.dll "$app/"
mkdir -p "$app/bin"
cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe "$app/bin/"

options=(--main vexor.exe --company "MOLTARN LLC" --product vexor --file-version 1.2.3.4 --checksum --quiet)
"$x86" build "$app" "${options[@]}" -o "$work/x86_64.exe"
arm build "$app" "${options[@]}" -o "$work/aarch64.exe"
cmp "$work/x86_64.exe" "$work/aarch64.exe" || fail "the two packers wrote different executables"
"$x86" build "$app" "${options[@]}" --subsystem windows --uac-admin -o "$work/x86_64-windowed.exe"
arm build "$app" "${options[@]}" --subsystem windows --uac-admin -o "$work/aarch64-windowed.exe"
cmp "$work/x86_64-windowed.exe" "$work/aarch64-windowed.exe" ||
  fail "the two packers wrote different executables with the windowed launcher"
# The main program's looks, files left out (names beyond ASCII among them,
# matched by the name rule), the main program given the Windows way.
looks=(--main 'bin\notepad.exe' --icon-from-main --description 'Notepad ☃' --copyright '© 2026 MOLTARN'
  --exclude '*.TXT' --exclude '!CAFÉ*' --exclude 'zeta/' --level 3 --quiet)
"$x86" build "$app" "${looks[@]}" -o "$work/x86_64-looks.exe"
arm build "$app" "${looks[@]}" -o "$work/aarch64-looks.exe"
cmp "$work/x86_64-looks.exe" "$work/aarch64-looks.exe" ||
  fail "the two packers wrote different executables with the looks and exclusions"
"$x86" list "$work/x86_64-looks.exe" >"$work/looks.list"
grep -q 'café ü 中.txt' "$work/looks.list" || fail "the file taken back was left out"
grep -q -e 'äpfel' -e 'Zeta' "$work/looks.list" && fail "a file left out was packed"

"$x86" list "$work/x86_64.exe" >"$work/x86_64.list"
arm list "$work/x86_64.exe" >"$work/aarch64.list"
diff "$work/x86_64.list" "$work/aarch64.list" || fail "the two packers list the executable differently"
grep -q 'café ü 中.txt' "$work/aarch64.list" || fail "the non-ASCII name is not listed"
arm verify "$work/x86_64.exe" >/dev/null || fail "aarch64 verify refused a good executable"
arm extract "$work/x86_64.exe" "$work/extracted" >/dev/null
diff -r "$app" "$work/extracted" || fail "aarch64 extract did not give back the folder"
echo "ok   static x86-64 and aarch64 packers; byte-identical output ($(stat -c %s "$work/x86_64.exe") bytes)"

[ -n "$arm64_programs" ] || exit 0
arm64_app=$work/arm64-app
mkdir -p "$arm64_app"
cp "$arm64_programs/arm64_probe.exe" "$arm64_app/probe.exe"
cp "$arm64_programs/arm64_windowed.exe" "$arm64_app/windowed.exe"
cp -r "$app/données" "$app/msvcrt.dll" "$arm64_app/"
for main in probe windowed; do
  subsystem=console
  [ $main = windowed ] && subsystem=windows
  options=(--main "$main.exe" --company "MOLTARN LLC" --product "$main" --file-version 1.2.3.4 --quiet)
  "$x86" build "$arm64_app" "${options[@]}" -o "$work/x86_64-arm64-$main.exe"
  arm build "$arm64_app" "${options[@]}" -o "$work/aarch64-arm64-$main.exe"
  cmp "$work/x86_64-arm64-$main.exe" "$work/aarch64-arm64-$main.exe" ||
    fail "the two packers wrote different executables for the ARM64 $main"
  info=$(arm info "$work/x86_64-arm64-$main.exe")
  grep -qx 'launcher arch: *arm64' <<<"$info" || fail "the ARM64 $main did not get an ARM64 launcher: $info"
  grep -qx "subsystem: *$subsystem" <<<"$info" || fail "the ARM64 $main did not get the $subsystem launcher: $info"
  arm verify "$work/x86_64-arm64-$main.exe" >/dev/null || fail "aarch64 verify refused the ARM64 $main"
done
echo "ok   ARM64 applications: byte-identical output from both packers, ARM64 launchers"

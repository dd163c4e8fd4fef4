#!/usr/bin/env bash
# The npm package of the release, installed as its users install it
# (npm install -g) but offline, into a prefix, cache and configuration of
# this test's own. It holds the command's script and the three packers, and
# no install script. Installed, `zobrel-pack` runs the x86-64 packer here:
# the same output as the build's own, exit codes and standard streams
# passed through, and signals: a SIGTERM sent to the command alone reaches
# the packer (which stops and removes what it began), and a packer killed
# by a signal ends the command by the same signal. The command's choice of
# packer is checked for other platforms by making it believe it runs on
# them (release/as_platform.js): the arm64 packer it picks runs under
# qemu-user, the Windows one under Wine, and on any other platform it names
# the supported ones and exits 2.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/release/lib.sh"
tgz=$(release_file "zobrel-pack-$version.tgz")
export npm_config_cache=$work/npm-cache npm_config_userconfig=$work/npmrc npm_config_update_notifier=false \
  npm_config_audit=false npm_config_fund=false
touch "$work/npmrc"

files=$(tar -tzf "$tgz" | sort | tr '\n' ' ')
[ "$files" = "package/bin/zobrel-pack.js package/package.json package/packers/linux-arm64/zobrel-pack \
package/packers/linux-x64/zobrel-pack package/packers/win32-x64/zobrel-pack.exe " ] ||
  fail "$(basename "$tgz") holds $files"
npm install -g --offline --prefix "$work/npm" "$tgz" >"$work/npm.log" 2>&1 ||
  { cat "$work/npm.log"; fail "npm install -g $(basename "$tgz")"; }
package=$work/npm/lib/node_modules/zobrel-pack
node -e 'const p = require(process.argv[1]);
  if (p.name !== "zobrel-pack" || p.version !== process.argv[2] || p.scripts !== undefined) process.exit(1)' \
  "$package/package.json" "$version" || fail "package.json is not zobrel-pack $version without scripts"
for packer in linux-x64/zobrel-pack:linux-x86_64 linux-arm64/zobrel-pack:linux-aarch64 \
              win32-x64/zobrel-pack.exe:windows-x86_64; do
  [ "$(file_type "$package/packers/${packer%:*}")" = "${packer#*:}" ] || fail "packers/${packer%:*} is not ${packer#*:}"
done
[ -x "$package/packers/linux-x64/zobrel-pack" ] || fail "the installed Linux packer is not executable"
installed=$work/npm/bin/zobrel-pack
check_packer "npm's zobrel-pack" "$installed"

# Exit codes and streams, against the build's own zobrel-pack.
for args in "" "build" "verify $work/missing.exe" "list $sample/vexor.exe" "--help"; do
  status=0 expected=0
  # shellcheck disable=SC2086 # each case's words
  "$installed" $args >"$work/out" 2>"$work/err" || status=$?
  # shellcheck disable=SC2086
  "$ZOBREL_BUILD_PACK" $args >"$work/out.expected" 2>"$work/err.expected" || expected=$?
  [ $status = $expected ] || fail "zobrel-pack $args: exit status $status, the packer's own $expected"
  cmp -s "$work/out" "$work/out.expected" && cmp -s "$work/err" "$work/err.expected" ||
    fail "zobrel-pack $args: other output than the packer's own"
done

# Signals. The work: 24 MB at level 19 on one thread, seconds of it.
mkdir -p "$work/big" "$work/out-signal"
cp -r "$sample"/. "$work/big/"
head -c 18M /dev/urandom | base64 >"$work/big/big.txt"
big=(build "$work/big" --main vexor.exe --level 19 --threads 1 -o "$work/out-signal/big.exe")
# start_packing: the command, in the background, until its packer has used
# a fifth of a second of processor time; sets command and packer (pids).
start_packing() {
  "$installed" "${big[@]}" 2>"$work/signal.err" &
  command=$!
  local ticks=0 tries=0
  packer=""
  while [ "$ticks" -lt $(($(getconf CLK_TCK) / 5)) ]; do
    tries=$((tries + 1))
    [ $tries -lt 6000 ] || fail "the packer did not start working within a minute"
    sleep 0.01
    [ -n "$packer" ] || packer=$(ps -o pid= --ppid "$command" | tr -d ' ' || true)
    [ -z "$packer" ] || ticks=$(cut -d' ' -f14 "/proc/$packer/stat" 2>/dev/null || echo 0)
  done
}
start_packing
kill -TERM "$command"
status=0
wait "$command" || status=$?
! kill -KILL "$packer" 2>/dev/null || fail "SIGTERM to the command left the packer running"
[ $status = 1 ] || fail "SIGTERM to the command: exit status $status, not the packer's 1 after an interruption"
grep -q interrupted "$work/signal.err" || fail "SIGTERM to the command: the packer said $(cat "$work/signal.err")"
[ -z "$(ls -A "$work/out-signal")" ] || fail "SIGTERM to the command left $(ls -A "$work/out-signal")"
start_packing
kill -KILL "$packer"
status=0
# (bash would say the command was killed; the status says it here)
{ wait "$command" || status=$?; } 2>/dev/null
[ $status = 137 ] || fail "a packer killed by SIGKILL ended the command with status $status, not by SIGKILL (137)"

# The packer each platform gets.
entry=$package/bin/zobrel-pack.js
# as PLATFORM ARCH RUNNER ARGS...: the command as it runs on that platform.
as() {
  ZOBREL_AS_PLATFORM="$1 $2" ZOBREL_AS_RUNNER=$3 node --require "$here/release/as_platform.js" "$entry" "${@:4}"
}
as_linux_arm64() { as linux arm64 "$qemu" "$@"; }
as_win32_x64() { as win32 x64 "$wine_run" "$@"; }
check_packer "npm's zobrel-pack as on Linux arm64" as_linux_arm64
check_packer "npm's zobrel-pack as on Windows x64" as_win32_x64
[ "$(as win32 arm64 "$wine_run" --version | tr -d '\r')" = "$expected_version" ] ||
  fail "npm's zobrel-pack as on Windows arm64 does not run the x64 packer"
for platform in "darwin arm64" "darwin x64" "freebsd x64" "linux ia32" "win32 ia32"; do
  status=0
  # shellcheck disable=SC2086 # platform and processor
  as $platform "" --version >"$work/out" 2>"$work/err" || status=$?
  [ $status = 2 ] || fail "as on $platform: exit status $status, not 2"
  [ ! -s "$work/out" ] || fail "as on $platform: printed $(cat "$work/out")"
  [ "$(cat "$work/err")" = "zobrel-pack: no packer for $platform in this package; it runs on Linux x64, \
Linux arm64 and Windows x64 (and Windows 11 on ARM64, emulated)" ] || fail "as on $platform: said $(cat "$work/err")"
done
echo "ok   npm install -g of $(basename "$tgz"): runs, packs alike, passes codes and signals, picks each platform's packer"

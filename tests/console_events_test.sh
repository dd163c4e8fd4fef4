#!/usr/bin/env bash
# Console events typed into a real terminal. tmux gives Wine a console, and a
# Ctrl+C typed there reaches every process attached to it: the launcher and
# its child. Each launcher runs under status_witness, a Windows program in
# the same console that ignores Ctrl+C itself and writes down the launcher's
# exit status in all 32 bits (Wine hands a Linux parent only 8). The child
# (report_child) says what it did through files:
#   report  written once it runs, its console handler already in place
#   marker  "ended" when it ended on Ctrl+C by itself, "ignored" per ignored
#           Ctrl+C, "ignored close" when it got a close event and kept going
#   beat    a counter rewritten every 100 ms while it runs
#
# Where Wine shows less than Windows would: its default Ctrl+C handling ends
# a process with status 0, not 0xC000013A, so the status of a launcher that
# the default handling ended is not judged.
#
# usage: console_events_test.sh WINEPREFIX TEST_BIN_DIR WINE_RUN_SCRIPT
set -u
prefix=$1
bin=$2
wine_run=$3
source "$(dirname "$0")/support/terminal.sh" console-events

# wait_for FILE SECONDS: true once FILE exists, false after SECONDS.
wait_for() {
  local file=$1 tenths=$(($2 * 10))
  for ((i = 0; i < tenths; i++)); do
    [ -e "$file" ] && return 0
    sleep 0.1
  done
  return 1
}

# The heartbeat counter; the file is empty for a moment while it is rewritten.
beat() {
  local value=
  for ((i = 0; i < 20; i++)); do
    value=$(cat "$1/beat" 2>/dev/null)
    [ -n "$value" ] && break
    sleep 0.01
  done
  echo "${value:-0}"
}

# beating DIR: true when the child's heartbeat moves within a second.
beating() {
  local before
  before=$(beat "$1")
  sleep 1
  [ "$(beat "$1")" -gt "$before" ]
}

# The launcher's exit status as the witness wrote it: 8 hex digits.
status() {
  cat "$1/status" 2>/dev/null
}

# start CASE SESSION LAUNCHER [VAR=VALUE...]: runs the launcher under the
# witness in a new tmux window of SESSION, with the child's files and the
# unpack directory under $scratch/CASE. The window (and so the console) stays
# after the launcher has ended, so that a child left running is not ended by
# its console going away.
start() {
  local name=$1 session=$2 launcher=$3
  shift 3
  local dir=$scratch/$name
  mkdir -p "$dir/temp"
  local w
  w=$(windows_path "$dir")
  local command
  command="env ZOBREL_WINEPREFIX='$prefix' WITNESS_TEMP='$w\\temp' WITNESS_STATUS='$w\\status'"
  command+=" REPORT_OUT='$w\\report' REPORT_MARKER='$w\\marker' REPORT_HEARTBEAT='$w\\beat'"
  command+=" REPORT_SLEEP_MS=20000"
  for assignment in "$@"; do
    command+=" '$assignment'"
  done
  command+=" '$wine_run' '$bin/status_witness.exe' '$(windows_path "$bin/$launcher")' one 'two words'; sleep 60"
  terminal_open "$session" "$name" 200 50 "$command"
}

ctrl_c() {
  terminal_keys "events:$1" C-c
}

# A child that handles Ctrl+C and exits 7 500 ms later: the launcher stays
# until then and exits with 7.
child_ends_by_itself() {
  local name=ends-$1 launcher=$2
  local dir=$scratch/$name
  start "$name" events "$launcher" REPORT_CTRL_C=end REPORT_CTRL_C_EXIT=7
  wait_for "$dir/report" 30 || { fail "$name: the child never ran"; return; }
  ctrl_c "$name"
  wait_for "$dir/status" 10 || { fail "$name: the launcher did not end within 10 s of Ctrl+C"; return; }
  [ "$(cat "$dir/marker" 2>/dev/null)" = ended ] ||
    fail "$name: the child did not end by itself (marker: $(cat "$dir/marker" 2>/dev/null))"
  [ "$(status "$dir")" = 00000007 ] || fail "$name: launcher status $(status "$dir"), not the child's 00000007"
}

# A child that ignores Ctrl+C keeps running well past 5 s, and the launcher
# with it; when the child ends by itself, the launcher exits with its code,
# all 32 bits of it.
child_ignores() {
  local name=ignores-$1 launcher=$2
  local dir=$scratch/$name
  start "$name" events "$launcher" REPORT_CTRL_C=ignore REPORT_SLEEP_MS=10000 REPORT_EXIT=0x10000009
  wait_for "$dir/report" 30 || { fail "$name: the child never ran"; return; }
  ctrl_c "$name"
  sleep 5.5
  beating "$dir" || fail "$name: the child stopped within 6.5 s of Ctrl+C"
  grep -q ignored "$dir/marker" 2>/dev/null || fail "$name: the child never saw the Ctrl+C"
  [ ! -e "$dir/status" ] || fail "$name: the launcher ended while the child ran (status $(status "$dir"))"
  wait_for "$dir/status" 15 || { fail "$name: the launcher did not end after the child"; return; }
  [ "$(status "$dir")" = 10000009 ] || fail "$name: launcher status $(status "$dir"), not the child's 10000009"
}

# Ctrl+C while the child is created but its handle not yet published (the
# probe holds the launch there): the child never runs, and the launcher ends
# with the status the child was ended with, not by the default handling.
launch_window() {
  local name=window dir=$scratch/window
  local w
  w=$(windows_path "$dir")
  start "$name" events launch_probe.exe "PROBE_HOLD_UNTIL=$w\\release" "PROBE_HELD=$w\\held" \
    "PROBE_EVENTS=$w\\events" REPORT_CTRL_C=end REPORT_CTRL_C_EXIT=7
  wait_for "$dir/held" 30 || { fail "$name: the launch never reached the hold"; return; }
  ctrl_c "$name"
  # The probe notes the event just before the launcher's own handler gets it.
  wait_for "$dir/events" 10 || { fail "$name: the launcher never got the Ctrl+C"; return; }
  sleep 1
  [ ! -e "$dir/status" ] || fail "$name: the launcher ended during the launch (status $(status "$dir"))"
  touch "$dir/release"
  wait_for "$dir/status" 10 || { fail "$name: the launcher did not end after the launch"; return; }
  [ "$(status "$dir")" = c000013a ] || fail "$name: launcher status $(status "$dir"), not c000013a"
  sleep 1
  [ ! -e "$dir/report" ] || fail "$name: the child ran after a Ctrl+C that came before it could"
}

# Ctrl+C while unpacking: the witness slows the launcher's main thread down
# as soon as the large file appears, so the event lands mid-unpack on a
# machine of any speed. The launcher ends and never starts the child; the
# next start writes the cut file again and runs the child.
during_unpack() {
  local name=unpack dir=$scratch/unpack
  local w filler=$scratch/unpack/temp/zobrel-interrupt/zz-filler.bin
  w=$(windows_path "$dir")
  start "$name" events interrupt_onefile.exe "WITNESS_SLOW_WHEN=$w\\temp\\zobrel-interrupt\\zz-filler.bin" \
    "WITNESS_SLOWED=$w\\slowed"
  wait_for "$dir/slowed" 60 || { fail "$name: the unpack was never caught (status $(status "$dir"))"; return; }
  ctrl_c "$name"
  wait_for "$dir/status" 10 || { fail "$name: the launcher did not end within 10 s of Ctrl+C"; return; }
  local size
  size=$(stat -c %s "$filler")
  [ "$size" -lt 536870912 ] || fail "$name: the file was whole ($size bytes): the event did not land mid-unpack"
  sleep 1
  [ ! -e "$dir/report" ] || fail "$name: a child was started after Ctrl+C"

  local again=$scratch/unpack-again
  mkdir -p "$again"
  # The same unpack directory, through the same TEMP.
  rm -rf "$again/temp" && ln -s "$dir/temp" "$again/temp"
  start unpack-again events interrupt_onefile.exe
  wait_for "$again/status" 120 || { fail "$name: the second start did not end"; return; }
  [ "$(status "$again")" = 00000000 ] || fail "$name: second start status $(status "$again")"
  [ -e "$again/report" ] || fail "$name: the second start did not run the child"
  [ "$(stat -c %s "$filler")" = 536870912 ] && cmp -s -n 536870912 "$filler" /dev/zero ||
    fail "$name: the cut file was not written again whole"
}

# Closing the console (killing its tmux session) with a child that ignores
# the close: the child is gone within about 5 s. Under Wine the terminal going
# away ends every process of its console at once, and no close event reaches
# a handler, so this shows only that no child outlives its console; the
# launcher's own close path is run through the launch probe in child_test.
console_closed() {
  local name=close dir=$scratch/close
  start "$name" closing report_onefile.exe REPORT_CTRL_C=ignore
  wait_for "$dir/report" 30 || { fail "$name: the child never ran"; return; }
  terminal_close closing
  sleep 8
  ! beating "$dir" || fail "$name: the child still runs 8 s after its console was closed"
}

launchers=(probe:launch_probe.exe onefile:report_onefile.exe)
for entry in "${launchers[@]}"; do
  child_ends_by_itself "${entry%%:*}" "${entry#*:}"
done
child_ignores onefile report_onefile.exe
launch_window
during_unpack
console_closed

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all console event cases passed"

#!/usr/bin/env bash
# Console events typed into a real terminal. tmux gives Wine a console, and a
# Ctrl+C typed there reaches every process attached to it: the launcher and
# its child. The child (report_child) says what it did through files:
#   report  written once it runs, its console handler already in place
#   marker  "ended" when it ended on Ctrl+C by itself, "ignored" per ignored event
#   beat    a counter rewritten every 100 ms while it runs
# The launcher's own exit status comes back from Wine in 8 bits only, so it
# is not judged here; "done" says the launcher process has ended.
#
# usage: console_events_test.sh WINEPREFIX TEST_BIN_DIR WINE_RUN_SCRIPT
set -u
prefix=$1
bin=$2
wine_run=$3
socket=zobrel-child-events-$$
scratch=$(mktemp -d /tmp/zobrel-console-events.XXXXXX)
failures=0

cleanup() {
  tmux -L "$socket" kill-server >/dev/null 2>&1
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The Windows name of a Linux path (Wine maps / to Z:).
windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

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

# start CASE LAUNCHER [VAR=VALUE...]: runs the launcher in a new tmux window
# with the child's files under $scratch/CASE; "done" appears when it ends.
start() {
  local name=$1 launcher=$2
  shift 2
  local dir=$scratch/$name
  mkdir -p "$dir/temp"
  local w
  w=$(windows_path "$dir")
  local command
  command="env ZOBREL_WINEPREFIX='$prefix' TMP='$w\\temp' TEMP='$w\\temp'"
  command+=" REPORT_OUT='$w\\report' REPORT_MARKER='$w\\marker' REPORT_HEARTBEAT='$w\\beat'"
  command+=" REPORT_SLEEP_MS=20000"
  for assignment in "$@"; do
    command+=" '$assignment'"
  done
  # The window (and so the console) stays after the launcher has ended, so
  # that a child left running is not ended by its console going away.
  command+=" '$wine_run' '$bin/$launcher' one 'two words'; echo ended > '$dir/done'; sleep 60"
  if tmux -L "$socket" has-session 2>/dev/null; then
    tmux -L "$socket" new-window -d -n "$name" "$command"
  else
    tmux -L "$socket" new-session -d -s events -n "$name" -x 200 -y 50 "$command"
  fi
}

ctrl_c() {
  tmux -L "$socket" send-keys -t "events:$1" C-c
}

# A child that ends on Ctrl+C (after 300 ms, in its own handler) is left to
# end: its marker is written and the launcher ends right after it.
child_ends_by_itself() {
  local name=ends-$1 launcher=$2
  local dir=$scratch/$name
  start "$name" "$launcher" REPORT_CTRL_C=end
  wait_for "$dir/report" 30 || { fail "$name: the child never ran"; return; }
  ctrl_c "$name"
  wait_for "$dir/done" 4 || fail "$name: the launcher did not end within 4 s of Ctrl+C"
  [ "$(cat "$dir/marker" 2>/dev/null)" = ended ] ||
    fail "$name: the child did not end by itself (marker: $(cat "$dir/marker" 2>/dev/null))"
}

# A child that ignores Ctrl+C runs on for about 5 s, then is terminated.
child_ignores() {
  local name=ignores-$1 launcher=$2
  local dir=$scratch/$name
  start "$name" "$launcher" REPORT_CTRL_C=ignore
  wait_for "$dir/report" 30 || { fail "$name: the child never ran"; return; }
  ctrl_c "$name"
  sleep 2.5
  local early
  early=$(beat "$dir")
  sleep 1
  [ "$(beat "$dir")" -gt "$early" ] || fail "$name: the child stopped within 3.5 s of Ctrl+C"
  grep -q ignored "$dir/marker" 2>/dev/null || fail "$name: the child never saw the Ctrl+C"
  wait_for "$dir/done" 5 || fail "$name: the launcher did not end within 8.5 s of Ctrl+C"
  local late
  late=$(beat "$dir")
  sleep 1
  [ "$(beat "$dir")" = "$late" ] || fail "$name: the child still runs after the launcher ended"
}

# Ctrl+C before the launch: there is no child to wait for; the launcher
# ends and never starts one.
no_child_yet() {
  local name=no-child dir=$scratch/no-child
  start "$name" launch_probe.exe PROBE_DELAY_MS=6000
  sleep 2
  ctrl_c "$name"
  wait_for "$dir/done" 3 || fail "$name: the launcher did not end within 3 s of Ctrl+C"
  sleep 5
  [ ! -e "$dir/report" ] || fail "$name: a child was started after Ctrl+C"
}

launchers=(probe:launch_probe.exe)
[ -f "$bin/report_onefile.exe" ] && launchers+=(onefile:report_onefile.exe)
for entry in "${launchers[@]}"; do
  child_ends_by_itself "${entry%%:*}" "${entry#*:}"
  child_ignores "${entry%%:*}" "${entry#*:}"
done
no_child_yet

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all console event cases passed (${launchers[*]})"

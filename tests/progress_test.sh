#!/usr/bin/env bash
# The console progress line of a first start, seen in a real terminal: tmux
# gives Wine a console. A build with --progress of 10,000 small files (whose
# first start takes seconds under Wine) is run three times:
#   1. first start in the terminal: the line shows, then the program's output
#      begins on a clean line (the line was erased);
#   2. first start again (folder removed) with standard output and error to a
#      file: the file holds only the program's output;
#   3. warm start in the terminal: only the program's output.
# The main program is Wine's own hostname.exe, which prints one line.
#
# A run in a 40-column terminal checks that the line is cut to the console's
# width (GetConsoleScreenBufferInfo, which Wine's console answers with the
# terminal's size) rather than wrapped.
#
# usage: progress_test.sh WINEPREFIX ZOBREL_PACK WINE_RUN_SCRIPT
set -u
prefix=$1
pack=$2
wine_run=$3
socket=zobrel-progress-$$
scratch=$(mktemp -d /tmp/zobrel-progress.XXXXXX)
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

windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

app=$scratch/app
mkdir -p "$app"
cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/hostname.exe "$app/hostname.exe"
"$(dirname "$0")/make_small_files.sh" "$app" 10000 || { echo "FAIL: making the application"; exit 1; }
unpack=$scratch/unpack
"$pack" build "$app" --main hostname.exe -o "$scratch/p.exe" --product progressing --level 1 --quiet \
  --target-spec "$(windows_path "$unpack")" --progress --progress-message "Unpacking {PRODUCT}" ||
  { echo "FAIL: packing"; exit 1; }
expected=$(ZOBREL_WINEPREFIX=$prefix "$wine_run" "$scratch/p.exe" 2>/dev/null | tr -d '\r')
rm -rf "$unpack"
[ -n "$expected" ] || { echo "FAIL: the program printed nothing"; exit 1; }
rm -rf "$unpack"

# run_in_terminal NAME COMMAND [COLUMNS]: runs COMMAND in a new tmux session
# (100 columns unless given); while it runs, keeps every pane capture that
# shows the progress line in $scratch/NAME.seen; then leaves the final pane
# in $scratch/NAME.pane.
run_in_terminal() {
  local name=$1 command=$2 columns=${3:-100}
  tmux -L "$socket" new-session -d -s "$name" -x "$columns" -y 20 \
    "env ZOBREL_WINEPREFIX='$prefix' $command; echo END-OF-RUN; sleep 600"
  : > "$scratch/$name.seen"
  for ((i = 0; i < 1200; i++)); do
    local pane
    pane=$(tmux -L "$socket" capture-pane -p -t "$name")
    grep -q "Unpacking" <<< "$pane" && printf '%s\n' "$pane" >> "$scratch/$name.seen"
    grep -q END-OF-RUN <<< "$pane" && break
    sleep 0.05
  done
  tmux -L "$socket" capture-pane -p -t "$name" > "$scratch/$name.pane"
  tmux -L "$socket" kill-session -t "$name"
}

# The pane's lines before END-OF-RUN, trailing blanks and empty lines dropped.
pane_output() {
  sed -e 's/[[:space:]]*$//' -e '/END-OF-RUN/,$d' "$1" | sed '/^$/d'
}

# 1. First start in the terminal.
run_in_terminal first "'$wine_run' '$scratch/p.exe'"
grep -q 'Unpacking progressing \[[#.]*\] [0-9.]*/[0-9.]* MB, [0-9]*/10001 files' "$scratch/first.seen" ||
  fail "first start: no progress line seen; panes:$(tail -5 "$scratch/first.seen")"
out=$(pane_output "$scratch/first.pane")
[ "$out" = "$expected" ] || fail "first start: the pane holds '$out', not the program's output alone on a clean line"

# 1b. First start in a console narrower than the line: cut to one column
# short of the width, never wrapped onto a second line.
rm -rf "$unpack"
run_in_terminal narrow "'$wine_run' '$scratch/p.exe'" 40
# "Unpacking progressing [" and 16 of the bar's 20 marks: 39 columns.
grep -q '^Unpacking progressing \[[#.]\{16\}$' "$scratch/narrow.seen" ||
  fail "narrow console: no progress line cut to 39 columns seen"
awk 'length($0) > 39 { bad = 1 } END { exit bad }' "$scratch/narrow.seen" ||
  fail "narrow console: a line wider than 39 columns"
grep -q 'files' "$scratch/narrow.seen" && fail "narrow console: the line wrapped"
out=$(pane_output "$scratch/narrow.pane")
[ "$out" = "$expected" ] || fail "narrow console: the pane holds '$out', not the program's output alone"

# 2. First start with standard output and error to a file.
rm -rf "$unpack"
run_in_terminal redirected "'$wine_run' '$scratch/p.exe' > '$scratch/out.txt' 2>&1"
got=$(tr -d '\r' < "$scratch/out.txt")
[ "$got" = "$expected" ] || fail "redirected: the file holds '$got', not only the program's output"
[ -s "$scratch/redirected.seen" ] && fail "redirected: a progress line reached the terminal"

# 3. Warm start in the terminal.
run_in_terminal warm "'$wine_run' '$scratch/p.exe'"
[ -s "$scratch/warm.seen" ] && fail "warm start: a progress line was shown"
out=$(pane_output "$scratch/warm.pane")
[ "$out" = "$expected" ] || fail "warm start: the pane holds '$out', not the program's output alone"

[ "$failures" = 0 ] && echo "progress_test: all passed"
exit $((failures > 0))

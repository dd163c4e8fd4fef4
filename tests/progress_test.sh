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
# Runs in narrower terminals check that the line fits the console's width
# (GetConsoleScreenBufferInfo, which Wine's console answers with the
# terminal's size) rather than wrapping, and what gives way first: in 64
# columns the message is shortened and the bar and counts stay whole; in 40
# the message goes and the bar narrows, and the counts still stay whole.
#
# usage: progress_test.sh WINEPREFIX ZOBREL_PACK WINE_RUN_SCRIPT
set -u
prefix=$1
pack=$2
wine_run=$3
source "$(dirname "$0")/support/terminal.sh" progress

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
# shows the progress line (its counts) in $scratch/NAME.seen; then leaves
# the final pane in $scratch/NAME.pane.
run_in_terminal() {
  local name=$1 command=$2 columns=${3:-100}
  terminal_open "$name" run "$columns" 20 "env ZOBREL_WINEPREFIX='$prefix' $command; echo END-OF-RUN; sleep 600"
  : > "$scratch/$name.seen"
  for ((i = 0; i < 1200; i++)); do
    local pane
    pane=$(terminal_screen "$name")
    grep -q "/10001 files" <<< "$pane" && printf '%s\n' "$pane" >> "$scratch/$name.seen"
    grep -q END-OF-RUN <<< "$pane" && break
    sleep 0.05
  done
  terminal_screen "$name" > "$scratch/$name.pane"
  terminal_close "$name"
}

# The pane's lines before END-OF-RUN, trailing blanks and empty lines dropped.
pane_output() {
  sed -e 's/[[:space:]]*$//' -e '/END-OF-RUN/,$d' "$1" | sed '/^$/d'
}

# 1. First start in the terminal.
run_in_terminal first "'$wine_run' '$scratch/p.exe'"
grep -q 'Unpacking progressing \[[#.]\{20\}\] [0-9.]*/[0-9.]* MB, [0-9]*/10001 files' "$scratch/first.seen" ||
  fail "first start: no progress line seen; panes:$(tail -5 "$scratch/first.seen")"
out=$(pane_output "$scratch/first.pane")
[ "$out" = "$expected" ] || fail "first start: the pane holds '$out', not the program's output alone on a clean line"

# 1b. First starts in consoles narrower than the line: it fits in one column
# short of the width, never wrapped onto a second line; the counts are
# always whole, and the bar too while the message can give way.
counts='[0-9.]*/[0-9.]* MB, [0-9]*/10001 files'
narrow_start() {
  local name=$1 columns=$2
  rm -rf "$unpack"
  run_in_terminal "$name" "'$wine_run' '$scratch/p.exe'" "$columns"
  awk -v room=$((columns - 1)) 'length($0) > room { bad = 1 } END { exit bad }' "$scratch/$name.seen" ||
    fail "$name console: a line wider than $((columns - 1)) columns"
  out=$(pane_output "$scratch/$name.pane")
  [ "$out" = "$expected" ] || fail "$name console: the pane holds '$out', not the program's output alone"
}
narrow_start medium 64
grep -q "^Unpack[a-z ]*\.\.\. \[[#.]\{20\}\] $counts\$" "$scratch/medium.seen" ||
  fail "64 columns: no line with the message shortened and the whole bar and counts; panes:$(tail -3 "$scratch/medium.seen")"
narrow_start narrow 40
grep -q "^\[[#.]\{5,19\}\] $counts\$" "$scratch/narrow.seen" ||
  fail "40 columns: no line with a narrower bar and the whole counts; panes:$(tail -3 "$scratch/narrow.seen")"
grep -q 'Unpack' "$scratch/narrow.seen" && fail "40 columns: the message was shown where the counts did not fit"

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

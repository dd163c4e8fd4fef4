# Sourced by the tests that type into a real terminal: tmux gives Wine a
# console, and keys sent to a tmux window reach the console's processes as
# typed (Ctrl+C included). One tmux server per run, on a socket of its own.
#
#   source terminal.sh NAME   sets $scratch (a folder removed on exit) and
#                             $failures, and gives the functions below
set -u
terminal_socket=zobrel-$1-$$
scratch=$(mktemp -d "/tmp/zobrel-$1.XXXXXX")
failures=0

terminal_cleanup() {
  tmux -L "$terminal_socket" kill-server >/dev/null 2>&1
  rm -rf "$scratch"
}
trap terminal_cleanup EXIT

# fail TEXT: counts a failure and says it; the test goes on to its next case.
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The Windows name of a Linux path (Wine maps / to Z:).
windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# terminal_open SESSION WINDOW COLUMNS ROWS COMMAND: runs COMMAND in a new
# window of SESSION, creating the session, COLUMNS x ROWS, when there is none.
terminal_open() {
  local session=$1 window=$2 columns=$3 rows=$4 command=$5
  if tmux -L "$terminal_socket" has-session -t "$session" 2>/dev/null; then
    tmux -L "$terminal_socket" new-window -d -t "$session" -n "$window" "$command"
  else
    tmux -L "$terminal_socket" new-session -d -s "$session" -n "$window" -x "$columns" -y "$rows" "$command"
  fi
}

# terminal_keys TARGET KEY...: types KEYs (tmux's names: C-c) into TARGET
# (SESSION or SESSION:WINDOW).
terminal_keys() {
  local target=$1
  shift
  tmux -L "$terminal_socket" send-keys -t "$target" "$@"
}

# terminal_screen TARGET: what TARGET's pane shows now.
terminal_screen() {
  tmux -L "$terminal_socket" capture-pane -p -t "$1"
}

# terminal_close SESSION: closes SESSION's windows, and with them their consoles.
terminal_close() {
  tmux -L "$terminal_socket" kill-session -t "$1"
}

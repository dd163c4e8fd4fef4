#!/usr/bin/env bash
# cmake/wine-run.sh retries exactly Wine's own client fault, once, and says
# so; every other failure passes through on the first run. A stand-in loader
# scripts each attempt: it counts its runs and fails as told.
set -u
run=$(cd "$(dirname "$0")/../cmake" && pwd)/wine-run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/loader" <<'LOADER'
#!/usr/bin/env bash
# Attempt N does what line N of $SCRIPT says: "fault STATUS", "fail STATUS" or "ok".
n=$(( $(cat "$COUNT" 2>/dev/null || echo 0) + 1 ))
echo $n >"$COUNT"
echo "listing $*"
read -r what status < <(sed -n "${n}p" "$SCRIPT")
case $what in
  fault) echo "wine client error:0: write: Bad file descriptor" >&2; exit "$status" ;;
  fail) echo "the program's own error" >&2; exit "$status" ;;
  *) exit 0 ;;
esac
LOADER
chmod +x "$work/loader"

failures=0
check() {  # name, script lines, args, expected status, expected runs, expected retry-log lines, expected listings
  local name=$1 lines=$2 args=$3 want_status=$4 want_runs=$5 want_logged=$6 want_listed=$7
  printf '%b' "$lines" >"$work/script"
  rm -f "$work/count" "$work/retries.log"
  ZOBREL_WINE_LOADER=$work/loader ZOBREL_WINE_RETRY=1 ZOBREL_WINE_RETRY_LOG=$work/retries.log \
    SCRIPT=$work/script COUNT=$work/count "$run" $args >"$work/out" 2>"$work/err"
  local status=$? runs logged listed
  runs=$(cat "$work/count")
  logged=$(cat "$work/retries.log" 2>/dev/null | wc -l)
  listed=$(grep -c '^listing' "$work/out")
  if [ "$status/$runs/$logged/$listed" != "$want_status/$want_runs/$want_logged/$want_listed" ]; then
    echo "FAIL $name: status/runs/logged/listed $status/$runs/$logged/$listed, expected $want_status/$want_runs/$want_logged/$want_listed"
    sed 's/^/  err: /' "$work/err"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

check "success runs once"                 'ok\n'                  'a.exe'                 0 1 0 1
check "a program failure is not retried"  'fail 3\nok\n'          'a.exe'                 3 1 0 1
check "a fault with status 0 stands"      'fault 0\nok\n'         'a.exe'                 0 1 0 1
check "Wine's fault runs once more"       'fault 5\nok\n'         'a.exe'                 0 2 1 2
check "a second fault is the result"      'fault 5\nfault 6\nok\n' 'a.exe'                6 2 1 2
check "a retried listing comes out once"  'fault 5\nok\n'         'a.exe --gtest_list_tests' 0 2 1 1
grep -q "running it once more" "$work/err" || { echo "FAIL the retry is not reported on standard error"; failures=$((failures + 1)); }
# Without ZOBREL_WINE_RETRY nothing is ever retried.
printf 'fault 5\nok\n' >"$work/script"; rm -f "$work/count"
ZOBREL_WINE_LOADER=$work/loader SCRIPT=$work/script COUNT=$work/count "$run" a.exe >/dev/null 2>&1
status=$?
if [ $status != 5 ] || [ "$(cat "$work/count")" != 1 ]; then
  echo "FAIL without ZOBREL_WINE_RETRY a fault was retried (status $status)"; failures=$((failures + 1))
else
  echo "ok   no retry unless asked"
fi
exit $((failures > 0))

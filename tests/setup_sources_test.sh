#!/usr/bin/env bash
# scripts/setup.sh fetches the dependencies' sources only from the Debian
# archive apt is configured with: where apt's sources name none, it stops
# with a message that says what to add, and leaves no source archive and no
# private apt folder behind. apt here reads a configuration of this test's
# own (APT_CONFIG: no sources, an empty list folder); the machine's stays
# as it is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL $*"; exit 1; }

mkdir -p "$work/sources.list.d" "$work/lists/partial" "$work/cache"
cat >"$work/apt.conf" <<CONF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$work/sources.list.d";
Dir::State::Lists "$work/lists";
CONF
status=0
APT_CONFIG=$work/apt.conf ZOBREL_SOURCE_CACHE=$work/cache bash "$root/scripts/setup.sh" >"$work/out" 2>"$work/err" ||
  status=$?
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
[ $status = 1 ] || fail "setup.sh without a Debian source: exit status $status, not 1"
grep -q "apt's sources name no Debian archive for $codename" "$work/err" &&
  grep -q "Add an entry of type deb for Debian $codename, component main" "$work/err" ||
  fail "setup.sh without a Debian source said: $(cat "$work/out" "$work/err")"
[ -z "$(ls -A "$work/cache")" ] || fail "setup.sh left $(ls -A "$work/cache") in the source cache"
echo "ok   without a Debian source in apt's configuration setup.sh stops and says what to add"

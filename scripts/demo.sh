#!/usr/bin/env bash
# Builds everything (installing what is missing), packs the example
# application into one executable, lists and verifies it, and runs it under
# Wine twice: the second run finds every file in place and writes nothing.
# Last it lists the release the build made (build/ci/release), which
# installs zobrel-pack as the README says.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh" >/dev/null
pack="$root/build/ci/packer/zobrel-pack"
out="$root/build/demo"
mkdir -p "$out"
export ZOBREL_WINEPREFIX="$out/wineprefix"

echo "== zobrel-pack build"
"$pack" build "$root/build/ci/win/examples/vexor-app" --main vexor.exe -o "$out/vexor.exe" \
  --company "MOLTARN LLC" --product vexor --version-key 0.2.0-0.2.0.0 \
  --file-version 0.2.0.0 --product-version 0.2.0
echo "== zobrel-pack list"
"$pack" list "$out/vexor.exe"
echo "== zobrel-pack verify"
"$pack" verify "$out/vexor.exe"

"$root/cmake/wine-prefix.sh" start "$ZOBREL_WINEPREFIX"
trap '"$root/cmake/wine-prefix.sh" stop "$ZOBREL_WINEPREFIX"' EXIT
for run in first second; do
  echo "== $run run: vexor.exe hello \"two words\" --exit 3"
  set +e
  (cd "$out" && "$root/cmake/wine-run.sh" vexor.exe hello "two words" --exit 3)
  status=$?
  set -e
  echo "== exit status $status"
  echo "== unpacked files (last-write times: the second run leaves them as they are)"
  find "$ZOBREL_WINEPREFIX"/drive_c/users/*/AppData/Local/"MOLTARN LLC" -type f -printf '%TT  %P\n' | sort -k2
done

echo "== the release, in $root/build/ci/release (the README's \"Installing zobrel-pack\")"
(cd "$root/build/ci/release" && sha256sum --quiet -c SHA256SUMS && ls -l)

#!/usr/bin/env bash
# A packed executable signed as a publisher would sign it (Authenticode,
# with osslsigncode and a throw-away certificate): the signature verifies,
# the signed file still runs with the child's 32-bit exit code, and
# zobrel-pack verify still reads its payload.
#   signing_test.sh PACKED_EXE ZOBREL_PACK STATUS_WITNESS_EXE WINE_RUN
set -euo pipefail
packed=$1 pack=$2 witness=$3 wine_run=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=zobrel-onefile test signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "zobrel test" -h sha256 \
  -in "$packed" -out "$work/signed.exe" >/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log"; echo "FAIL osslsigncode verify"; exit 1; }
grep -q "Signature verification: ok" "$work/verify.log" || { cat "$work/verify.log"; echo "FAIL signature"; exit 1; }
cmp -s "$packed" "$work/signed.exe" && { echo "FAIL the file was not signed"; exit 1; }

# The signature lies after the last section, where the loader never looks;
# the signer updated the header checksum, so there is nothing to warn about.
"$pack" verify "$work/signed.exe" 2>"$work/verify-err.log" ||
  { cat "$work/verify-err.log"; echo "FAIL zobrel-pack verify refused the signed file"; exit 1; }
[ ! -s "$work/verify-err.log" ] || { cat "$work/verify-err.log"; echo "FAIL zobrel-pack verify warned"; exit 1; }

windows_work='Z:'"${work//\//\\}"
(cd "$work" && REPORT_EXIT=0xC0DE1234 REPORT_OUT="$windows_work\\report.txt" WITNESS_TEMP="$windows_work" \
  WITNESS_STATUS="$windows_work\\status.txt" "$wine_run" "$witness" signed.exe)
status=$(cat "$work/status.txt" 2>/dev/null || echo none)
[ "$status" = "c0de1234" ] || { echo "FAIL the signed file ended with status '$status'"; exit 1; }
echo "ok   signed, verified by osslsigncode and zobrel-pack, and it runs ($status)"

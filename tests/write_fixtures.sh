#!/usr/bin/env bash
# Writes the payload reader's missing damaged-payload fixtures into
# tests/fixtures/payload/, from what today's compressor makes. Only for a
# fixture added on purpose: existing ones are replayed as saved, and the
# test fails when one is missing. Needs a Windows build (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ZOBREL_WRITE_FIXTURES=1 ctest --test-dir "${1:-$root/build/ci/win}" --output-on-failure -R '^payload_reader_test\.'

#!/usr/bin/env bash
# Writes COUNT small text files into DEST/data, a hundred to a folder, for
# the first starts that take seconds (their progress display is tested).
#   make_small_files.sh DEST COUNT
set -euo pipefail
dest=$1
count=$2
rm -rf "$dest/data"
python3 - "$dest/data" "$count" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    d = os.path.join(root, "d%02d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.txt" % i), "w") as f:
        f.write("file %d\n" % i * 8)
PY

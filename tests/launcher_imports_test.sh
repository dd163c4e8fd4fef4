#!/usr/bin/env bash
# Every launcher image imports only the DLLs Windows pins as known DLLs
# (KERNEL32 and the C runtime): the loader takes those from the system
# folder whatever lies beside the executable. Anything else the launcher
# needs is loaded at the point of use from the system folder.
#   launcher_imports_test.sh OBJDUMP LAUNCHER_DIR
set -euo pipefail
objdump=$1 dir=$2
shopt -s nullglob
images=("$dir"/*.exe)
[ ${#images[@]} -gt 0 ] || { echo "no launcher image in $dir" >&2; exit 1; }
status=0
for image in "${images[@]}"; do
  imports=$("$objdump" -p "$image" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  echo "$(basename "$image"): $imports"
  for dll in $imports; do
    case $dll in
      kernel32.dll | msvcrt.dll) ;;
      *) echo "$(basename "$image") imports $dll, which Windows does not pin" >&2; status=1 ;;
    esac
  done
done
exit $status

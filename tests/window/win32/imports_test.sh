#!/usr/bin/env bash
# imports_test.sh OBJDUMP EXE: passes when EXE imports only DLLs that every Windows system
# has, i.e. the C++ runtime, libgcc and winpthread were linked in statically.
set -euo pipefail
dlls=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
[ -n "$dlls" ] || { echo "FAIL: objdump found no imports in $2" >&2; exit 1; }
echo "$dlls"
system='^(kernel32|user32|gdi32|winmm|advapi32|shell32|comctl32|ole32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
if others=$(grep -viE "$system" <<<"$dlls"); then
  echo "FAIL: imports beyond the system's: $others" >&2
  exit 1
fi

#!/usr/bin/env bash
# Runs a Windows program under Wine (64-bit loader) in the project's own prefix, quietly.
export WINEPREFIX="${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}"
mkdir -p "$WINEPREFIX"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
for wine in wine64 /usr/lib/wine/wine64 wine-stable wine; do
  command -v "$wine" >/dev/null 2>&1 && exec "$wine" "$@"
done
echo "wine-run: no Wine found; run scripts/setup.sh" >&2
exit 127

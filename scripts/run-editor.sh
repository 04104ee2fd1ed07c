#!/usr/bin/env bash
# Builds the Linux editor and runs it on the example server folder (examples/server).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target level-editor
if [ -z "${DISPLAY:-}" ]; then
  echo "run-editor: no display (DISPLAY is not set). Level Editor is a desktop window: run this" >&2
  echo "from a graphical session, or under a virtual display: xvfb-run -a scripts/run-editor.sh" >&2
  exit 1
fi
cd examples/server
exec ../../build/linux/app/fltk/level-editor

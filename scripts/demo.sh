#!/usr/bin/env bash
# Installs, builds and runs the program. Without a display it makes a short offscreen run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$root/build"
run="$root/demo-run"
mkdir -p "$run"
cd "$run"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$root/build/app/loader"
fi
echo "No display found: making a short offscreen run of the main window."
QT_QPA_PLATFORM=offscreen "$root/build/app/loader" --smoke

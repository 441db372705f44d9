#!/usr/bin/env bash
# Installs, builds and starts the viewer. A demo recording is generated into the folder the
# "Open Recording" dialog starts in, and the simulated cameras appear under Device > Open Camera.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target SorvaneViewer svraw
data="$(xdg-user-dir DOCUMENTS 2>/dev/null || echo "$HOME/Documents")/SorvaneData"
mkdir -p "$data"
if [ ! -f "$data/demo.raw" ]; then
    build/default/tools/svraw generate "$data/demo.raw" --scene mixed --duration-s 20 \
        --rate-ev-s 2000000 --seed 1
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting under a virtual X server (xvfb-run)." >&2
    exec xvfb-run -a build/default/app/SorvaneViewer
fi
exec build/default/app/SorvaneViewer

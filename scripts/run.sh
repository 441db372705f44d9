#!/usr/bin/env bash
# Installs, builds and starts the viewer with a demo recording open. The recording is generated
# into the folder the viewer's "Open Recording" dialog starts in (the viewer names it), and the
# simulated cameras appear under Device > Open Camera.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target SorvaneViewer svraw
viewer=build/default/app/SorvaneViewer
data="$(QT_QPA_PLATFORM=offscreen "$viewer" --recordings-folder)"
demo="$data/demo.raw"
if [ ! -f "$demo" ]; then
    build/default/tools/svraw generate "$demo" --scene mixed --duration-s 20 \
        --rate-ev-s 2000000 --seed 1
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting under a virtual X server (xvfb-run)." >&2
    exec xvfb-run -a "$viewer" "$demo"
fi
exec "$viewer" "$demo"

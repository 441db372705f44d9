#!/usr/bin/env bash
# Takes the README's screenshots: the real viewer under a virtual X server with a window manager,
# in English and in Chinese, showing the demo recording, the simulated event camera and the
# simulated fusion camera. Each window is saved as docs/<what>-<language>.png.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
scripts/install-deps.sh
$SUDO apt-get install -y -qq --no-install-recommends openbox imagemagick x11-utils >/dev/null
cmake --preset default
cmake --build --preset default --target SorvaneViewer svraw
viewer="$PWD/build/default/app/SorvaneViewer"
svraw="$PWD/build/default/tools/svraw"

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export DISPLAY=:${SCREENSHOT_DISPLAY:-97}
Xvfb "$DISPLAY" -screen 0 1440x900x24 -nolisten tcp &
pids+=($!)
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
openbox &
pids+=($!)

demo="$work/demo.raw"
"$svraw" generate "$demo" --scene mixed --duration-s 20 --rate-ev-s 2000000 --seed 1 >/dev/null

# One viewer per shot, in a home of its own so that it starts from the default settings in the
# wanted language; the shot is taken once the splash has gone and the view has filled.
shoot() {
    local language=$1 name=$2
    shift 2
    local home="$work/home-$language-$name"
    mkdir -p "$home/.local/share/Sorvane/SorvaneViewer"
    printf '[Setting]\nlanguage=%s\n' "$language" >"$home/.local/share/Sorvane/SorvaneViewer/config.ini"
    HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" "$viewer" "$@" \
        >"$work/$name-$language.log" 2>&1 &
    local pid=$!
    sleep "${SCREENSHOT_WAIT_S:-8}"
    local window
    window="$(xwininfo -root -tree | awk '/"SorvaneViewer"/ && / 1[0-9][0-9][0-9]x/ && !found {print $1; found = 1}')"
    import -window "${window:-root}" "docs/$name-$language.png"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "docs/$name-$language.png"
}

for language in en zh; do
    shoot "$language" recording "$demo"
    shoot "$language" camera --camera "$("$svraw" cameras | awk '$2 == "Orion4" {print $1}')"
    shoot "$language" fusion --camera "$("$svraw" cameras | awk '$2 == "Tandem" {print $1}')"
done

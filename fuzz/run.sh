#!/usr/bin/env bash
# Builds the fuzz preset, makes a seed corpus and fuzzes the header parser and the decoders for
# FUZZ_SECONDS (60 by default), then the calibration file parser for a quarter of that. Exits
# non-zero when a fuzzer finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"

cmake --preset fuzz
cmake --build --preset fuzz --target fuzz_raw make_fuzz_seeds fuzz_calibration

work=build/fuzz/fuzz-run
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
build/fuzz/fuzz/make_fuzz_seeds "$work/corpus"
build/fuzz/fuzz/fuzz_raw -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus"

mkdir -p "$work/calibration"
cat > "$work/calibration/seed.json" <<'JSON'
{"0": {"camera_serial": "TD1", "frame_size": {"cols": 1280, "rows": 720},
       "camera_matrix": {"rows": 3, "cols": 3, "type": 6, "data": [1050, 0, 640, 0, 1050, 360, 0, 0, 1]},
       "dist_coeffs": {"rows": 1, "cols": 5, "type": 6, "data": [0, 0, 0, 0, 0]},
       "affine_matrix": {"1": {"rows": 2, "cols": 3, "type": 6, "data": [1.4, 0, 64, 0, 1.4, 36]}},
       "rotation": [0, 0, 0], "translation": [0.03, 0, 0]},
 "1": {"frame_size": {"cols": 1920, "rows": 1080},
       "affine_matrix": {"0": {"rows": 2, "cols": 3, "type": 6, "data": [0.714, 0, -45.7, 0, 0.714, -25.7]}}}}
JSON
build/fuzz/fuzz/fuzz_calibration -max_total_time="$((seconds / 4))" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/calibration"

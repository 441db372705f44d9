#!/usr/bin/env bash
# Builds the fuzz preset, makes a seed corpus and fuzzes the header parser and the decoders for
# FUZZ_SECONDS (60 by default). Exits non-zero when the fuzzer finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"

cmake --preset fuzz
cmake --build --preset fuzz --target fuzz_raw make_fuzz_seeds

work=build/fuzz/fuzz-run
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
build/fuzz/fuzz/make_fuzz_seeds "$work/corpus"
build/fuzz/fuzz/fuzz_raw -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus"

#!/usr/bin/env bash
# Runs the default test suite five times (STRESS_RUNS) while two busy loops keep both cores
# loaded: a test that passes only on an idle machine fails here.
#
#   scripts/stress-tests.sh           # the whole suite, under load
#   scripts/stress-tests.sh --alone   # every test function of every suite on its own
#
# --alone runs each function as its own process, so one that needs what an earlier function left
# behind fails. Each run gets an empty home folder; anything left in it other than the test-mode
# folders is reported, as it would have landed in the user's own home.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default

if [ "${1:-}" = "--alone" ]; then
    failed=()
    littered=()
    logs="$(mktemp -d)"
    for binary in $(find build/default/tests -type f -executable -name 'tst_*' | sort); do
        suite="$(basename "$binary")"
        for function in $(QT_QPA_PLATFORM=offscreen "$binary" -functions); do
            function="${function%()}"
            home="$(mktemp -d)"
            log="$logs/$suite-$function.log"
            if env -u XDG_CACHE_HOME -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
                timeout 600 "$binary" "$function" >"$log" 2>&1; then
                echo "  pass  $suite $function"
            else
                echo "  FAIL  $suite $function (see $log)"
                failed+=("$suite $function")
            fi
            left="$(cd "$home" && find . -mindepth 1 -maxdepth 1 ! -name .qttest | tr '\n' ' ')"
            if [ -n "$left" ]; then
                echo "  HOME  $suite $function left $left"
                littered+=("$suite $function: $left")
            fi
            rm -rf "$home"
        done
    done
    echo "${#failed[@]} functions failed alone, ${#littered[@]} wrote into the home folder"
    for item in "${failed[@]}" "${littered[@]}"; do
        echo "  $item"
    done
    [ "${#failed[@]}" -eq 0 ] && [ "${#littered[@]}" -eq 0 ]
    exit
fi

runs="${STRESS_RUNS:-5}"
hogs=()
for _ in 1 2; do
    (while :; do :; done) &
    hogs+=($!)
done
trap 'kill "${hogs[@]}" 2>/dev/null || true' EXIT

for run in $(seq "$runs"); do
    echo "== run $run of $runs, under load"
    QT_QPA_PLATFORM=offscreen ctest --preset default --output-on-failure
done

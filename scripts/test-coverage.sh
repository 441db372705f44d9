#!/usr/bin/env bash
# Which test functions reach product code that no other test function reaches. Builds the tree
# with clang's source-based coverage (the coverage preset), runs every test function of every
# suite on its own, and prints a line a function: the product lines only it covers, all the
# product lines it covers, its suite and name, fewest lines of its own first. A function with no
# line of its own earns its place by what it asserts alone: read it before keeping or dropping
# it. A developer's tool, not part of CI: a quarter of an hour on two cores, build included.
#
#   scripts/test-coverage.sh              # every suite
#   scripts/test-coverage.sh rawplayback  # only the suites whose name holds this word, compared
#                                         # among themselves
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
filter="${1:-}"
build="$root/build/coverage"
lines="$build/function-lines"

cmake --preset coverage -S "$root" >/dev/null
echo "building with coverage in $build"
ninja -C "$build" >/dev/null
svraw="$(find "$build/tools" -type f -executable -name svraw)"
video="$(find "$build/sorvane" -name 'libsv_video.so')"

rm -rf "$lines"
mkdir -p "$lines"
profiles="$(mktemp -d)"
trap 'rm -rf "$profiles"' EXIT
for binary in $(find "$build/tests" -type f -executable -name 'tst_*' | sort); do
    suite="$(basename "$binary")"
    [[ "$suite" == *"$filter"* ]] || continue
    for function in $(QT_QPA_PLATFORM=offscreen LLVM_PROFILE_FILE=/dev/null "$binary" -functions 2>/dev/null); do
        function="${function%()}"
        run="$profiles/$suite.$function"
        mkdir -p "$run/home"
        # svraw runs of the function write profiles of their own: one file a process.
        env -u XDG_CACHE_HOME -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$run/home" QT_QPA_PLATFORM=offscreen \
            LLVM_PROFILE_FILE="$run/%p-%m.profraw" timeout 900 "$binary" "$function" >"$run/log" 2>&1 \
            || echo "  $suite $function failed (its lines are still counted)"
        llvm-profdata merge -sparse "$run"/*.profraw -o "$run/merged.profdata"
        llvm-cov export -format=lcov -skip-functions -instr-profile="$run/merged.profdata" "$binary" \
            -object "$svraw" -object "$video" 2> >(grep -v 'functions have mismatched data' >&2) \
            | python3 -c '
import sys
root, source, covered = sys.argv[1] + "/", None, set()
for line in sys.stdin:
    if line.startswith("SF:"):
        path = line[3:].strip()
        # Product code only: not the tests, not generated files, not the system headers.
        source = path[len(root):] if path.startswith(root) and not path.startswith((root + "tests/", root + "build/")) else None
    elif line.startswith("DA:") and source:
        number, count = line[3:].split(",")[:2]
        if int(count) > 0:
            covered.add(source + ":" + number)
print("\n".join(sorted(covered)))' "$root" >"$lines/$suite.$function"
        rm -rf "$run"
    done
done

python3 - "$lines" <<'PY'
import collections, os, sys
folder = sys.argv[1]
covered = {name: set(open(os.path.join(folder, name)).read().split()) for name in os.listdir(folder)}
reach = collections.Counter(line for lines in covered.values() for line in lines)
rows = sorted((sum(reach[l] == 1 for l in lines), len(lines), name) for name, lines in covered.items())
print(f"{'own':>6} {'covered':>8}  function")
for own, total, name in rows:
    print(f"{own:>6} {total:>8}  {name}")
PY

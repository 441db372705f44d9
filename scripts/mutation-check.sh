#!/usr/bin/env bash
# Measures what the suites catch: applies the small faults of scripts/mutants.txt one at a time
# to a scratch copy of the tree, rebuilds only the suites named for each, runs them, and prints
# "killed K of N" with the faults no suite noticed. A developer's tool, not part of CI; the first
# run builds the scratch copy once (later runs rebuild what changed).
#
#   scripts/mutation-check.sh              # every fault of the list
#   scripts/mutation-check.sh decoders     # only the faults whose line holds this word
#
# A line of scripts/mutants.txt: name ` file (FILE@N: the Nth occurrence) ` text ` replacement `
# the suites (ctest names) that must notice.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
scratch="${MUTATION_DIR:-$root/build/mutation}"
filter="${1:-}"
source="$scratch/src"
build="$scratch/build"

mkdir -p "$source"
# Only files that differ are copied: the others keep their times, so only what changed since the
# last run rebuilds.
git -C "$root" ls-files -z | while IFS= read -r -d '' file; do
    if ! cmp -s "$root/$file" "$source/$file"; then
        mkdir -p "$(dirname "$source/$file")"
        cp "$root/$file" "$source/$file"
    fi
done
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSV_BUILD_BENCH=OFF >/dev/null
fi
echo "building the scratch copy in $build"
ninja -C "$build" >/dev/null

killed=0
total=0
survivors=()
while IFS='`' read -r name file before after suites; do
    case "$name" in ''|'#'*) continue ;; esac
    if [ -n "$filter" ] && [[ "$name $file $suites" != *"$filter"* ]]; then
        continue
    fi
    trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1"; }
    name="$(trim "$name")"
    file="$(trim "$file")"
    suites="$(trim "$suites")"
    total=$((total + 1))
    # FILE@N: the Nth occurrence of the text (the first by default).
    occurrence=1
    if [[ "$file" == *@* ]]; then
        occurrence="${file##*@}"
        file="${file%@*}"
    fi
    # That occurrence of before, exactly as written, becomes after.
    if ! python3 - "$source/$file" "$before" "$after" "$occurrence" <<'PY'
import sys
path, before, after, n = sys.argv[1], sys.argv[2].strip(), sys.argv[3].strip(), int(sys.argv[4])
text = open(path).read()
at = -1
for _ in range(n):
    at = text.find(before, at + 1)
    if at < 0:
        sys.exit(1)
open(path, "w").write(text[:at] + after + text[at + len(before):])
PY
    then
        echo "  stale    $name: '$before' is not in $file"
        survivors+=("$name (stale: the line has changed)")
        continue
    fi
    result=survived
    pattern="^($(echo "$suites" | tr ' ' '|'))\$"
    # A fault that does not compile is caught by the compiler, which counts as caught.
    if ! ninja -C "$build" $suites >/dev/null 2>&1; then
        result=killed
    elif ! (cd "$build" && QT_QPA_PLATFORM=offscreen ctest -R "$pattern" --timeout 180 >/dev/null 2>&1); then
        result=killed
    fi
    cp "$root/$file" "$source/$file"
    if [ "$result" = killed ]; then
        killed=$((killed + 1))
        echo "  killed   $name"
    else
        echo "  SURVIVED $name"
        survivors+=("$name")
    fi
done < "$root/scripts/mutants.txt"
ninja -C "$build" >/dev/null 2>&1 || true

echo "killed $killed of $total"
for survivor in "${survivors[@]}"; do
    echo "  survivor: $survivor"
done

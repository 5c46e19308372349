#!/usr/bin/env bash
# search.sh TARGET [SECONDS]: searches for inputs that fail the fuzz target TARGET (for example
# fuzz_LinkExtractor) for SECONDS (default 3600), from a new random seed each run. What it
# learns is kept in build-fuzz/search/TARGET, so that later searches go on from there. It
# stops at the first failing input, minimises it and prints it; decide it against the
# standard, then commit it to fuzz/corpus/TARGET/ with the fix (or with the flag that marks a
# known difference of the second opinion), so that the test command replays it from then on.
# Builds the fuzz targets into build-fuzz first when they are missing (needs clang).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: fuzz/search.sh TARGET [SECONDS]}
seconds=${2:-3600}
build=$root/build-fuzz
fuzzer=$build/fuzz/$target
if [ ! -x "$fuzzer" ]; then
    "$root/scripts/build.sh" "$build" -DCORVANE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
fi
[ -x "$fuzzer" ] || { echo "no fuzz target $target" >&2; exit 2; }
corpus=$build/search/$target
findings=$build/search/$target-findings
mkdir -p "$corpus" "$findings"
seeds=$root/fuzz/corpus/$target
[ -d "$seeds" ] || seeds=
status=0
"$fuzzer" -seed=0 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" ${seeds:+"$seeds"} || status=$?
for artifact in "$findings"/crash-* "$findings"/leak-* "$findings"/timeout-* "$findings"/oom-*; do
    [ -f "$artifact" ] || continue
    case $artifact in *.min) continue ;; esac
    minimised=$artifact.min
    "$fuzzer" -minimize_crash=1 -runs=10000 -timeout=10 -rss_limit_mb=4096 \
        -exact_artifact_path="$minimised" "$artifact" >/dev/null 2>&1 || true
    [ -s "$minimised" ] || cp "$artifact" "$minimised"
    echo "failing input $(basename "$artifact"), minimised to $minimised:"
    cat -v "$minimised"
    echo
    echo "base64: $(base64 -w 0 "$minimised")"
    echo "reproduce: $fuzzer $minimised"
done
exit "$status"

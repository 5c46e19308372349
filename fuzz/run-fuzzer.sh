#!/usr/bin/env bash
# run-fuzzer.sh FUZZER RUNS SEEDS: replays the seed inputs in SEEDS through a libFuzzer target,
# then runs RUNS inputs mutated from them, in one process, from a fixed random seed and a
# fresh scratch corpus. The same code therefore always meets the same inputs: a run that
# passes once passes every time, and a failure is the change's own. On a failure it prints
# the input that failed, so that a CI log is enough to reproduce it.
#
# Long searches for new failing inputs are fuzz/search.sh's work, not the test command's.
set -euo pipefail
fuzzer=$1 runs=$2 seeds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus"
[ -d "$seeds" ] || seeds=
status=0
# What would let a run's inputs depend on anything but the code and the seeds is off: the
# corpus is not reread on a timer, mutations are not guided by traced comparisons (whose
# values include addresses), addresses are not randomised (code that steps through memory
# in aligned blocks takes other branches at other addresses, and coverage steers the
# search), and Qt's hashes have a fixed seed. Only code that runs on threads of its own (the
# seen index's merge worker) can still take other paths by their timing.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
    norandom=(setarch "$(uname -m)" -R)
fi
QT_HASH_SEED=0 "${norandom[@]}" "$fuzzer" -seed=1 -runs="$runs" -use_cmp=0 -reload=0 \
    -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$scratch/" "$scratch/corpus" ${seeds:+"$seeds"} ||
    status=$?
for artifact in "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-*; do
    [ -f "$artifact" ] || continue
    echo "failing input $(basename "$artifact"), base64:"
    base64 -w 0 "$artifact"
    echo
done
exit "$status"

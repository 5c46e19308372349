#!/usr/bin/env bash
# run-fuzzer.sh FUZZER SECONDS SEEDS: runs a libFuzzer target for SECONDS from the seed inputs
# in SEEDS, keeping what it finds in a scratch folder. On a failure it prints the input that
# failed, so that a CI log is enough to reproduce it.
#
# The mutations start from a fixed random seed, so that runs of the same code mostly try the
# same inputs (not all: the timing of a run steers it too); FUZZ_SEED=N explores elsewhere
# (0 picks a new seed each run).
set -euo pipefail
fuzzer=$1 seconds=$2 seeds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus"
[ -d "$seeds" ] || seeds=
status=0
"$fuzzer" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$scratch/" "$scratch/corpus" ${seeds:+"$seeds"} || status=$?
for artifact in "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-*; do
    [ -f "$artifact" ] || continue
    echo "failing input $(basename "$artifact"), base64:"
    base64 -w 0 "$artifact"
    echo
done
exit "$status"

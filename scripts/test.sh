#!/usr/bin/env bash
# Installs what is missing, builds Corvane and runs every test: once in a plain build, once
# under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target for a bounded
# time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

"$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
"$root/scripts/test-package.sh" "$root/build"

"$root/scripts/build.sh" "$root/build-asan" -DCORVANE_SANITIZE=ON
# Leak checks on: tests/lsan.supp lists the leaks inside third-party libraries, and why. The
# slow unwinder follows allocations through libraries built without frame pointers (libcrypto),
# so that those entries can name the function behind a leak rather than the whole library.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 \
    UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions="$root/tests/lsan.supp":print_suppressions=0 \
    ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

"$root/scripts/build.sh" "$root/build-fuzz" -DCORVANE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
ctest --test-dir "$root/build-fuzz" --output-on-failure -j "$jobs"

#!/usr/bin/env bash
# package.sh [DIR]: installs what is missing, builds Corvane in Release mode and packs it as a
# Debian package; prints the package's path as its last line. Given DIR, it packs the build
# that is already there instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
dir=$(realpath -m "${1:-$root/build-release}")
if (($# == 0)); then
    "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
fi
rm -f "$dir"/package/corvane_*.deb
cpack --config "$dir/CPackConfig.cmake" -B "$dir/package" >&2
ls "$dir"/package/corvane_*.deb

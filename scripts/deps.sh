#!/usr/bin/env bash
# Installs the Debian packages that building and testing Corvane need, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgumbo-dev libgl-dev fonts-liberation
    clang libclang-rt-14-dev librsvg2-bin dpkg-dev file desktop-file-utils appstream)
# zlib inflates compressed pages as far as the page limit.
packages+=(zlib1g-dev)
# libdivsufsort sorts the suffixes behind the seen-lists.
packages+=(libdivsufsort-dev)
# llvm-symbolizer names the source lines in the clang fuzz targets' crash reports.
packages+=(llvm-14)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

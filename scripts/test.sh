#!/usr/bin/env bash
# Installs, builds and runs every test. GUI tests run offscreen.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The package test needs dpkg-shlibdeps (dpkg-dev) and file besides the build's own packages.
"$root/scripts/install-packages.sh" dpkg-dev file
"$root/scripts/setup.sh" "$root/build"
export QT_QPA_PLATFORM=offscreen
cd "$root/build"
ctest --output-on-failure -j"$(nproc)" --timeout 300

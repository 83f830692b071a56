#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, then configures and builds out of tree.
# Usage: scripts/setup.sh [BUILD_DIR [extra cmake arguments...] [--configure-only]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

"$root/scripts/install-packages.sh" cmake g++ ninja-build pkg-config qt6-base-dev libgl-dev \
    libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth

configure_only=false
args=()
for arg in "$@"; do
    if [ "$arg" = "--configure-only" ]; then configure_only=true; else args+=("$arg"); fi
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${args[@]}" >/dev/null
$configure_only || cmake --build "$build" -j"$(nproc)"

#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, then configures and builds out of tree.
# Usage: scripts/setup.sh [BUILD_DIR [extra cmake arguments...] [--configure-only]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

packages=(cmake g++ ninja-build pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev
          libbenchmark-dev xvfb xauth)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

configure_only=false
args=()
for arg in "$@"; do
    if [ "$arg" = "--configure-only" ]; then configure_only=true; else args+=("$arg"); fi
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${args[@]}" >/dev/null
$configure_only || cmake --build "$build" -j"$(nproc)"

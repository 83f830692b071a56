#!/usr/bin/env bash
# Builds the Debian package tavrin-loader_VERSION_amd64.deb: a release build of the two programs
# alone (no tests, no benchmarks) in build-package/, then CPack. Prints the package's path.
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-package}

# dpkg-shlibdeps (dpkg-dev) computes the dependencies; CPack finds the binaries with file.
"$root/scripts/install-packages.sh" dpkg-dev file
"$root/scripts/setup.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DLOADER_BUILD_TESTS=OFF \
    -DLOADER_BUILD_BENCH=OFF --quiet
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || {
    cat "$build/cpack.log" >&2
    exit 1
}
ls "$build"/tavrin-loader_*_amd64.deb

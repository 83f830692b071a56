#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, then configures and builds out of tree.
# Usage: scripts/setup.sh [BUILD_DIR [extra cmake arguments...] [--configure-only]
#                         [--target NAME]... [--quiet]]
# --target builds only the targets named (everything by default); --quiet keeps the build's
# output in BUILD_DIR/build.log and shows one progress line instead, and the log on failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

"$root/scripts/install-packages.sh" cmake g++ ninja-build pkg-config qt6-base-dev libgl-dev \
    libgtest-dev libgmock-dev libbenchmark-dev libvterm-dev xvfb xauth fonts-noto-mono \
    fonts-dejavu-core

configure_only=false
quiet=false
args=()
targets=()
while (($#)); do
    case "$1" in
        --configure-only) configure_only=true ;;
        --quiet) quiet=true ;;
        --target)
            (($# >= 2)) || { echo "setup.sh: --target needs a name" >&2; exit 2; }
            targets+=(--target "$2")
            shift
            ;;
        *) args+=("$1") ;;
    esac
    shift
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${args[@]}" >/dev/null
$configure_only && exit 0
if ! $quiet; then
    cmake --build "$build" -j"$(nproc)" "${targets[@]}"
    exit 0
fi

# Ninja's "[done/total]" lines become one line rewritten in place on a terminal; elsewhere
# (a log, CI) only the closing line is printed.
what=everything
if ((${#targets[@]})); then
    names=()
    for ((i = 1; i < ${#targets[@]}; i += 2)); do names+=("${targets[i]}"); done
    what="${names[*]}"
    what="${what// / and }"
fi
log="$build/build.log"
started=$SECONDS
tty=false
[ -t 1 ] && tty=true
status=0
exec 3>&1
cmake --build "$build" -j"$(nproc)" "${targets[@]}" 2>&1 | {
    while IFS= read -r line; do
        printf '%s\n' "$line"
        if $tty && [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]]; then
            printf '\rBuilding %s: %s of %s steps\033[K' "$what" \
                "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" >&3
        fi
    done >"$log"
} || status=$?
$tty && printf '\r\033[K'
if ((status != 0)); then
    echo "The build of $what failed; its output ($log):" >&2
    cat "$log" >&2
    exit "$status"
fi
echo "Built $what in $((SECONDS - started)) s (output in $log)."

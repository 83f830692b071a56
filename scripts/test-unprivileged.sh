#!/usr/bin/env bash
# Runs the tests that open pseudo terminals, and the end-to-end runs, as an unprivileged user, so
# a port that only root could open again never goes unnoticed. Needs root (to switch user) and a
# built tree.
# Usage: scripts/test-unprivileged.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
user=nobody
group=$(id -gn "$user" 2>/dev/null || echo nogroup)

if [ "$(id -u)" -ne 0 ]; then
    echo "scripts/test-unprivileged.sh must run as root (it switches to $user)" >&2
    exit 2
fi

# The user needs to reach the binaries: folders above the tree that others may not pass through
# get the search bit for the run only.
opened=()
restore() {
    for dir in "${opened[@]}"; do chmod o-x "$dir"; done
    [ -n "${scratch:-}" ] && rm -rf "$scratch"
}
trap restore EXIT
dir=$build
while [ "$dir" != "/" ]; do
    if [ "$(( 0$(stat -c %a "$dir") & 1 ))" -eq 0 ]; then
        chmod o+x "$dir"
        opened+=("$dir")
    fi
    dir=$(dirname "$dir")
done

scratch=$(mktemp -d)
chown "$user:$group" "$scratch"
as_user() {
    (cd "$scratch" && setpriv --reuid="$user" --regid="$group" --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$scratch" TMPDIR="$scratch" QT_QPA_PLATFORM=offscreen \
        XDG_RUNTIME_DIR="$scratch" "$@")
}

failed=0
for test in serial/serial_engine_tests:'Posix*' serial/serial_component_tests:'PtyPort.*' \
            tools/devsim_tests:'*' app/app_tests:'LoaderApplication*' \
            app/run_tests:'*' app/gang_tests:'*'; do
    binary="$build/tests/${test%%:*}"
    echo "-- $(basename "$binary") as $user"
    as_user "$binary" --gtest_filter="${test#*:}" --gtest_brief=1 || failed=1
done
exit "$failed"

#!/usr/bin/env bash
# Usage: package_test.sh BUILD_DIR VERSION
set -uo pipefail
build=$1
version=$2
for tool in dpkg-deb dpkg-shlibdeps file cpack; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

deb="$scratch/out/tavrin-loader_${version}_amd64.deb"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    [ ! -f "$deb" ]; then
    cat "$scratch/cpack.log"
    ls "$scratch/out" 2>/dev/null
    echo "FAIL: no $(basename "$deb")"
    exit 1
fi
root="$scratch/root"
dpkg -x "$deb" "$root" || { echo "FAIL: dpkg -x"; exit 1; }

# Every file the package must hold.
for path in usr/bin/loader usr/bin/devsim \
    usr/share/tavrin-loader/loader.html usr/share/tavrin-loader/AWKEYBRD.INI \
    usr/share/applications/tavrin-loader.desktop \
    usr/share/icons/hicolor/scalable/apps/tavrin-loader.svg \
    usr/share/man/man1/loader.1.gz usr/share/man/man1/devsim.1.gz; do
    [ -f "$root/$path" ] || fail "$path is missing"
done

# The two programs are its only binaries: no test, benchmark or fuzz target slipped in.
binaries=$(cd "$root" && find . -type f -exec file {} + | grep ELF | cut -d: -f1 | sort | tr '\n' ' ')
[ "$binaries" = "./usr/bin/devsim ./usr/bin/loader " ] || fail "binaries packaged: $binaries"

# Each check: a description, then a command that must succeed.
checks=(
    "the manual pages are gzip'd troff"
    "zcat '$root/usr/share/man/man1/loader.1.gz' '$root/usr/share/man/man1/devsim.1.gz' | grep -c '^\.TH' | grep -qx 2"
    "the dependencies come from dpkg-shlibdeps"
    "dpkg-deb -f '$deb' Depends | grep -q 'libqt6widgets6 (>= ' && dpkg-deb -f '$deb' Depends | grep -q 'libc6 (>= '"
    "the package carries the version"
    "[ \"\$(dpkg-deb -f '$deb' Version)\" = '$version' ]"
    "the desktop entry starts the installed program with the installed icon"
    "grep -qx 'Exec=loader' '$root/usr/share/applications/tavrin-loader.desktop' && grep -qx 'Icon=tavrin-loader' '$root/usr/share/applications/tavrin-loader.desktop'"
    "the installed loader tells its version"
    "'$root/usr/bin/loader' --version | grep -qx 'Version $version (revision .*)'"
    "the installed device simulator starts"
    "'$root/usr/bin/devsim' --help | grep -q '^usage: devsim'"
)
for ((i = 0; i < ${#checks[@]}; i += 2)); do
    (cd "$scratch" && eval "${checks[i + 1]}") || fail "${checks[i]}"
done

if ((failures)); then
    echo "--- package contents:"
    dpkg-deb -c "$deb"
    exit 1
fi
echo "package ok: $(basename "$deb")"

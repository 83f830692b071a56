#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for SECONDS (default 60),
# one at a time. New inputs go to build-fuzz/corpus/<target>/ (the checked-in seeds are read too);
# crashes go to build-fuzz/findings/<target>/. Exits non-zero when any target found a crash.
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]]   Extra libFuzzer flags: FUZZ_FLAGS="-runs=10000000"
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(script_line cmd_string profile_file upload_header device_stream
    terminal_buffer terminal_stream key_map data_trigger text_encoding)

# clang's libFuzzer runtime ships separately on Debian.
"$root/scripts/install-packages.sh" clang libclang-rt-14-dev cmake ninja-build || exit 1

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLOADER_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" || exit 1

failed=0
for t in "${targets[@]}"; do
    corpus=$build/corpus/$t findings=$build/findings/$t
    mkdir -p "$corpus" "$findings"
    log=$build/$t.log
    # A single fuzzing process (no -jobs: it would fork and log elsewhere); the machine is shared.
    "$build/fuzz/fuzz_$t" "$corpus" "$root/fuzz/corpus/$t" -max_total_time="$seconds" \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
        ${FUZZ_FLAGS:-} >"$log" 2>&1
    rc=$?
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    crashes=$(find "$findings" -type f | wc -l)
    printf '%-14s executions %-10s corpus %-6s findings %s (exit %s, log %s)\n' "$t" \
        "${execs:-?}" "$(find "$corpus" -type f | wc -l)" "$crashes" "$rc" "$log"
    if ((rc != 0 || crashes > 0)); then
        failed=1
        find "$findings" -type f -printf '    %p\n'
    fi
done
exit $failed

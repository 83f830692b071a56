#!/usr/bin/env bash
# Builds the tree with a sanitizer in its own folder and runs the tests there.
#   scripts/sanitize.sh address   ASan+UBSan, every test (build-asan/)
#   scripts/sanitize.sh thread    ThreadSanitizer, the serial, link, lights, terminal window and
#                                 end-to-end tests (build-tsan/)
# Extra arguments go to ctest (e.g. --repeat until-fail:50).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-}
shift || true
tests=()
case "$kind" in
    address) build="$root/build-asan" ;;
    thread) build="$root/build-tsan"
            tests=(serial_engine_tests serial_component_tests serial_target_tests link_tests lights_tests
                   terminal_window_tests terminal_component_tests run_tests gang_tests) ;;
    *) echo "usage: scripts/sanitize.sh address|thread [ctest arguments...]" >&2; exit 2 ;;
esac

# Configures (installing what is missing) without building, then builds what the run needs.
"$root/scripts/setup.sh" "$build" -DLOADER_SANITIZE="$kind" -DLOADER_BUILD_BENCH=OFF --configure-only
if ((${#tests[@]})); then
    cmake --build "$build" -j"$(nproc)" --target "${tests[@]}"
else
    cmake --build "$build" -j"$(nproc)"
fi

export QT_QPA_PLATFORM=offscreen
# Reports in our code fail the run; the suppression files name only code that is not ours.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/sanitizers/tsan.supp"

cd "$build"
args=(--output-on-failure -j"$(nproc)" --timeout 600)
((${#tests[@]})) && args+=(-L "$(IFS='|'; echo "${tests[*]}")")
ctest "${args[@]}" "$@"

#!/usr/bin/env bash
# Builds everything once more in build-asan with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the whole test suite there: a memory error, a leak or undefined behaviour in the
# program or in a test ends that test with a report. tools/test.sh runs it after the tests.
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

# Also the tools the build runs (the template, the logo, the sample catalogue) run checked.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERCHALOG_SANITIZE=ON \
    -DMERCHALOG_WERROR="${MERCHALOG_WERROR:-OFF}" >/dev/null
cmake --build build-asan -j"$(nproc)"
cd build-asan
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"

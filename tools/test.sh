#!/usr/bin/env bash
# Builds everything with compiler warnings treated as errors and runs every test headless: a
# short, repeatable run of every fuzz target on its committed corpus, the whole test suite,
# the whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer (tools/sanitize.sh,
# in build-asan), then the Debian package's checks (built, validated, installed, run and removed
# again).
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
export MERCHALOG_WERROR=ON
bash tools/build.sh
FUZZ_SEED=1 bash tools/fuzz.sh 5
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
bash tools/sanitize.sh
bash tools/package.sh

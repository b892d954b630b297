#!/usr/bin/env bash
# Builds everything and runs every test headless: a short, repeatable run of every fuzz target
# on its committed corpus, the whole test suite, then the Debian package's checks (built,
# validated, installed, run and removed again).
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
FUZZ_SEED=1 bash tools/fuzz.sh 5
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j"$(nproc)"
cd ..
bash tools/package.sh

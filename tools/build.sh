#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into build/. With
# MERCHALOG_WERROR=ON (as tools/test.sh sets it) a compiler warning fails the build.
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERCHALOG_WERROR="${MERCHALOG_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"

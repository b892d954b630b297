#!/usr/bin/env bash
# The long reliability run: the crash tests with hundreds of kills each (registration of
# products, deletion, detail edits, and the check that a journal-less writer
# is caught), long runs of two programs writing one catalogue, and the record-source tests
# (hostile files, value limits, refused writes), repeated over several seeds.
#
#   tools/soak.sh [KILLS [TWO_WRITER_ROWS [ROUNDS]]]     defaults: 300 kills, 1500 rows, 2 rounds
#
# Environment: MERCHALOG_BUILD (build folder, default build), MERCHALOG_CRASH_MAX_DELAY_MS
# (longest wait before a kill, default 150), MERCHALOG_CRASH_SEED (first seed; random otherwise).
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

kills=${1:-300}
rows=${2:-1500}
rounds=${3:-2}
build=${MERCHALOG_BUILD:-build}

bash tools/setup.sh
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target crashdriver tst_crashsafety tst_recordsource

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
export QTEST_FUNCTION_TIMEOUT=$((6 * 3600 * 1000))
export MERCHALOG_CRASH_KILLS=$kills
export MERCHALOG_TWO_WRITER_ROWS=$rows
export MERCHALOG_CRASH_MAX_DELAY_MS=${MERCHALOG_CRASH_MAX_DELAY_MS:-150}
seed=${MERCHALOG_CRASH_SEED:-$((RANDOM * 32768 + RANDOM + 1))}

tests="$build/tests"
start=$(date +%s)
for round in $(seq 1 "$rounds"); do
    echo "== round $round of $rounds: $kills kills per crash test, $rows rows per writer, seed $seed"
    MERCHALOG_CRASH_SEED=$seed "$tests/reliability/tst_crashsafety" -maxwarnings 0
    "$tests/tst_recordsource" -silent
    seed=$((seed + 1))
done
echo "== soak passed in $(( $(date +%s) - start )) s"

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each one for a while on a copy
# of its seed corpus, printing how many inputs it tried. Stops at the first failing target and
# leaves the failing input in build-fuzz/artifacts.
#
#   tools/fuzz.sh [seconds-per-target] [target...]     (default 60 s, every target)
#   FUZZ_SEED=1 tools/fuzz.sh 5                        (a repeatable short run, as CI does)
#
# New inputs that find new code stay in build-fuzz/corpus/<target>; copy the interesting
# ones into fuzz/corpus/<target> by hand.
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_number fuzz_statement fuzz_like fuzz_csv fuzz_csvread)

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
bash "$root/tools/setup.sh"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DMERCHALOG_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERCHALOG_WERROR="${MERCHALOG_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# The longest input each target is given: long enough for every rule, short enough that the
# slow reference matchers stay fast.
max_len() {
    case "$1" in
    fuzz_number) echo 256 ;;
    fuzz_statement) echo 4096 ;;
    *) echo 1024 ;;
    esac
}

mkdir -p "$build/artifacts"
status=0
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    cp -n "$root/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
    dict=()
    [ -f "$root/fuzz/$target.dict" ] && dict=(-dict="$root/fuzz/$target.dict")
    log=$build/$target.log
    echo "== $target: ${seconds}s"
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz/$target" "$corpus" "${dict[@]}" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
        -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 ${FUZZ_SEED:+-seed="$FUZZ_SEED"} \
        >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "   ok: ${runs:-?} executions, corpus $(ls "$corpus" | wc -l) files"
    else
        echo "   FAILED (log: $log)"
        grep -E "check failed|ERROR:|SUMMARY:|Test unit written|timeout" "$log" | head -20 || true
        status=1
        break
    fi
done
exit $status

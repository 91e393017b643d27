#!/usr/bin/env bash
# Runs every fuzz target for a while: fuzz/run.sh <seconds per target> [<build folder>].
# Each target starts from its seeds (fuzz/corpus/<target>) plus what earlier runs found (fuzz-corpus-work/,
# not in git). A crash, a failed property, a timeout or a leak of memory stops the target; the input that
# did it is kept in fuzz-corpus-work/findings/ and the script fails. Findings become regression tests.
set -euo pipefail
seconds=${1:?seconds per target}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${2:-$root/build/fuzz}
work=$root/fuzz-corpus-work
targets=(fuzz_storedtext fuzz_loadclocksetting fuzz_getfolder fuzz_numbertext fuzz_settingsfile fuzz_remoterequest fuzz_programmecsv fuzz_websocket fuzz_oscmessage)

mkdir -p "$work/findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
# Leaks inside system libraries only, each named there with its reason (never our own code).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tools/lsan.supp}
passed=0
failed=0
for target in "${targets[@]}"; do
    mkdir -p "$work/$target"
    log=$work/$target.log
    if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/findings/$target-" "$work/$target" "$here/corpus/$target" >"$log" 2>&1; then
        runs=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
        echo "$target: $runs inputs in ${seconds}s, no finding"
        passed=$((passed + 1))
    else
        echo "$target: FINDING (log: $log)"
        grep -E 'property failed|ERROR: |runtime error|Test unit written' "$log" | head -n 8 | sed 's/^/    /'
        failed=$((failed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

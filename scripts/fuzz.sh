#!/usr/bin/env bash
# Builds the fuzz targets of the title codecs (preset `fuzz`: clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each in turn for the given seconds (default 60).
# Usage: scripts/fuzz.sh [seconds]
#
# Each target works on its own corpus in build/fuzz/corpus/<target>, which keeps what earlier
# runs found and reads the seeds the build writes (build/fuzz/fuzz/seeds). Prints each
# target's executions and coverage. A finding (a broken property, a sanitizer report, a time-out)
# stops its target; its input is left in build/fuzz/findings/<target>/ (emptied at the start of
# each run) and the script exits 1.
# Writes the targets' counts, "PASSED FAILED", to build/fuzz/counts.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build/fuzz
rm -f "$build/counts"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

passed=0
failed=0
while read -r fuzzer; do
    corpus=$build/corpus/$fuzzer
    findings=$build/findings/$fuzzer
    log=$build/logs/$fuzzer.log
    rm -rf "$findings"
    mkdir -p "$corpus" "$findings" "$build/logs"
    echo "== $fuzzer: $seconds s (log: $log)"
    rc=0
    "$build/fuzz/$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=30 \
        -dict=fuzz/compound_text.dict -artifact_prefix="$findings/" -print_final_stats=1 \
        "$corpus" "$build/fuzz/seeds" >"$log" 2>&1 || rc=$?
    # libFuzzer's status lines read "#<runs> <event> cov: <edges> ft: <features> corp: ...".
    status=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 || true)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' <<<"$status" | grep -o '[0-9]*' || true)
    ft=$(grep -o 'ft: [0-9]*' <<<"$status" | grep -o '[0-9]*' || true)
    corp=$(grep -o 'corp: [0-9]*' <<<"$status" | grep -o '[0-9]*' || true)
    echo "$fuzzer: ${runs:-?} executions (${rate:-?}/s), cov ${cov:-?}, ft ${ft:-?}, corpus ${corp:-?} inputs"
    if [ "$rc" -eq 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "$fuzzer: FINDING (exit status $rc)"
        grep -E 'broken: |^SUMMARY: |ERROR: ' "$log" | head -n 5 || true
        grep -o 'Test unit written to .*' "$log" || echo "(no input written; see $log)"
    fi
done <"$build/fuzz/targets"

echo "$passed $failed" >"$build/counts"
echo "fuzz: $passed targets clean, $failed with findings"
[ "$failed" -eq 0 ]

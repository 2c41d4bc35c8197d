#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the whole Linux suite, then the Windows build and its tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test

passed=0
failed=0
skipped=0
status=0
# Runs one ctest preset, with any further ctest options, adds its counts to the totals and names
# each test that was run again after a failure (ctest starts it once more).
run_ctest() {
    local preset=$1 junit log
    shift
    junit="$PWD/build/results-$preset.xml"
    log="$PWD/build/ctest-$preset.log"
    ctest --preset "$preset" --output-junit "$junit" "$@" | tee "$log" || status=1
    { grep -oE 'Start +[0-9]+: [^ ]+' "$log" || true; } | sort | uniq -c |
        awk '$1 > 1 { print "retried " $1 - 1 " time(s): " $4 }'
    local tests failures
    tests=$(grep -o -m1 'tests="[0-9]*"' "$junit" | grep -o '[0-9]*' || echo 0)
    failures=$(grep -o -m1 'failures="[0-9]*"' "$junit" | grep -o '[0-9]*' || echo 0)
    passed=$((passed + tests - failures))
    failed=$((failed + failures))
}

# Both Linux builds come first: the soak tests of the sanitizer build also run the plain velmo.
cmake --preset linux-asan
cmake --build --preset linux-asan
cmake --preset linux
cmake --build --preset linux
run_ctest linux-asan
# Only the end-to-end tests under openbox get a second run; every other test fails at once.
run_ctest linux --label-exclude '^e2e$'
run_ctest linux-e2e

# Each fuzz target of the title codecs for 10 seconds, counted as one test a target.
scripts/fuzz.sh 10 || status=1
if read -r fuzz_passed fuzz_failed <build/fuzz/counts; then
    passed=$((passed + fuzz_passed))
    failed=$((failed + fuzz_failed))
else
    status=1
    failed=$((failed + 1))
fi

cmake --preset windows
cmake --build --preset windows
if [ -x scripts/test-windows.sh ]; then
    scripts/test-windows.sh || status=1
    # The Wine tests leave their counts behind: "PASSED FAILED".
    if read -r wine_passed wine_failed <build/windows/wine-tests/counts; then
        passed=$((passed + wine_passed))
        failed=$((failed + wine_failed))
        if [ -s build/windows/wine-tests/skipped ]; then
            skipped=$((skipped + 1))
            cat build/windows/wine-tests/skipped
        fi
    else
        status=1
    fi
fi

echo "total: $passed passed, $failed failed, $skipped skipped"
exit $status

#!/usr/bin/env bash
# Builds velmo and its Linux tests (presets linux-asan and linux) and runs them: the unit tests
# and the soak under AddressSanitizer and UndefinedBehaviorSanitizer, then the whole Linux suite.
# Any arguments are further options for both configurations. Counts each GoogleTest case and
# writes "PASSED FAILED SKIPPED" to build/linux-counts. Needs what `scripts/setup.sh linux-test`
# installs; scripts/test.sh runs it on this machine and inside the Debian 13 root.
set -euo pipefail
cd "$(dirname "$0")/.."

rm -f build/linux-counts
passed=0
failed=0
skipped=0
status=0

# The counts of one GoogleTest report: "TESTS FAILURES DISABLED ERRORS SKIPPED" of its whole run
# (the skipped cases are counted by each suite only).
gtest_counts() {
    local head a n out=()
    head=$(grep -m1 -o '<testsuites [^>]*' "$1")
    for a in tests failures disabled errors; do
        n=$(grep -o " $a=\"[0-9]*\"" <<<"$head" | grep -o '[0-9]*' || true)
        out+=("${n:-0}")
    done
    n=$(grep -o '<testsuite [^>]* skipped="[0-9]*"' "$1" | grep -o 'skipped="[0-9]*"' |
        grep -o '[0-9]*' | awk '{ s += $1 } END { print s + 0 }')
    echo "${out[@]}" "$n"
}

# Adds what one ctest run reports to the totals: a GoogleTest program by its cases (from the
# report it wrote to `gtest_dir`), any other test as one.
count_ctest() {
    local junit=$1 gtest_dir=$2 name state
    while read -r name state; do
        local xml=$gtest_dir/$name.xml
        if [ "$state" != run ] && [ "$state" != fail ]; then
            # A test that ctest could not run at all (its program missing, say) has failed.
            echo "test-linux: $name was not run ($state)" >&2
            failed=$((failed + 1))
        elif [ -s "$xml" ]; then
            local t f d e s
            read -r t f d e s < <(gtest_counts "$xml")
            passed=$((passed + t - f - e - d - s))
            failed=$((failed + f + e))
            skipped=$((skipped + s))
            # A program that failed after its cases passed (a crash at exit, a leak) fails once.
            if [ "$state" = fail ] && [ $((f + e)) -eq 0 ]; then
                failed=$((failed + 1))
            fi
        elif [ "$state" = run ]; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
        fi
    done < <(sed -nE 's/.*<testcase name="([^"]*)".* status="([a-z]*)".*/\1 \2/p' "$junit")
}

# Runs one ctest preset, with any further ctest options, adds its counts to the totals and names
# each test that was run again after a failure (ctest starts it once more).
run_ctest() {
    local preset=$1 build=$2 junit log
    shift 2
    junit="$PWD/build/results-$preset.xml"
    log="$PWD/build/ctest-$preset.log"
    ctest --preset "$preset" --output-junit "$junit" "$@" | tee "$log" || status=1
    { grep -oE 'Start +[0-9]+: [^ ]+' "$log" || true; } | sort | uniq -c |
        awk '$1 > 1 { print "retried " $1 - 1 " time(s): " $4 }'
    if [ -s "$junit" ]; then
        count_ctest "$junit" "$PWD/build/$build/gtest"
    else
        status=1
        failed=$((failed + 1))
    fi
}

# Both Linux builds come first: the soak tests of the sanitizer build also run the plain velmo.
cmake --preset linux-asan -DBUILD_TESTING=ON "$@"
cmake --build --preset linux-asan
cmake --preset linux -DBUILD_TESTING=ON "$@"
cmake --build --preset linux
rm -rf build/linux-asan/gtest build/linux/gtest
run_ctest linux-asan linux-asan
# Only the end-to-end tests under openbox get a second run; every other test fails at once.
run_ctest linux linux --label-exclude '^e2e$'
run_ctest linux-e2e linux

mkdir -p build
echo "$passed $failed $skipped" >build/linux-counts
echo "linux ($(. /etc/os-release && echo "Debian $VERSION_ID")): $passed passed, $failed failed, $skipped skipped"
exit $status

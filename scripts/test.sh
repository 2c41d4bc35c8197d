#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the whole Linux suite, then both Windows builds and their tests.
# The totals count each GoogleTest case, each fuzz target and each Wine check.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test

passed=0
failed=0
skipped=0
status=0
releases=()

# Adds the counts "PASSED FAILED SKIPPED" in `file`, of the part named `part`, to the totals; a
# part that wrote none has failed.
add_counts() {
    local part=$1 file=$2 p f s
    if read -r p f s <"$file"; then
        passed=$((passed + p))
        failed=$((failed + f))
        skipped=$((skipped + ${s:-0}))
        releases+=("$part $p passed, $f failed, ${s:-0} skipped")
    else
        status=1
        failed=$((failed + 1))
        releases+=("$part: no counts")
    fi
}

# The Linux suite with this machine's compiler and Qt (Debian 12).
rm -f build/linux-counts
scripts/test-linux.sh || status=1
add_counts "linux, Debian $(. /etc/os-release && echo "$VERSION_ID"):" build/linux-counts

# The same suite in a Debian 13 root, made once and kept in /var/cache/vellomar, with Debian 13's
# compiler and Qt, under its own Xvfb and openbox, and under KWin 6. Its build tree is
# build/debian13.
mkdir -p build/debian13
rm -f build/debian13/linux-counts
if root=$(scripts/root.sh --cached trixie linux-test); then
    scripts/in-root.sh "$root" --bind "$PWD" /src --bind "$PWD/build/debian13" /src/build -- \
        /src/scripts/test-linux.sh || status=1
fi
add_counts "linux, Debian 13:" build/debian13/linux-counts

# Each fuzz target of the title codecs for 10 seconds, counted as one test a target.
scripts/fuzz.sh 10 || status=1
add_counts "fuzz:" build/fuzz/counts

# Both Windows builds, and their Wine checks: the x86-64 build everywhere, the 32-bit build
# where the machine can execute it.
scripts/test-windows.sh || status=1
add_counts "wine:" build/wine-tests/counts
cat build/wine-tests/skipped 2>/dev/null || true

printf '  %s\n' "${releases[@]}"

echo "total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] || status=1
exit $status

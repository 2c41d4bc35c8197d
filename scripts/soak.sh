#!/usr/bin/env bash
# The long soak: velmo from the sanitizer build under the hostile window churn.
# Usage: scripts/soak.sh [minutes]   (default 10; the test command runs a 30-second form)
set -euo pipefail
cd "$(dirname "$0")/.."

minutes="${1:-10}"
scripts/setup.sh test
# The sanitizer build is checked for errors and leaks, the plain one for memory growth.
cmake --preset linux -DBUILD_TESTING=ON
cmake --build --preset linux -j2 --target velmo
cmake --preset linux-asan -DBUILD_TESTING=ON
cmake --build --preset linux-asan -j2 --target soak_test
VELLOMAR_SOAK_SECONDS=$((minutes * 60)) exec build/linux-asan/tests/soak/soak_test \
    --gtest_filter='VelmoSoak.*'

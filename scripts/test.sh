#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the whole Linux suite, then the Windows build and its tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test

cmake --preset linux-asan
cmake --build --preset linux-asan
ctest --preset linux-asan

cmake --preset linux
cmake --build --preset linux
ctest --preset linux

cmake --preset windows
cmake --build --preset windows
if [ -x scripts/test-windows.sh ]; then
    scripts/test-windows.sh
fi

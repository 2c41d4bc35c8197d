#!/usr/bin/env bash
# Sets up, builds and runs the X11 tick benchmark. It starts its own Xvfb (on a free display,
# through -displayfd) and openbox, and stops both when it ends. Extra arguments go to Google
# Benchmark, e.g. --benchmark_filter=Contents.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake --preset linux -DBUILD_TESTING=ON
cmake --build --preset linux --target x11_tick_bench
exec build/linux/bench/x11_tick_bench "$@"

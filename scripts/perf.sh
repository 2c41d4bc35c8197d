#!/usr/bin/env bash
# Measures, in one run on this machine, every figure of docs/performance.md: the tick of the
# X11 backend (on a window's contents, on its title bar, among 1000 windows, over a 16 MiB
# title), resting and moving, with its round trips, against two xdotool runs a tick; then the
# running velmo's start-up time, processor time (and the X server's) and resident memory while
# it rests on a window, three times each; and velmo at rest against a bare 10 Hz pointer poll and
# a Qt window doing the same, in thirty interleaved rounds.
# Each benchmark starts its own Xvfb and openbox and stops them when it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake --preset linux -DBUILD_TESTING=ON >/dev/null
cmake --build --preset linux -j2 --target x11_tick_bench velmo_bench >/dev/null

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== build/linux/bench/x11_tick_bench"
build/linux/bench/x11_tick_bench
echo
echo "== build/linux/bench/velmo_bench --benchmark_filter='StartToFirstTick|RestingOnAWindow/30' --benchmark_repetitions=3"
build/linux/bench/velmo_bench --benchmark_filter='StartToFirstTick|RestingOnAWindow/30' \
    --benchmark_repetitions=3
echo
echo "== build/linux/bench/velmo_bench --benchmark_filter=RestingAgainstTheFloor"
build/linux/bench/velmo_bench --benchmark_filter=RestingAgainstTheFloor

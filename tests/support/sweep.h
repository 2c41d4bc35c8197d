// A pointer that sweeps to and fro between two points, `hz` steps a second for `seconds`, on a
// steady clock: the motion that the cost programs measure, on KWin and on an X server alike.
#pragma once

#include <time.h>

template <typename MoveTo>
void SweepPointer(int hz, int seconds, int x0, int y0, int x1, int y1, MoveTo move_to) {
    constexpr long kStepsEachWay = 100;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long period_ns = 1000000000L / hz;
    for (long i = 0; i < static_cast<long>(hz) * seconds; ++i) {
        const long phase = i % (2 * kStepsEachWay);
        const long k = phase < kStepsEachWay ? phase : 2 * kStepsEachWay - phase;
        move_to(static_cast<int>(x0 + (x1 - x0) * k / kStepsEachWay),
                static_cast<int>(y0 + (y1 - y0) * k / kStepsEachWay));
        next.tv_nsec += period_ns;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
}

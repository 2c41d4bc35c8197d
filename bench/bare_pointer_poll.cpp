// The least a program can do to follow the pointer ten times a second: one XQueryPointer on the
// root window, then sleep until the next tenth of a second. velmo_bench holds the running velmo
// against it. Runs on $DISPLAY until it is ended by a signal; exits 1 if there is no display.
#include <X11/Xlib.h>
#include <time.h>

#include <cerrno>
#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("bare_pointer_poll: cannot open the X display\n", stderr);
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    constexpr long kTickNs = 100'000'000;
    constexpr long kSecondNs = 1'000'000'000;
    // Deadlines a tenth of a second apart, as a periodic timer keeps them: a late wake-up does
    // not shift the ticks after it, and ticks missed while the program was stopped are skipped,
    // not made up for.
    const auto later = [](timespec t) {
        t.tv_nsec += kTickNs;
        if (t.tv_nsec >= kSecondNs) {
            t.tv_nsec -= kSecondNs;
            ++t.tv_sec;
        }
        return t;
    };
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        Window root_return = 0, child = 0;
        int root_x = 0, root_y = 0, x = 0, y = 0;
        unsigned int mask = 0;
        XQueryPointer(display, root, &root_return, &child, &root_x, &root_y, &x, &y, &mask);
        next = later(next);
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > next.tv_sec || (now.tv_sec == next.tv_sec && now.tv_nsec > next.tv_nsec)) {
            next = later(now);
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
    }
}

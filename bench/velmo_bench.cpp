// What the running velmo costs: the time from exec to its first tick, and, with the pointer
// resting on another window, its processor time, the X server's, and its resident memory over a
// stretch of time. Under a private Xvfb with openbox, as the end-to-end tests run it.
#include <benchmark/benchmark.h>

#include "tests/e2e/velmo_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Label2's inside (within its border) at 96 dpi: blank until the first tick has shown the title
// of the window under the pointer.
bool Label2ShowsText(Display* d, XWindow form) {
    const XRect label2 = LayoutRect(layout::kLabel2, 96);
    XErrorTrap trap(d);  // Form1 may not be mapped yet
    XImage* image =
        XGetImage(d, form, label2.x + 1, label2.y + 1, static_cast<unsigned>(label2.width - 2),
                  static_cast<unsigned>(label2.height - 2), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return false;
    }
    const unsigned long background = XGetPixel(image, 0, 0);
    bool text = false;
    for (int y = 0; y < image->height && !text; ++y) {
        for (int x = 0; x < image->width && !text; ++x) {
            text = XGetPixel(image, x, y) != background;
        }
    }
    XDestroyImage(image);
    return text;
}

// A session with a foreign window under the resting pointer.
std::unique_ptr<XSession> SessionWithPointerOnAWindow(benchmark::State& state,
                                                      XWindow* window = nullptr) {
    std::string error;
    auto session = XSession::Start({}, &error);
    if (session == nullptr) {
        state.SkipWithError(error.c_str());
        return nullptr;
    }
    const XWindow w = session->CreateClient(700, 500, 300, 200, "Resting on this window");
    if (window != nullptr) {
        *window = w;
    }
    session->MovePointer(850, 600);
    return session;
}

void StartToFirstTick(benchmark::State& state) {
    auto session = SessionWithPointerOnAWindow(state);
    if (session == nullptr) {
        return;
    }
    Display* d = session->display();
    for (auto _ : state) {
        const auto start = Clock::now();
        auto velmo = StartVelmo();
        XWindow form = 0;
        const bool ticked = WaitUntil(
            [&] {
                form = form != 0 ? form : FindClientOf(d, velmo->pid());
                return form != 0 && Label2ShowsText(d, form);
            },
            10s);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!ticked) {
            state.SkipWithError("no tick within 10 s");
            return;
        }
        velmo->Stop();
    }
}
BENCHMARK(StartToFirstTick)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Processor time of a process so far, in seconds.
double CpuSeconds(pid_t pid) {
    return std::chrono::duration<double>(ProcessorTime(pid)).count();
}

// Args: seconds to watch velmo, after it has run for a few seconds; and whether Form1 keeps the
// focus, as it has after start, so that Qt blinks the caret in Text1 (1), or the window under
// the pointer has been activated (0).
void RestingOnAWindow(benchmark::State& state) {
    XWindow resting_on = 0;
    auto session = SessionWithPointerOnAWindow(state, &resting_on);
    if (session == nullptr) {
        return;
    }
    const pid_t server = session->server().pid();
    for (auto _ : state) {
        auto velmo = StartVelmo();
        std::this_thread::sleep_for(5s);
        if (state.range(1) == 0) {
            Display* d = session->display();
            AskWindowManager(d, resting_on, "_NET_ACTIVE_WINDOW");
            WaitUntil(
                [&] {
                    const auto active = Property32(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW");
                    return active.size() == 1 && static_cast<XWindow>(active[0]) == resting_on;
                },
                5s);
            std::this_thread::sleep_for(1s);
        }
        const pid_t pid = velmo->pid();
        const double cpu_before = CpuSeconds(pid);
        const double server_before = CpuSeconds(server);
        const auto rss_before = static_cast<double>(ResidentKiB(pid));
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = CpuSeconds(pid) - cpu_before;
        const double server_cpu = CpuSeconds(server) - server_before;
        const auto rss_after = static_cast<double>(ResidentKiB(pid));
        state.SetIterationTime(elapsed);
        state.counters["cpu_percent"] = 100 * cpu / elapsed;
        state.counters["xserver_cpu_percent"] = 100 * server_cpu / elapsed;
        state.counters["rss_MiB"] = rss_after / 1024;
        state.counters["rss_growth_KiB"] = rss_after - rss_before;
        velmo->Stop();
    }
}
BENCHMARK(RestingOnAWindow)
    ->Args({30, 1})
    ->Args({30, 0})
    ->Args({600, 1})
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

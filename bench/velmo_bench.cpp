// What the running velmo costs: the time from exec to its first tick, and, with the pointer
// resting on another window, its processor time, the X server's, and its resident memory over a
// stretch of time, also against the least a program can do for the same ticks. Under a private
// Xvfb with openbox, as the end-to-end tests run it.
#include <benchmark/benchmark.h>

#include "bench/medians.h"
#include "tests/e2e/velmo_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

// One program held against the others, and what it and the X server cost in each round.
struct Contender {
    const char* name;
    std::function<std::unique_ptr<Process>()> start;
    bool has_window;
    std::unique_ptr<Process> process;
    std::vector<double> cpu_percent;
    std::vector<double> server_percent;
};

// Starts `contender` and, once the window manager has given its window the focus (the bare poll
// has none), stops it until its turn. Returns what went wrong, if anything.
std::string StartStopped(Display* d, Contender& contender) {
    contender.process = contender.start();
    Process& program = *contender.process;
    XWindow own = 0;
    const bool shown =
        !contender.has_window || WaitUntil(
                                     [&] {
                                         own = own != 0 ? own : FindClientOf(d, program.pid());
                                         return own != 0 && ActiveWindow(d) == own;
                                     },
                                     10s);
    std::this_thread::sleep_for(1s);  // past the first ticks, which find a window and read it
    if (!shown || !program.Running()) {
        return std::string(contender.name) + " did not come up";
    }
    program.Signal(SIGSTOP);
    return "";
}

// Lets `contender` run alone for `stretch` and adds its processor time and the X server's.
void MeasureAlone(XSession& session, Contender& contender, std::chrono::milliseconds stretch) {
    const pid_t pid = contender.process->pid();
    const pid_t server = session.server().pid();
    contender.process->Signal(SIGCONT);
    // Past the tick that was due while it was stopped.
    std::this_thread::sleep_for(300ms);
    const double cpu_before = CpuSeconds(pid);
    const double server_before = CpuSeconds(server);
    const auto start = Clock::now();
    std::this_thread::sleep_for(stretch);
    const double cpu = CpuSeconds(pid) - cpu_before;
    const double server_cpu = CpuSeconds(server) - server_before;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    contender.process->Signal(SIGSTOP);
    contender.cpu_percent.push_back(100 * cpu / elapsed);
    contender.server_percent.push_back(100 * server_cpu / elapsed);
}

// Args: milliseconds each program runs alone in a round, and rounds. In one session, velmo
// resting on an active window is held against a bare program that only calls XQueryPointer ten
// times a second and a Qt Widgets window that does the same from a QTimer. All three are started
// once; in each round each runs alone in turn, the others stopped (SIGSTOP), the order turning
// by one each round, while its processor time and the X server's are read. Short turns side by
// side keep the load of the machine the same for the three; the ratios are the medians of each
// round's.
void RestingAgainstTheFloor(benchmark::State& state) {
    XWindow resting_on = 0;
    auto session = SessionWithPointerOnAWindow(state, &resting_on);
    if (session == nullptr) {
        return;
    }
    Display* d = session->display();
    const auto stretch = std::chrono::milliseconds(state.range(0));
    const auto rounds = static_cast<std::size_t>(state.range(1));
    const auto helper = [](const char* path) {
        return [path] { return std::make_unique<Process>(Process::Options{{path}, {}, {}}); };
    };
    std::array<Contender, 3> contenders{
        {{"velmo", [] { return StartVelmo(); }, true, nullptr, {}, {}},
         {"bare", helper(BARE_POINTER_POLL_PATH), false, nullptr, {}, {}},
         {"qt", helper(QT_POINTER_POLL_PATH), true, nullptr, {}, {}}}};
    for (Contender& contender : contenders) {
        if (const std::string failed = StartStopped(d, contender); !failed.empty()) {
            state.SkipWithError(failed.c_str());
            return;
        }
    }
    AskWindowManager(d, resting_on, "_NET_ACTIVE_WINDOW");
    if (!WaitUntil([&] { return ActiveWindow(d) == resting_on; }, 5s)) {
        state.SkipWithError("the window under the pointer did not become active");
        return;
    }
    double elapsed = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (std::size_t round = 0; round < rounds; ++round) {
            for (std::size_t i = 0; i < contenders.size(); ++i) {
                MeasureAlone(*session, contenders[(round + i) % contenders.size()], stretch);
            }
        }
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    for (Contender& contender : contenders) {
        contender.process->Signal(SIGCONT);
        if (!contender.process->Running()) {
            state.SkipWithError((std::string(contender.name) + " ended early").c_str());
            return;
        }
        contender.process->Stop();
    }
    if (ActiveWindow(d) != resting_on) {
        state.SkipWithError("the window under the pointer lost the focus");
        return;
    }
    state.SetIterationTime(elapsed);
    const Contender& velmo = contenders[0];
    const Contender& bare = contenders[1];
    const Contender& qt = contenders[2];
    for (const Contender& c : contenders) {
        state.counters[std::string(c.name) + "_cpu_percent"] = Median(c.cpu_percent);
        state.counters[std::string("xserver_") + c.name + "_percent"] = Median(c.server_percent);
    }
    state.counters["velmo_per_bare"] = MedianRatio(velmo.cpu_percent, bare.cpu_percent);
    state.counters["xserver_per_bare"] = MedianRatio(velmo.server_percent, bare.server_percent);
    state.counters["qt_per_bare"] = MedianRatio(qt.cpu_percent, bare.cpu_percent);
    state.counters["velmo_per_qt"] = MedianRatio(velmo.cpu_percent, qt.cpu_percent);
}
BENCHMARK(RestingAgainstTheFloor)
    ->Args({2000, 30})
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

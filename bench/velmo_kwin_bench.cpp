// What velmo costs at rest on Plasma's Wayland session against what it costs on X11, in the same
// run: a headless KWin with Xwayland and a native window under the still pointer, and an Xvfb
// with openbox and an X11 window under the still pointer, one velmo on each.
#include <benchmark/benchmark.h>

#include <signal.h>

#include <X11/Xlib.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/medians.h"
#include "tests/e2e/velmo_session.h"
#include "tests/support/kwin_session.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How a process's processor time is read: to the nanosecond over its living threads, or by
// clock ticks with the threads that have ended (KWin ends idle threads of its pools).
using Reader = std::chrono::nanoseconds (*)(pid_t);

// Processor time of some processes over a stretch, as per cent of a core.
struct Watch {
    std::vector<std::pair<pid_t, Reader>> watched;
    std::vector<std::vector<double>> percent;

    explicit Watch(std::vector<std::pair<pid_t, Reader>> processes)
        : watched(std::move(processes)), percent(watched.size()) {}

    void Measure(std::chrono::milliseconds stretch) {
        std::vector<std::chrono::nanoseconds> before;
        for (const auto& [pid, read] : watched) {
            before.push_back(read(pid));
        }
        const auto start = Clock::now();
        std::this_thread::sleep_for(stretch);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        for (std::size_t i = 0; i < watched.size(); ++i) {
            const auto [pid, read] = watched[i];
            percent[i].push_back(
                100 * std::chrono::duration<double>(read(pid) - before[i]).count() / elapsed);
        }
    }
};

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (const double v : values) {
        sum += v;
    }
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

// Args: milliseconds of each turn, rounds, and whether Form1 keeps the focus it has after start
// (1: the caret blinks in Text1, and each blink is a frame for KWin to show), or the window under
// the pointer takes it (0). Both velmo are started once and rest there. In each round, in an order
// that turns by one each round: velmo on X11 runs alone, velmo on Plasma runs alone, and neither
// runs (SIGSTOP), which gives KWin's and Xwayland's own idle figures beside those with velmo.
void RestingOnPlasmaAgainstX11(benchmark::State& state) {
    std::string error;
    auto x11 = XSession::Start({}, &error);
    if (x11 == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    Display* xd = x11->display();
    const XWindow x11_window = x11->CreateClient(700, 500, 300, 200, "Resting on this window");
    x11->MovePointer(850, 600);
    const std::string x11_display = x11->display_name();
    auto on_x11 = StartVelmo({"DISPLAY=" + x11_display});

    auto kwin = KWinSession::Start(&error);
    if (kwin == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    Process native(Process::Options{
        {VELLOMAR_WAYLAND_WINDOW, "Resting on this window"}, {"QT_QPA_PLATFORM=wayland"}, {}});
    WaitUntil([&] { return kwin->PlaceWindow("Resting on this window", 700, 500, 300, 200); }, 10s);
    kwin->MovePointer(850, 600);
    auto on_plasma = StartVelmo({"WAYLAND_DISPLAY=" + std::string(std::getenv("WAYLAND_DISPLAY")),
                                 "DISPLAY=" + kwin->display_name()});

    // Form1 has the focus after start; else the window under the pointer takes it.
    std::this_thread::sleep_for(3s);
    if (state.range(2) == 0) {
        AskWindowManager(xd, x11_window, "_NET_ACTIVE_WINDOW");
        if (!WaitUntil([&] { return ActiveWindow(xd) == x11_window; }, 5s) ||
            !kwin->Activate(native.pid())) {
            state.SkipWithError("the window under the pointer did not become active");
            return;
        }
    }
    std::this_thread::sleep_for(2s);
    if (!on_x11->Running() || !on_plasma->Running()) {
        state.SkipWithError("a velmo ended early");
        return;
    }
    on_x11->Signal(SIGSTOP);
    on_plasma->Signal(SIGSTOP);

    const auto stretch = std::chrono::milliseconds(state.range(0));
    const auto rounds = static_cast<std::size_t>(state.range(1));
    const pid_t kwin_pid = kwin->kwin().pid();
    const pid_t xwayland = kwin->xwayland_pid();
    const Reader fine = &ProcessorTime;
    const Reader counted = &ProcessorTimeWithEndedThreads;
    Watch x11_turn({{on_x11->pid(), fine}, {x11->server().pid(), fine}});
    Watch plasma_turn({{on_plasma->pid(), fine}, {kwin_pid, counted}, {xwayland, fine}});
    Watch idle_turn({{kwin_pid, counted}, {xwayland, fine}});
    const auto alone = [&](Process* velmo, Watch& watch) {
        if (velmo != nullptr) {
            velmo->Signal(SIGCONT);
        }
        std::this_thread::sleep_for(300ms);  // past the tick that was due while it was stopped
        watch.Measure(stretch);
        if (velmo != nullptr) {
            velmo->Signal(SIGSTOP);
        }
    };
    double elapsed = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (std::size_t round = 0; round < rounds; ++round) {
            for (std::size_t i = 0; i < 3; ++i) {
                switch ((round + i) % 3) {
                    case 0:
                        alone(on_x11.get(), x11_turn);
                        break;
                    case 1:
                        alone(on_plasma.get(), plasma_turn);
                        break;
                    default:
                        alone(nullptr, idle_turn);
                        break;
                }
            }
        }
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    on_x11->Signal(SIGCONT);
    on_plasma->Signal(SIGCONT);
    if (!on_x11->Running() || !on_plasma->Running()) {
        state.SkipWithError("a velmo ended early");
        return;
    }
    state.SetIterationTime(elapsed);
    state.counters["velmo_x11_percent"] = Median(x11_turn.percent[0]);
    state.counters["xvfb_percent"] = Median(x11_turn.percent[1]);
    state.counters["velmo_plasma_percent"] = Median(plasma_turn.percent[0]);
    state.counters["xwayland_with_velmo_percent"] = Median(plasma_turn.percent[2]);
    state.counters["xwayland_idle_percent"] = Median(idle_turn.percent[1]);
    state.counters["velmo_plasma_per_x11"] =
        MedianRatio(plasma_turn.percent[0], x11_turn.percent[0]);
    // KWin's time comes in clock ticks and is mostly none in a turn: its mean over the run.
    state.counters["kwin_with_velmo_mean_percent"] = Mean(plasma_turn.percent[1]);
    state.counters["kwin_idle_mean_percent"] = Mean(idle_turn.percent[0]);
    on_x11->Stop();
    on_plasma->Stop();
}
BENCHMARK(RestingOnPlasmaAgainstX11)
    ->Args({2000, 30, 0})
    ->Args({2000, 30, 1})
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

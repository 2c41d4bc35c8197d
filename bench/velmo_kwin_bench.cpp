// What velmo costs on a Wayland session against what it costs on X11, in the same run: a
// headless KWin or GNOME Shell with Xwayland, and an Xvfb with openbox, one velmo on each. At
// rest: a native window under the still pointer on the compositor, an X11 window on Xvfb. Moving:
// the pointer sweeps to and fro over an X11 and a native window (two X11 windows on Xvfb) 250 times
// a second.
#include <benchmark/benchmark.h>

#include <signal.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <array>
#include <functional>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/medians.h"
#include "tests/e2e/velmo_session.h"
#include "tests/support/compositor_session.h"
#include "tests/support/sweep.h"

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

// Args: milliseconds of each turn, rounds, whether Form1 keeps the focus it has after start
// (1: the caret blinks in Text1, and each blink is a frame for the compositor to show), or the
// window under the pointer takes it (0), and the compositor (0 KWin, 1 GNOME Shell, with velmo's
// extension enabled). Both velmo are started once and rest there. In each round, in an order that
// turns by one each round: velmo on X11 runs alone, velmo on the compositor runs alone, and
// neither runs (SIGSTOP), which gives the compositor's and Xwayland's own idle figures beside
// those with velmo.
void RestingOnWaylandAgainstX11(benchmark::State& state) {
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

    const bool gnome = state.range(3) != 0;
    auto kwin = CompositorSession::Start(gnome ? Compositor::Gnome : Compositor::KWin, &error);
    if (kwin == nullptr || (gnome && !kwin->EnableExtension(kwin->ReaderExtension(), true))) {
        state.SkipWithError(kwin == nullptr ? error.c_str() : "velmo's extension was not enabled");
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
    const pid_t kwin_pid = kwin->process().pid();
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
    state.counters["velmo_wayland_percent"] = Median(plasma_turn.percent[0]);
    state.counters["xwayland_with_velmo_percent"] = Median(plasma_turn.percent[2]);
    state.counters["xwayland_idle_percent"] = Median(idle_turn.percent[1]);
    state.counters["velmo_wayland_per_x11"] =
        MedianRatio(plasma_turn.percent[0], x11_turn.percent[0]);
    // The compositor's time comes in clock ticks, as it ends threads of its pools, and is mostly
    // none in a turn: its mean over the run.
    state.counters["compositor_with_velmo_mean_percent"] = Mean(plasma_turn.percent[1]);
    state.counters["compositor_idle_mean_percent"] = Mean(idle_turn.percent[0]);
    on_x11->Stop();
    on_plasma->Stop();
}
BENCHMARK(RestingOnWaylandAgainstX11)
    ->Args({2000, 30, 0, 0})
    ->Args({2000, 30, 1, 0})
    ->Args({2000, 30, 0, 1})
    ->Args({2000, 30, 1, 1})
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// Moves the pointer of the Xvfb as kwin_input's sweep does on KWin: to and fro between two
// points, `hz` steps a second, for `seconds`.
void SweepX11(Display* d, int hz, int seconds, int x0, int y0, int x1, int y1) {
    SweepPointer(hz, seconds, x0, y0, x1, y1, [d](int x, int y) {
        XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
        XFlush(d);
    });
}

// Processor time of some processes while `during` runs, as seconds.
std::vector<double> SecondsDuring(const std::vector<std::pair<pid_t, Reader>>& processes,
                                  const std::function<void()>& during) {
    std::vector<std::chrono::nanoseconds> before;
    for (const auto& [pid, read] : processes) {
        before.push_back(read(pid));
    }
    during();
    std::vector<double> seconds;
    for (std::size_t i = 0; i < processes.size(); ++i) {
        seconds.push_back(
            std::chrono::duration<double>(processes[i].second(processes[i].first) - before[i])
                .count());
    }
    return seconds;
}

// Args: steps a second, seconds of each stretch, and where the pointer sweeps: 0 over an X11
// window (left) and a native window (right) on KWin, 1 within the native window alone: once before
// velmo starts there, once with velmo, and once after it has ended (KWin's own cost, before and
// after, averaged); then over the same places on Xvfb, where both are X11 windows, with velmo
// there. Another window than Form1 holds the focus.
void MovingOnPlasmaAgainstX11(benchmark::State& state) {
    const int hz = static_cast<int>(state.range(0));
    const int seconds = static_cast<int>(state.range(1));
    constexpr int kLeft = 100, kRight = 600, kTop = 100, kWidth = 400, kHeight = 300;
    // Across both windows, velmo's target changes and Form1 is painted anew a few times a
    // second; within the native window only the pointer changes.
    const bool across = state.range(2) == 0;
    const int x0 = across ? kLeft + 50 : kRight + 50;
    const int x1 = kRight + kWidth - 50;
    const int y = kTop + kHeight / 2;
    std::string error;
    auto x11 = XSession::Start({}, &error);
    if (x11 == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    const XWindow x11_left =
        x11->CreateClient(kLeft, kTop, kWidth, kHeight, "moving over an X11 window");
    x11->CreateClient(kRight, kTop, kWidth, kHeight, "and over another");
    auto kwin = CompositorSession::Start(Compositor::KWin, &error);
    if (kwin == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    Display* xwayland = XOpenDisplay(kwin->display_name().c_str());
    CreateTitledWindow(xwayland, kLeft, kTop, kWidth, kHeight, "moving over an X11 window");
    Process native(Process::Options{
        {VELLOMAR_WAYLAND_WINDOW, "and over a native one"}, {"QT_QPA_PLATFORM=wayland"}, {}});
    if (!WaitUntil(
            [&] {
                return kwin->PlaceWindow("moving over an X11 window", kLeft, kTop, kWidth,
                                         kHeight) &&
                       kwin->PlaceWindow("and over a native one", kRight, kTop, kWidth, kHeight);
            },
            10s)) {
        state.SkipWithError("the windows were not placed");
        return;
    }
    const pid_t kwin_pid = kwin->process().pid();
    const pid_t xwayland_pid = kwin->xwayland_pid();
    const Reader fine = &ProcessorTime;
    const Reader counted = &ProcessorTimeWithEndedThreads;
    const auto sweep_kwin = [&] {
        Process(Process::Options{
                    {VELLOMAR_KWIN_INPUT, "sweep", std::to_string(hz), std::to_string(seconds),
                     std::to_string(x0), std::to_string(y), std::to_string(x1), std::to_string(y)},
                    {},
                    {}})
            .Wait(std::chrono::seconds(seconds + 10));
    };
    std::vector<double> alone_before, with, alone_after, window_only, on_x11;
    double wall = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        alone_before = SecondsDuring({{kwin_pid, counted}, {xwayland_pid, fine}}, sweep_kwin);
        {
            auto on_plasma =
                StartVelmo({"WAYLAND_DISPLAY=" + std::string(std::getenv("WAYLAND_DISPLAY")),
                            "DISPLAY=" + kwin->display_name()});
            // Another window takes the focus from Form1, whose caret would blink: KWin renders
            // each blink, which is no cost of reading windows.
            std::this_thread::sleep_for(2s);
            if (!kwin->Activate(native.pid())) {
                state.SkipWithError("the native window did not become active");
                return;
            }
            std::this_thread::sleep_for(1s);
            with = SecondsDuring(
                {{kwin_pid, counted}, {xwayland_pid, fine}, {on_plasma->pid(), fine}}, sweep_kwin);
            if (!on_plasma->Running()) {
                state.SkipWithError("velmo on KWin ended early");
                return;
            }
            on_plasma->Stop();
        }
        std::this_thread::sleep_for(1s);
        alone_after = SecondsDuring({{kwin_pid, counted}, {xwayland_pid, fine}}, sweep_kwin);
        {
            // velmo's window without its reader: velmo on Xwayland as on any X11 desktop.
            auto without_reader = StartVelmo({"DISPLAY=" + kwin->display_name()});
            std::this_thread::sleep_for(2s);
            if (!kwin->Activate(native.pid())) {
                state.SkipWithError("the native window did not become active");
                return;
            }
            std::this_thread::sleep_for(1s);
            window_only = SecondsDuring({{kwin_pid, counted}}, sweep_kwin);
            without_reader->Stop();
        }
        auto velmo_x11 = StartVelmo({"DISPLAY=" + x11->display_name()});
        std::this_thread::sleep_for(2s);
        AskWindowManager(x11->display(), x11_left, "_NET_ACTIVE_WINDOW");
        if (!WaitUntil([&] { return ActiveWindow(x11->display()) == x11_left; }, 5s)) {
            state.SkipWithError("the X11 window did not become active");
            return;
        }
        std::this_thread::sleep_for(1s);
        on_x11 = SecondsDuring({{velmo_x11->pid(), fine}, {x11->server().pid(), fine}},
                               [&] { SweepX11(x11->display(), hz, seconds, x0, y, x1, y); });
        velmo_x11->Stop();
        wall = std::chrono::duration<double>(Clock::now() - start).count();
    }
    XCloseDisplay(xwayland);
    state.SetIterationTime(wall);
    const double kwin_alone = (alone_before[0] + alone_after[0]) / 2;
    state.counters["kwin_alone_s"] = kwin_alone;
    state.counters["kwin_with_velmo_s"] = with[0];
    state.counters["kwin_with_per_alone"] = kwin_alone > 0 ? with[0] / kwin_alone : 0;
    state.counters["kwin_velmo_without_reader_s"] = window_only[0];
    state.counters["kwin_with_per_without_reader"] =
        window_only[0] > 0 ? with[0] / window_only[0] : 0;
    state.counters["xwayland_alone_s"] = (alone_before[1] + alone_after[1]) / 2;
    state.counters["xwayland_with_velmo_s"] = with[1];
    state.counters["velmo_plasma_s"] = with[2];
    state.counters["velmo_x11_s"] = on_x11[0];
    state.counters["velmo_plasma_per_x11"] = on_x11[0] > 0 ? with[2] / on_x11[0] : 0;
    state.counters["xvfb_with_velmo_s"] = on_x11[1];
}
BENCHMARK(MovingOnPlasmaAgainstX11)
    ->Args({250, 30, 0})
    ->Args({250, 30, 1})
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

// Timer1_Timer on the X11 backend under Xvfb and openbox, with the pointer on a client's
// contents, on its title bar, among 1000 other top-level windows and over a 16 MiB title, each
// at rest and moving (coming from another window before every tick); and the script a Linux
// user would write instead, two xdotool runs a tick.
#include <benchmark/benchmark.h>

#include "target/target.h"
#include "tests/support/plain_form.h"
#include "tests/support/process.h"
#include "tests/support/x_session.h"
#include "tests/support/x_windows.h"
#include "winsys/x11_window_system.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using Form = PlainForm;

// One display for the whole run, with the window every case points at.
struct Desktop {
    std::unique_ptr<XSession> session;
    std::unique_ptr<X11WindowSystem> windows;
    Window target = 0;
    POINT contents{}, title_bar{};
    POINT elsewhere{};  // on another window, where a moving pointer comes from

    Desktop() {
        std::string error;
        session = XSession::Start({}, &error);
        if (!session) {
            std::fprintf(stderr, "x11_tick_bench: %s\n", error.c_str());
            std::exit(1);
        }
        windows = X11WindowSystem::Open(session->display_name().c_str(), &error);
        target = session->CreateClient(100, 100, 400, 300, "Benchmark target");
        RECT outer{};
        windows->GetWindowRect(target, &outer);
        contents = {(outer.left + outer.right) / 2, (outer.top + outer.bottom) / 2};
        title_bar = {contents.x, outer.top + 8};
        session->CreateClient(100, 600, 300, 200, "Elsewhere");
        elsewhere = {250, 700};
    }
};

Desktop& TheDesktop() {
    static Desktop desktop;
    return desktop;
}

// Every tick's time in µs and the round trips, by case, over all repetitions.
struct Samples {
    std::vector<double> times;
    double round_trips = 0;
    double ticks = 0;
};
std::map<std::string, Samples> samples;

double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

void Report(benchmark::State& state, const std::string& name, const std::vector<double>& times,
            double round_trips) {
    Samples& all = samples[name];
    all.times.insert(all.times.end(), times.begin(), times.end());
    all.round_trips += round_trips;
    all.ticks += static_cast<double>(times.size());
    state.counters["median_us"] = Median(times);
    if (round_trips > 0) {
        state.counters["round_trips"] = round_trips / static_cast<double>(times.size());
    }
}

// Ticks with the pointer at `at`: resting there, the timed loop is nothing but ticks; moving,
// the pointer comes from another window, and a tick there, before each timed tick.
void Ticks(benchmark::State& state, const std::string& name, POINT at) {
    Desktop& desktop = TheDesktop();
    const bool moving = state.range(0) != 0;
    desktop.session->MovePointer(at.x, at.y);
    X11WindowSystem& windows = *desktop.windows;
    Form form;
    HWND target = 0;
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(state.max_iterations));
    unsigned long round_trips = 0;
    for (auto _ : state) {
        if (moving) {
            state.PauseTiming();
            desktop.session->MovePointer(desktop.elsewhere.x, desktop.elsewhere.y);
            Timer1_Timer(windows, target, form);
            desktop.session->MovePointer(at.x, at.y);
            state.ResumeTiming();
        }
        const unsigned long before = windows.RoundTrips();
        const auto start = Clock::now();
        Timer1_Timer(windows, target, form);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        round_trips += windows.RoundTrips() - before;
    }
    if (target != desktop.target) {
        state.SkipWithError("the tick found another window");
    }
    Report(state, name + (moving ? " moving" : " resting"), times,
           static_cast<double>(round_trips));
}

void BM_Contents(benchmark::State& state) {
    Ticks(state, "a", TheDesktop().contents);
}

void BM_TitleBar(benchmark::State& state) {
    Ticks(state, "b", TheDesktop().title_bar);
}

void BM_ThousandWindows(benchmark::State& state) {
    Desktop& desktop = TheDesktop();
    // Above the target in the stacking order, none of them under the pointer.
    std::vector<Window> others;
    for (int i = 0; i < 1000; ++i) {
        others.push_back(desktop.session->CreateClient(600 + (i % 25) * 24, 100 + (i / 25) * 20, 16,
                                                       12, "other " + std::to_string(i)));
    }
    Ticks(state, "c", desktop.contents);
    Display* d = desktop.session->display();
    for (const Window w : others) {
        XDestroyWindow(d, w);
    }
    XSync(d, False);
}

void BM_HugeTitle(benchmark::State& state) {
    Desktop& desktop = TheDesktop();
    Display* d = desktop.session->display();
    std::string title;
    for (std::size_t i = 0; i < (16u << 20) / 3; ++i) {
        title += "\xE3\x81\x82";
    }
    const auto set_title = [&](const std::string& text) {
        for (const char* name : {"_NET_WM_NAME", "WM_NAME"}) {
            WriteProperty(d, desktop.target, name, "UTF8_STRING", 8, text);
        }
        XSync(d, False);
    };
    set_title(title);
    Ticks(state, "d", desktop.contents);
    set_title("Benchmark target");
}

// What a script would run each tick: where the pointer is and which window, then its name.
void BM_Xdotool(benchmark::State& state) {
    Desktop& desktop = TheDesktop();
    desktop.session->MovePointer(desktop.contents.x, desktop.contents.y);
    std::vector<double> times;
    std::string name;
    for (auto _ : state) {
        const auto start = Clock::now();
        const std::string location = RunForOutput({"xdotool", "getmouselocation"});
        const std::size_t at = location.find("window:");
        const std::string window =
            at == std::string::npos ? "0" : std::to_string(std::atol(location.c_str() + at + 7));
        name = RunForOutput({"xdotool", "getwindowname", window});
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    if (name.empty()) {
        state.SkipWithError("xdotool read no name");
    }
    Report(state, "xdotool", times, 0);
}

// Five repetitions of each, interleaved at random (see main), so that the load of a shared
// machine falls on every case alike.
// Arg 0: the pointer rests; 1: it moves.
BENCHMARK(BM_Contents)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2000)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TitleBar)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2000)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThousandWindows)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2000)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HugeTitle)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2000)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Xdotool)->Iterations(100)->Repetitions(5)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);  // a flag given later still wins
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Over all repetitions: the median tick, the round trips a tick, and the targets.
    const double a = Median(samples["a resting"].times);
    std::printf("\n%-44s %10s %12s %8s\n", "case", "median µs", "round trips", "vs (a)");
    const std::pair<const char*, const char*> cases[] = {
        {"a resting", "(a) contents, resting"},
        {"a moving", "(a) contents, moving"},
        {"b resting", "(b) title bar, resting"},
        {"b moving", "(b) title bar, moving"},
        {"c resting", "(c) 1000 other top-level windows, resting"},
        {"c moving", "(c) 1000 other top-level windows, moving"},
        {"d resting", "(d) 16 MiB title, resting"},
        {"d moving", "(d) 16 MiB title, moving"},
        {"xdotool", "xdotool getmouselocation+getwindowname"}};
    for (const auto& [key, label] : cases) {
        const Samples& c = samples[key];
        if (c.times.empty()) {
            continue;
        }
        const double median = Median(c.times);
        const std::string round_trips =
            c.round_trips > 0 ? std::to_string(c.round_trips / c.ticks).substr(0, 4) : "-";
        std::printf("%-44s %10.1f %12s %8.2f\n", label, median, round_trips.c_str(),
                    a > 0 ? median / a : 0.0);
    }
    return 0;
}

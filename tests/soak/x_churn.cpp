// A hostile X client for soak tests: for a given time it creates, renames, maps, unmaps and
// destroys windows under the pointer at a steady rate, with titles from the hostile set, moves
// the pointer across them through XTest and now and then taps Escape or Enter into the
// program under test, so that its captures and writes meet windows that are going away.
//
// Usage: x_churn --seconds S [--seed N] [--rate CHANGES_PER_SECOND] [--focus-pid PID]...
// Prints one summary line; exits 0, or 2 on bad arguments, 3 if the server goes away.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/soak/churn_mix.h"
#include "tests/soak/hostile_titles.h"
#include "tests/support/x_windows.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
    double seconds = 30;
    unsigned seed = 1;
    int rate = 200;
    std::vector<long> focus_pids;  // the programs that receive the keys, in turn
    // The part of the screen the windows and the pointer stay in, clear of the program's own
    // window near the top left.
    int left = 560, top = 40, width = 700, height = 940;
};

unsigned long g_x_errors = 0;

// Windows vanish under our own requests too; every error is expected and only counted.
int CountError(Display*, XErrorEvent*) {
    ++g_x_errors;
    return 0;
}

int ServerGone(Display*) {
    std::fputs("x_churn: lost the X server\n", stderr);
    _exit(3);
}

struct ChurnWindow {
    Window id;
    bool managed;
    bool mapped;
    int x, y, width, height;
    // What we last stored in _NET_WM_NAME, to tell a write by someone else from ours.
    Atom name_type;
    std::string name_prefix;
};

// How much of a name is compared when a change of it is noticed, in 32-bit units.
constexpr long kPrefixLongs = 16;

class Churn {
  public:
    Churn(Display* display, const Options& options)
        : d_(display),
          o_(options),
          rng_(options.seed),
          titles_(HostileTitles(true)),
          net_wm_name_(XInternAtom(d_, "_NET_WM_NAME", False)) {}

    void Run() {
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(o_.seconds));
        const auto step = std::chrono::nanoseconds(1'000'000'000 / std::max(1, o_.rate));
        auto next = Clock::now();
        auto next_key = next + 500ms;
        while (Clock::now() < end) {
            ChurnOnce(*this, Pick(1, 100));
            ++changes_;
            if (Clock::now() >= next_key) {
                TapKey();
                next_key = Clock::now() + std::chrono::milliseconds(Pick(150, 700));
            }
            XFlush(d_);
            if (changes_ % 20 == 0) {
                XSync(d_, False);
                DrainEvents();
            }
            next += step;
            const auto now = Clock::now();
            if (next > now) {
                const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now);
                timespec pause{0, static_cast<long>(wait.count())};
                nanosleep(&pause, nullptr);
            } else if (now - next > 1s) {
                next = now;  // fell behind (a huge title); do not burst to catch up
            }
        }
        for (const ChurnWindow& w : windows_) {
            XDestroyWindow(d_, w.id);
        }
        XSync(d_, False);
        std::printf("x_churn: seed=%u changes=%lu keys=%lu foreign_writes=%lu x_errors=%lu\n",
                    o_.seed, changes_, keys_, foreign_writes_, g_x_errors);
    }

  private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }

    template <typename C>
    friend void ::ChurnOnce(C& churn, int roll);
    std::size_t Count() const { return windows_.size(); }
    void ShowOrHide(std::size_t index) {
        ChurnWindow& w = windows_[index];
        if (w.mapped) {
            XUnmapWindow(d_, w.id);
        } else {
            XMapRaised(d_, w.id);
        }
        w.mapped = !w.mapped;
    }
    void DropTitle(std::size_t index) {
        ChurnWindow& w = windows_[index];
        XDeleteProperty(d_, w.id, net_wm_name_);
        XDeleteProperty(d_, w.id, XA_WM_NAME);
        w.name_type = None;
        w.name_prefix.clear();
    }
    void Move(std::size_t index) {
        ChurnWindow& w = windows_[index];
        w.x = o_.left + Pick(0, o_.width - w.width);
        w.y = o_.top + Pick(0, o_.height - w.height);
        XMoveWindow(d_, w.id, w.x, w.y);
    }

    // Half of the time the window under the pointer, else any.
    std::size_t Target() {
        if (Chance(50)) {
            for (std::size_t i = windows_.size(); i-- > 0;) {
                const ChurnWindow& w = windows_[i];
                if (w.mapped && pointer_x_ >= w.x && pointer_x_ < w.x + w.width &&
                    pointer_y_ >= w.y && pointer_y_ < w.y + w.height) {
                    return i;
                }
            }
        }
        return static_cast<std::size_t>(Pick(0, static_cast<int>(windows_.size()) - 1));
    }

    void Create() {
        ChurnWindow w{};
        w.managed = Chance(50);
        w.width = Pick(40, 320);
        w.height = Pick(30, 220);
        if (Chance(50)) {  // appear right under the pointer
            w.x = std::clamp(pointer_x_ - Pick(0, w.width - 1), o_.left,
                             o_.left + o_.width - w.width);
            w.y = std::clamp(pointer_y_ - Pick(0, w.height - 1), o_.top,
                             o_.top + o_.height - w.height);
        } else {
            w.x = o_.left + Pick(0, o_.width - w.width);
            w.y = o_.top + Pick(0, o_.height - w.height);
        }
        XSetWindowAttributes a{};
        a.background_pixel = static_cast<unsigned long>(Pick(0, 0xffffff));
        a.override_redirect = w.managed ? False : True;
        a.event_mask = PropertyChangeMask;
        w.id = XCreateWindow(d_, DefaultRootWindow(d_), w.x, w.y, static_cast<unsigned>(w.width),
                             static_cast<unsigned>(w.height), 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWBackPixel | CWOverrideRedirect | CWEventMask, &a);
        if (w.managed) {
            // Never take the keyboard focus from the program under test.
            XWMHints wm{};
            wm.flags = InputHint;
            wm.input = False;
            XSetWMHints(d_, w.id, &wm);
            XSizeHints size{};
            size.flags = USPosition | PPosition;
            size.x = w.x;
            size.y = w.y;
            XSetWMNormalHints(d_, w.id, &size);
            const long user_time = 0;
            XChangeProperty(d_, w.id, XInternAtom(d_, "_NET_WM_USER_TIME", False), XA_CARDINAL, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(&user_time), 1);
        }
        windows_.push_back(w);
        SetTitle(windows_.back());
        if (Chance(85)) {
            XMapRaised(d_, w.id);
            windows_.back().mapped = true;
        }
    }

    void Destroy(std::size_t index) {
        XDestroyWindow(d_, windows_[index].id);
        windows_.erase(windows_.begin() + static_cast<std::ptrdiff_t>(index));
    }

    const HostileTitle& ChooseTitle() {
        for (;;) {
            const HostileTitle& t =
                titles_[static_cast<std::size_t>(Pick(0, static_cast<int>(titles_.size()) - 1))];
            if (t.bytes.size() < (1u << 20)) {
                return t;
            }
            // Big titles take the server a while to store; keep them to a few a second.
            const auto now = Clock::now();
            if (now - last_big_ > (t.bytes.size() >= kHugeTitleBytes ? 3s : 500ms)) {
                last_big_ = now;
                return t;
            }
        }
    }

    void SetTitle(std::size_t index) { SetTitle(windows_[index]); }
    void SetTitle(ChurnWindow& w) {
        const HostileTitle& t = ChooseTitle();
        const Atom type = XInternAtom(d_, t.x_type, False);
        const int roll = Pick(1, 3);  // 1: _NET_WM_NAME, 2: WM_NAME, 3: both
        if (roll != 2) {
            WriteProperty(d_, w.id, "_NET_WM_NAME", t.x_type, t.x_format, t.bytes);
            w.name_type = type;
            w.name_prefix = t.bytes.substr(0, kPrefixLongs * 4);
        }
        if (roll != 1) {
            WriteProperty(d_, w.id, "WM_NAME", t.x_type, t.x_format, t.bytes);
        }
    }

    void MovePointer() {
        std::vector<const ChurnWindow*> mapped;
        for (const ChurnWindow& w : windows_) {
            if (w.mapped) {
                mapped.push_back(&w);
            }
        }
        if (mapped.empty() || Chance(10)) {
            pointer_x_ = o_.left + Pick(0, o_.width - 1);
            pointer_y_ = o_.top + Pick(0, o_.height - 1);
        } else {
            const ChurnWindow& w =
                *mapped[static_cast<std::size_t>(Pick(0, static_cast<int>(mapped.size()) - 1))];
            // Managed windows are also hit on their frame and title bar, just above them.
            pointer_x_ = w.x + Pick(0, w.width - 1);
            pointer_y_ = std::max(0, w.y - (w.managed ? Pick(0, 20) : 0) + Pick(0, w.height - 1));
        }
        XTestFakeMotionEvent(d_, -1, pointer_x_, pointer_y_, CurrentTime);
    }

    void TapKey() {
        ActivateProgram();
        const KeyCode code = XKeysymToKeycode(d_, Chance(50) ? XK_Escape : XK_Return);
        XTestFakeKeyEvent(d_, code, True, CurrentTime);
        XTestFakeKeyEvent(d_, code, False, CurrentTime);
        ++keys_;
    }

    // Asks the window manager to give the focus to the next program under test, found by its
    // process id among the managed windows, so that the keys reach it.
    void ActivateProgram() {
        if (o_.focus_pids.empty()) {
            return;
        }
        const auto focus_pid = static_cast<pid_t>(o_.focus_pids[keys_ % o_.focus_pids.size()]);
        if (const XWindow window = FindClientOf(d_, focus_pid); window != 0) {
            AskWindowManager(d_, window, "_NET_ACTIVE_WINDOW");
        }
    }

    // Counts the changes to _NET_WM_NAME that we did not make: the writes of the program under
    // test. A change of ours overtaken by a later one of ours still reads as ours.
    void DrainEvents() {
        while (XPending(d_) > 0) {
            XEvent e;
            XNextEvent(d_, &e);
            if (e.type != PropertyNotify || e.xproperty.atom != net_wm_name_ ||
                e.xproperty.state != PropertyNewValue) {
                continue;
            }
            const auto w = std::find_if(windows_.begin(), windows_.end(),
                                        [&](const auto& c) { return c.id == e.xproperty.window; });
            if (w == windows_.end()) {
                continue;
            }
            const XProperty now = ReadProperty(d_, w->id, "_NET_WM_NAME", kPrefixLongs);
            if (now.type != None && (now.type != w->name_type || now.data != w->name_prefix)) {
                ++foreign_writes_;
                w->name_type = now.type;  // count each write once
                w->name_prefix = now.data;
            }
        }
    }

    Display* d_;
    Options o_;
    std::mt19937 rng_;
    std::vector<HostileTitle> titles_;
    Atom net_wm_name_;
    std::vector<ChurnWindow> windows_;
    int pointer_x_ = 0, pointer_y_ = 0;
    Clock::time_point last_big_{};
    unsigned long changes_ = 0, keys_ = 0, foreign_writes_ = 0;
};

bool ParseArguments(int argc, char** argv, Options* o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        char* end = nullptr;
        const double value = std::strtod(argv[i + 1], &end);
        if (end == argv[i + 1] || *end != '\0' || value < 0) {
            return false;
        }
        if (name == "--seconds") {
            o->seconds = value;
        } else if (name == "--seed") {
            o->seed = static_cast<unsigned>(value);
        } else if (name == "--rate") {
            o->rate = static_cast<int>(value);
        } else if (name == "--focus-pid") {
            o->focus_pids.push_back(static_cast<long>(value));
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, &options)) {
        std::fputs(
            "usage: x_churn --seconds S [--seed N] [--rate CHANGES_PER_SECOND] [--focus-pid "
            "PID]...\n",
            stderr);
        return 2;
    }
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        std::fputs("x_churn: cannot open the display\n", stderr);
        return 3;
    }
    XSetErrorHandler(CountError);
    XSetIOErrorHandler(ServerGone);
    Churn(d, options).Run();
    XCloseDisplay(d);
    return 0;
}

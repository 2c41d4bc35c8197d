// The real velmo on a headless KWin or GNOME Shell with Xwayland, as on Plasma's or GNOME's
// Wayland session: native Wayland windows and X11 windows of the test's own, the pointer and
// the keys driven through KWin's fake input or Mutter's remote-desktop session as a user's
// devices would, velmo watched from outside. Built once for each compositor
// (VELLOMAR_ON_GNOME). Then, on KWin, two velmo side by side and the scripts of velmo processes
// that were killed; on GNOME, the extension disabled under velmo and never enabled.
#include <gtest/gtest.h>
#include <signal.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "tests/e2e/velmo_session.h"
#include "tests/support/compositor_session.h"

namespace {

using namespace std::chrono_literals;

constexpr Compositor kCompositor = VELLOMAR_ON_GNOME ? Compositor::Gnome : Compositor::KWin;
// Linux input codes, as KWin's fake input and Mutter's remote desktop take them.
constexpr int kEscape = 1;
constexpr int kEnter = 28;
constexpr int kShift = 42;
// velmo's native handles start above the 29 bits of X window ids.
constexpr XWindow kFirstNativeHandle = 0x20000000;

// Desktop: a window of the desktop's type, over the whole screen, while a step shows the desktop.
enum class Where { Native, LongNative, Alpha, Bravo, Nowhere, Desktop };

// Titles, and where each window lies: clear of Form1, which KWin puts near the top left.
const std::map<Where, std::string> kTitles = {
    {Where::Native, "native ✓ 窓"},
    // Longer than the 99 bytes velmo reads of a title at each tick.
    {Where::LongNative, "long " +
                            [] {
                                std::string s;
                                for (int i = 0; i < 40; ++i) {
                                    s += "長";
                                }
                                return s;
                            }()},
    {Where::Alpha, "x11 alpha"},
    {Where::Bravo, "x11 bravo"},
};
// None covers 640, 512, where Xwayland has the pointer until it first enters an X11 window.
const std::map<Where, std::pair<int, int>> kOrigins = {{Where::Native, {600, 100}},
                                                       {Where::LongNative, {950, 100}},
                                                       {Where::Alpha, {600, 560}},
                                                       {Where::Bravo, {950, 560}}};
constexpr int kWidth = 300;
constexpr int kHeight = 250;

std::pair<int, int> PointOver(Where where) {
    if (where == Where::Nowhere) {
        return {1200, 1000};
    }
    const auto [x, y] = kOrigins.at(where);
    return {x + kWidth / 2, y + kHeight / 2};
}

bool IsNative(Where where) {
    return where == Where::Native || where == Where::LongNative;
}

// The top of Form1 above Label2, where only Label1 is painted, as pixels.
std::vector<unsigned long> Label1Pixels(Display* d, XWindow form) {
    const XRect label2 = LayoutRect(layout::kLabel2, 96);
    return FormPixels(d, form, {0, 0, layout::TwipsToPixels(layout::kClientWidth, 96), label2.y});
}

// The bus name of a velmo's reader: on GNOME its connection's, which the extension holds as its
// one subscriber; else as its script in the runtime directory names it.
std::string ReaderBusName(CompositorSession& session, pid_t velmo) {
    if (kCompositor == Compositor::Gnome) {
        return session
            .Evaluate("[...Main.extensionManager.lookup('" + session.ReaderExtension() +
                      "').stateObj._reader._subscribers.keys()].join(' ')")
            .value_or("");
    }
    std::ifstream script(std::string(std::getenv("XDG_RUNTIME_DIR")) + "/velmo-kwin/velmo-kwin-" +
                         std::to_string(velmo) + ".js");
    std::string head;
    std::getline(script, head);
    const std::string key = "\"service\":\"";
    const auto at = head.find(key);
    return at == std::string::npos
               ? ""
               : head.substr(at + key.size(), head.find('"', at + key.size()) - at - key.size());
}

// One compositor for the whole suite, with its windows and one velmo.
class Wayland : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { SetUpSession(true); }
    // On GNOME, with velmo's extension enabled or only installed; with it only installed, the
    // pointer is on no window until velmo runs.
    static void SetUpSession(bool reader) {
        reader_ = reader || kCompositor == Compositor::KWin;
        std::string error;
        kwin_ = CompositorSession::Start(kCompositor, &error).release();
        if (kwin_ == nullptr) {
            start_error_ = new std::string(error);
            return;
        }
        const auto [nx, ny] = PointOver(Where::Nowhere);
        if ((reader_ && kCompositor == Compositor::Gnome &&
             !kwin_->EnableExtension(kwin_->ReaderExtension(), true)) ||
            (!reader_ && !kwin_->MovePointer(nx, ny))) {
            start_error_ = new std::string("velmo's extension not enabled, or the pointer stuck");
            return;
        }
        display_ = XOpenDisplay(nullptr);
        for (const auto& [where, title] : kTitles) {
            const auto [x, y] = kOrigins.at(where);
            if (IsNative(where)) {
                natives_[where] = new Process(Process::Options{
                    {VELLOMAR_WAYLAND_WINDOW, title}, {"QT_QPA_PLATFORM=wayland"}, {}});
            } else {
                x11_[where] = CreateTitledWindow(display_, x, y, kWidth, kHeight, title);
            }
            if (!WaitUntil([&] { return kwin_->PlaceWindow(title, x, y, kWidth, kHeight); }, 10s)) {
                start_error_ = new std::string("\"" + title + "\" could not be placed");
                return;
            }
        }
        velmo_ = StartWaylandVelmo().release();
        // How Label1 looks with nothing after its caption, and with the padlock.
        const XWindow form = Form(*velmo_);
        if (form == 0 || !kwin_->MovePointer(nx, ny) ||
            !Label2Settles(display_, form, 96, std::chrono::steady_clock::now(), nullptr, 5s)) {
            return;
        }
        plain_label1_ = Label1Pixels(display_, form);
        if (!reader_) {
            return;
        }
        const auto [x, y] = PointOver(Where::Native);
        kwin_->MovePointer(x, y);
        if (WaitUntil([&] { return Label1Pixels(display_, form) != plain_label1_; }, 5s)) {
            padlock_label1_ = Label1Pixels(display_, form);
        }
        rested_[velmo_->pid()] = Where::Native;
    }
    // Each suite has a compositor of its own.
    static void TearDownTestSuite() {
        delete std::exchange(velmo_, nullptr);
        for (auto& [where, process] : natives_) {
            delete process;
        }
        natives_.clear();
        x11_.clear();
        plain_label1_.clear();
        padlock_label1_.clear();
        rested_.clear();
        pointer_ = {};
        if (display_ != nullptr) {
            XCloseDisplay(std::exchange(display_, nullptr));
        }
        delete std::exchange(kwin_, nullptr);
        delete std::exchange(start_error_, nullptr);
    }
    void SetUp() override {
        if (start_error_ != nullptr) {
            FAIL() << "the headless compositor: " << *start_error_;
        }
        ASSERT_NE(display_, nullptr);
        ASSERT_TRUE(velmo_->Running()) << velmo_->Stderr();
        ASSERT_NE(Form(*velmo_), 0u);
        ASSERT_FALSE(plain_label1_.empty());
        ASSERT_TRUE(padlock_label1_.empty() != reader_) << "no padlock over the native window";
    }

    // A velmo on the session's Wayland display.
    static std::unique_ptr<Process> StartWaylandVelmo() {
        auto velmo = StartVelmo({"WAYLAND_DISPLAY=" + std::string(std::getenv("WAYLAND_DISPLAY"))});
        WaitUntil([&] { return !velmo->Running() || Form(*velmo) != 0; }, 15s);
        return velmo;
    }
    static XWindow Form(Process& velmo) { return FindClientOf(display_, velmo.pid()); }

    // Rests the pointer over `where` and waits until `velmo` shows what it sees there, as
    // `seen` (a window hidden, or nothing, where the desktop is shown): Label2 settles, and
    // changes where the title there differs from the one it showed; the padlock shows over a
    // native window alone. False if not within 5 s.
    static std::string RestOver(Where where, Process& velmo = *velmo_,
                                std::optional<Where> seen = std::nullopt) {
        const Where as = seen.value_or(where);
        const XWindow form = Form(velmo);
        const std::pair<int, int> point = PointOver(where);
        const auto last = rested_.find(velmo.pid());
        // Over no window Label2 keeps its text.
        const bool differs = point != pointer_ && as != Where::Nowhere &&
                             (last == rested_.end() || Title(last->second) != Title(as));
        // What Label2 shows of the window it last showed, whose title may just have changed.
        if (differs &&
            !Label2Settles(display_, form, 96, std::chrono::steady_clock::now(), nullptr, 5s)) {
            return "Label2 did not settle before the pointer moved";
        }
        const std::vector<unsigned long> before = Label2Pixels(display_, form, 96);
        if (!kwin_->MovePointer(point.first, point.second)) {
            return "the pointer did not get there";
        }
        pointer_ = point;
        if (!Label2Settles(display_, form, 96, std::chrono::steady_clock::now(),
                           differs ? &before : nullptr, 5s)) {
            return differs ? "Label2 did not come to show \"" + Title(as) + "\""
                           : "Label2 did not settle";
        }
        // Where velmo sees no window at all (not where the desktop stands in for one).
        if (as == Where::Nowhere && (where == Where::Nowhere || IsNative(where)) &&
            Label2Pixels(display_, form, 96) != before) {
            return "Label2 did not keep its text over no window it can see";
        }
        if ((Label1Pixels(display_, form) == padlock_label1_) != IsNative(as)) {
            return IsNative(as) ? "no padlock over a native window"
                                : "a padlock over an X11 window";
        }
        if (as != Where::Nowhere) {
            rested_[velmo.pid()] = as;
        }
        return "";
    }

    static std::string Title(Where where) {
        if (where == Where::Nowhere) {
            return "";
        }
        if (where == Where::Desktop) {
            return ReadProperty(display_, desktop_, "_NET_WM_NAME").data;
        }
        if (IsNative(where)) {
            return kwin_->CaptionOf(natives_.at(where)->pid());
        }
        return ReadProperty(display_, x11_.at(where), "_NET_WM_NAME").data;
    }

    static inline CompositorSession* kwin_ = nullptr;
    static inline bool reader_ = true;  // velmo's extension enabled, on GNOME
    static inline std::string* start_error_ = nullptr;
    static inline Display* display_ = nullptr;
    static inline std::map<Where, Process*> natives_;
    static inline std::map<Where, XWindow> x11_;
    static inline Process* velmo_ = nullptr;
    static inline std::vector<unsigned long> plain_label1_;
    static inline std::vector<unsigned long> padlock_label1_;
    static inline std::map<pid_t, Where> rested_;  // where each velmo last showed a window
    static inline std::pair<int, int> pointer_;
    static inline XWindow desktop_ = 0;
};

// ---- Capturing, writing and keeping, over native and X11 windows ------------------------------

// What happens at a step once the pointer rests, before its keys.
enum class Event {
    Nothing,
    ShowDesktop,  // a desktop window appears and KWin shows the desktop: every other hidden
    Touch,        // a touch on the screen: a new input device appears after velmo started
    Forge,        // another client of the bus tells velmo that Bravo lies under the pointer
    // GNOME: velmo's extension is disabled under velmo (which says so once) or enabled again;
    // while it is off native windows are as no window.
    StopReader,
    StartReader,
};

// How often `fragment` appears in `text`.
std::size_t Count(const std::string& text, const std::string& fragment) {
    std::size_t n = 0;
    for (auto at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) {
        ++n;
    }
    return n;
}

struct Step {
    Where where;
    std::vector<int> keys;  // pressed together; none and no event: the application sets its
                            // own title
    Event event = Event::Nothing;
};

struct UseCase {
    const char* name;
    std::vector<Step> steps;
    std::map<Where, std::string> expected;  // titles that change; every other one stays
};

void PrintTo(const UseCase& row, std::ostream* out) {
    *out << row.name;
}

class OnWayland : public Wayland, public ::testing::WithParamInterface<UseCase> {};

TEST_P(OnWayland, KeysActOnTheWindowUnderThePointerNativeOrX11) {
    const UseCase& row = GetParam();
    ASSERT_TRUE(kwin_->Activate(velmo_->pid()));
    // Each X11 window is given back its first title, which also ends keeping it.
    for (const auto& [where, window] : x11_) {
        ASSERT_EQ("", RestOver(where));
        ASSERT_TRUE(kwin_->PressKeys({kShift, kEscape}));
        SetTitle(display_, window, kTitles.at(where));
    }
    bool desktop_shown = false;
    bool reader_stopped = false;
    const std::string stopped = "GNOME Shell's extension stopped reporting";
    for (const Step& step : row.steps) {
        ASSERT_EQ("", RestOver(step.where, *velmo_,
                               desktop_shown || (reader_stopped && IsNative(step.where))
                                   ? std::optional(Where::Nowhere)
                                   : std::nullopt))
            << "over window " << static_cast<int>(step.where);
        const auto [x, y] = PointOver(step.where);
        switch (step.event) {
            case Event::Nothing:
                if (step.keys.empty()) {
                    SetTitle(display_, x11_.at(step.where), "set by the application");
                }
                break;
            case Event::ShowDesktop:
                desktop_ = CreateTitledWindow(display_, 0, 0, 1280, 1024, "the desktop",
                                              "_NET_WM_WINDOW_TYPE_DESKTOP");
                ASSERT_TRUE(WaitUntil(
                    [] { return kwin_->PlaceWindow("the desktop", 0, 0, 1280, 1024); }, 5s));
                desktop_shown = true;
                ASSERT_TRUE(kwin_->ShowDesktop(true));
                break;
            case Event::Touch: {
                // Away from every window, which a touch would activate.
                const auto [tx, ty] = PointOver(Where::Nowhere);
                ASSERT_TRUE(kwin_->Touch(tx, ty));
                ASSERT_TRUE(kwin_->Activate(velmo_->pid()));
                ASSERT_TRUE(kwin_->MovePointer(x, y));
                break;
            }
            case Event::Forge: {
                const std::string report =
                    R"({"pointer":[)" + std::to_string(x) + "," + std::to_string(y) +
                    R"(],"under":"forged","windows":[{"id":"forged","caption":"forged","frame":[)" +
                    std::to_string(x - 10) + "," + std::to_string(y - 10) + R"(,20,20],"xid":)" +
                    std::to_string(x11_.at(Where::Bravo)) + "}]}";
                const std::string reply = RunForOutput(
                    {"dbus-send", "--session", "--print-reply",
                     "--dest=" + ReaderBusName(*kwin_, velmo_->pid()), "/Reader",
                     kCompositor == Compositor::Gnome ? "org.vellomar.GnomeReader.Report"
                                                      : "org.vellomar.KWinReader.Report",
                     "string:" + report});
                ASSERT_NE(reply.find("method return"), std::string::npos) << reply;
                std::this_thread::sleep_for(300ms);
                break;
            }
            case Event::StopReader:
                ASSERT_TRUE(kwin_->EnableExtension(kwin_->ReaderExtension(), false));
                reader_stopped = true;
                EXPECT_TRUE(WaitUntil(
                    [&] {
                        return Count(velmo_->Stderr(), "velmo: " + stopped) > 0 &&
                               Count(kwin_->Notifications("Vellomar"), stopped) > 0;
                    },
                    5s))
                    << velmo_->Stderr();
                break;
            case Event::StartReader:
                ASSERT_TRUE(kwin_->EnableExtension(kwin_->ReaderExtension(), true));
                reader_stopped = false;
                EXPECT_TRUE(WaitUntil(
                    [] { return Label1Pixels(display_, Form(*velmo_)) == padlock_label1_; }, 5s))
                    << "the native window is not read again";
                break;
        }
        if (!step.keys.empty()) {
            ASSERT_TRUE(kwin_->PressKeys(step.keys));
        }
    }
    const auto expected = [&](Where where) {
        const auto it = row.expected.find(where);
        return it != row.expected.end() ? it->second : kTitles.at(where);
    };
    const auto all_as_expected = [&] {
        for (const auto& [where, title] : kTitles) {
            if (Title(where) != expected(where)) {
                return false;
            }
        }
        return true;
    };
    WaitUntil(all_as_expected, 3s);
    std::this_thread::sleep_for(300ms);
    for (const auto& [where, title] : kTitles) {
        EXPECT_EQ(Title(where), expected(where)) << title;
    }
    EXPECT_TRUE(velmo_->Running()) << velmo_->Stderr();
    // Said once, however long it lasted.
    EXPECT_LE(Count(velmo_->Stderr(), stopped), 1u);
    EXPECT_LE(Count(kwin_->Notifications("Vellomar"), stopped), 1u);
    if (reader_stopped) {
        EXPECT_TRUE(kwin_->EnableExtension(kwin_->ReaderExtension(), true));
    }
    if (desktop_shown) {
        EXPECT_TRUE(kwin_->ShowDesktop(false));
        XDestroyWindow(display_, std::exchange(desktop_, 0));
        XSync(display_, False);
    }
}

std::string CutAtCharacter(const std::string& text, std::size_t max) {
    std::size_t n = std::min(text.size(), max);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    return text.substr(0, n);
}

// The rows whose events this compositor has: KWin shows the desktop and takes touches; velmo's
// extension can be disabled and enabled again on GNOME alone.
std::vector<UseCase> On(Compositor compositor, std::vector<UseCase> rows) {
    std::erase_if(rows, [&](const UseCase& row) {
        return std::any_of(row.steps.begin(), row.steps.end(), [&](const Step& step) {
            const bool kwin_only = step.event == Event::ShowDesktop || step.event == Event::Touch;
            const bool gnome_only =
                step.event == Event::StopReader || step.event == Event::StartReader;
            return compositor == Compositor::Gnome ? kwin_only : gnome_only;
        });
    });
    return rows;
}

std::vector<UseCase> Rows() {
    return {
        UseCase{"EscapeOverANativeWindowCapturesItsCaption",
                {{Where::Native, {kEscape}}, {Where::Alpha, {kEnter}}},
                {{Where::Alpha, kTitles.at(Where::Native)}}},
        UseCase{"ALongNativeCaptionIsReadUpToACharacterBoundary",
                {{Where::LongNative, {kEscape}}, {Where::Alpha, {kEnter}}},
                {{Where::Alpha, CutAtCharacter(kTitles.at(Where::LongNative), 99)}}},
        UseCase{"EnterWritesAnX11WindowCapturedFromAnother",
                {{Where::Bravo, {kEscape}}, {Where::Alpha, {kEnter}}},
                {{Where::Alpha, kTitles.at(Where::Bravo)}}},
        UseCase{"ShiftEnterKeepsAnX11WindowsTitleAgainstTheApplication",
                {{Where::Bravo, {kEscape}}, {Where::Alpha, {kShift, kEnter}}, {Where::Alpha, {}}},
                {{Where::Alpha, kTitles.at(Where::Bravo)}}},
        UseCase{"ShiftEscapeGivesAnX11WindowItsTitleBack",
                {{Where::Bravo, {kEscape}},
                 {Where::Alpha, {kShift, kEnter}},
                 {Where::Alpha, {kShift, kEscape}}},
                {}},
        // Neither a write nor a write-and-keep reaches a native window, and velmo runs on.
        UseCase{"NothingWritesANativeWindow",
                {{Where::Bravo, {kEscape}},
                 {Where::Native, {kEnter}},
                 {Where::Native, {kShift, kEnter}},
                 {Where::Nowhere, {kEnter}}},
                {}},
        // While the desktop is shown, the window that was under the pointer is no target: the
        // desktop is.
        UseCase{"NothingIsWrittenWhileTheDesktopIsShown",
                {{Where::Bravo, {kEscape}},
                 {Where::Bravo, {}, Event::ShowDesktop},
                 {Where::Alpha, {kEnter}}},
                {}},
        UseCase{
            "AnInputDeviceAddedAfterStartEndsNothing",
            {{Where::Alpha, {}, Event::Touch}, {Where::Bravo, {kEscape}}, {Where::Alpha, {kEnter}}},
            {{Where::Alpha, kTitles.at(Where::Bravo)}}},
        // Only the compositor is heard: a report from anyone else, naming Bravo, is not taken.
        UseCase{"AReportFromAnotherClientIsIgnored",
                {{Where::Alpha, {kEscape}}, {Where::Native, {kEnter}, Event::Forge}},
                {}},
        // Without the extension velmo reads X11 windows alone, and reads native ones again once
        // it is back.
        UseCase{
            "WhileTheExtensionIsDisabledOnlyX11WindowsAreRead",
            {{Where::Alpha, {}, Event::StopReader},
             {Where::Bravo, {kEscape}},
             {Where::Alpha, {kEnter}},
             {Where::Native, {}, Event::StartReader},
             {Where::Native, {kEscape}},
             {Where::Bravo, {kEnter}}},
            {{Where::Alpha, kTitles.at(Where::Bravo)}, {Where::Bravo, kTitles.at(Where::Native)}}}};
}

INSTANTIATE_TEST_SUITE_P(Cases, OnWayland, ::testing::ValuesIn(On(kCompositor, Rows())),
                         [](const auto& row) { return row.param.name; });

TEST_F(Wayland, Label1ShowsAPadlockWhileTheTargetCannotBeWritten) {
    const XWindow form = Form(*velmo_);
    ASSERT_EQ("", RestOver(Where::Bravo));
    std::this_thread::sleep_for(200ms);
    const std::vector<unsigned long> writable = Label1Pixels(display_, form);
    ASSERT_FALSE(writable.empty());
    ASSERT_EQ("", RestOver(Where::Native));
    EXPECT_TRUE(WaitUntil([&] { return Label1Pixels(display_, form) != writable; }, 2s));
    ASSERT_EQ("", RestOver(Where::Nowhere));
    EXPECT_TRUE(WaitUntil([&] { return Label1Pixels(display_, form) == writable; }, 2s));
}

#if !VELLOMAR_ON_GNOME
// ---- More than one velmo, and velmo killed ----------------------------------------------------

std::string ScriptOf(const Process& velmo) {
    return "velmo-kwin-" + std::to_string(velmo.pid());
}

TEST_F(Wayland, TwoVelmoReadSideBySideAndTheSecondUnloadsItsScriptAtItsEnd) {
    std::unique_ptr<Process> second = StartWaylandVelmo();
    ASSERT_NE(Form(*second), 0u) << second->Stderr();
    EXPECT_TRUE(kwin_->ScriptLoaded(ScriptOf(*velmo_)));
    EXPECT_TRUE(kwin_->ScriptLoaded(ScriptOf(*second)));
    for (const Where where : {Where::Native, Where::Alpha}) {
        ASSERT_EQ("", RestOver(where, *second));
        EXPECT_EQ("", RestOver(where, *velmo_));
    }
    const std::string script = ScriptOf(*second);
    second->Stop();
    EXPECT_EQ(second->Wait(5s), 0) << "SIGTERM ends velmo as closing its window does";
    EXPECT_FALSE(kwin_->ScriptLoaded(script));
    EXPECT_TRUE(kwin_->ScriptLoaded(ScriptOf(*velmo_)));
    EXPECT_EQ("", RestOver(Where::Native));
}

// KWin tells no one when a script goes; velmo asks, says so once, and runs on.
TEST_F(Wayland, AScriptUnloadedUnderAVelmoIsNoticedWithinTwoSeconds) {
    std::unique_ptr<Process> velmo = StartWaylandVelmo();
    ASSERT_NE(Form(*velmo), 0u) << velmo->Stderr();
    const std::string script = ScriptOf(*velmo);
    ASSERT_TRUE(kwin_->ScriptLoaded(script));
    RunForOutput({"dbus-send", "--session", "--print-reply", "--dest=org.kde.KWin", "/Scripting",
                  "org.kde.kwin.Scripting.unloadScript", "string:" + script});
    ASSERT_FALSE(kwin_->ScriptLoaded(script));
    const auto said = [&] { return Count(velmo->Stderr(), "KWin stopped reporting"); };
    EXPECT_TRUE(WaitUntil([&] { return said() > 0; }, 2500ms)) << velmo->Stderr();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(said(), 1u);
    EXPECT_TRUE(velmo->Running());
}

struct KilledCase {
    const char* name;
    bool next_velmo;  // another velmo starts; else the pointer moves
};

class Killed : public Wayland, public ::testing::WithParamInterface<KilledCase> {};

TEST_P(Killed, TheScriptOfAKilledVelmoGoes) {
    std::unique_ptr<Process> killed = StartWaylandVelmo();
    ASSERT_NE(Form(*killed), 0u) << killed->Stderr();
    const std::string script = ScriptOf(*killed);
    ASSERT_TRUE(kwin_->ScriptLoaded(script));
    killed->Signal(SIGKILL);
    killed->Wait(5s);
    ASSERT_TRUE(kwin_->ScriptLoaded(script));
    std::unique_ptr<Process> next;
    if (GetParam().next_velmo) {
        next = StartWaylandVelmo();
        ASSERT_NE(Form(*next), 0u) << next->Stderr();
    } else {
        // The script notices that its reports go unanswered.
        WaitUntil(
            [&] {
                for (const Where where : {Where::Alpha, Where::Bravo}) {
                    const auto [x, y] = PointOver(where);
                    kwin_->MovePointer(x, y);
                }
                return !kwin_->ScriptLoaded(script);
            },
            10s);
    }
    EXPECT_FALSE(kwin_->ScriptLoaded(script));
    EXPECT_TRUE(kwin_->ScriptLoaded(ScriptOf(*velmo_)));
}

INSTANTIATE_TEST_SUITE_P(Cases, Killed,
                         ::testing::Values(KilledCase{"WhenThePointerMoves", false},
                                           KilledCase{"WhenTheNextVelmoStarts", true}),
                         [](const auto& row) { return row.param.name; });

#else
// ---- velmo's extension installed and never enabled --------------------------------------------

class NotEnabled : public Wayland {
  protected:
    static void SetUpTestSuite() { SetUpSession(false); }
};

// The first test of its suite: the pointer has been on no X11 window since the shell started,
// so Xwayland still has it on Mutter's full-screen guard window, which is no window to show.
TEST_F(NotEnabled, VelmoSaysOnceHowToEnableItAndReadsX11Windows) {
    const XWindow form = Form(*velmo_);
    ASSERT_TRUE(Label2Settles(display_, form, 96, std::chrono::steady_clock::now(), nullptr, 5s));
    EXPECT_FALSE(ShowsText(Label2Pixels(display_, form, 96)))
        << "Label2 shows a window the pointer is not on";
    const std::string command = "gnome-extensions enable " + kwin_->ReaderExtension();
    EXPECT_TRUE(
        WaitUntil([&] { return Count(kwin_->Notifications("Vellomar"), command) > 0; }, 5s));
    ASSERT_EQ("", RestOver(Where::Bravo));
    ASSERT_TRUE(kwin_->Activate(velmo_->pid()));
    ASSERT_TRUE(kwin_->PressKeys({kEscape}));
    ASSERT_EQ("", RestOver(Where::Alpha));
    ASSERT_TRUE(kwin_->PressKeys({kEnter}));
    EXPECT_TRUE(WaitUntil([] { return Title(Where::Alpha) == kTitles.at(Where::Bravo); }, 3s));
    EXPECT_EQ(Count(velmo_->Stderr(), "is not enabled; enable it with: " + command), 1u)
        << velmo_->Stderr();
    EXPECT_EQ(Count(kwin_->Notifications("Vellomar"), command), 1u);
}
#endif

}  // namespace

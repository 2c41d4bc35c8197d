// The real velmo under Xvfb and openbox, driven through XTest like a user and watched from
// outside: where Form1 and its windows are, that it stays on top, the typical use of capturing
// and writing titles, the keyboard, and how the process starts and ends.
#include <gtest/gtest.h>

#include "tests/e2e/velmo_session.h"
#include "tests/support/typical_uses.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;

const std::string kCaption = "Vellomar v1.0   made by ＱＵＸＩ";

// ---- Placement at the screen's density ----------------------------------------------------

struct PlacementCase {
    const char* name;
    int dpi;
};

void PrintTo(const PlacementCase& row, std::ostream* out) {
    *out << row.name;
}

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, Form1AndItsThreeWindowsSitWhereTheLayoutSaysAndStayThere) {
    const PlacementCase& row = GetParam();
    std::string error;
    auto velmo = VelmoSession::Start({XSession::WindowManager::Openbox, row.dpi}, &error);
    ASSERT_NE(velmo, nullptr) << error;
    Display* d = velmo->x().display();

    const XRect frame = velmo->Frame();
    const XRect client = velmo->Client();
    // The frame's position with the client area's size.
    const XRect frame_origin_and_client = {layout::TwipsToPixels(layout::kFormLeft, row.dpi),
                                           layout::TwipsToPixels(layout::kFormTop, row.dpi),
                                           layout::TwipsToPixels(layout::kClientWidth, row.dpi),
                                           layout::TwipsToPixels(layout::kClientHeight, row.dpi)};
    EXPECT_EQ((XRect{frame.x, frame.y, client.width, client.height}), frame_origin_and_client);

    std::vector<XRect> children;
    for (XWindow child : velmo->Children()) {
        children.push_back(velmo->Geometry(child));
    }
    std::sort(children.begin(), children.end(), [](const XRect& a, const XRect& b) {
        return std::tie(a.y, a.x) < std::tie(b.y, b.x);
    });
    const std::vector<XRect> windows = {LayoutRect(layout::kText1, row.dpi),
                                        LayoutRect(layout::kWriteButton, row.dpi),
                                        LayoutRect(layout::kCaptureButton, row.dpi)};
    EXPECT_EQ(children, windows) << "the labels must be painted, not windows";

    EXPECT_EQ(velmo->x().NetWmName(velmo->form()), kCaption);
    // The icon in its three sizes: width, height, then the pixels of each.
    const std::vector<long> icon = Property32(d, velmo->form(), "_NET_WM_ICON");
    std::vector<long> sizes;
    for (std::size_t at = 0; at + 1 < icon.size();
         at += 2 + static_cast<std::size_t>(icon[at] * icon[at + 1])) {
        sizes.push_back(icon[at]);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<long>{16, 32, 48}));

    // Form_Load placed the window where it already was; a moment later it still is.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(velmo->Frame(), frame);
}

INSTANTIATE_TEST_SUITE_P(Dpi, Placement,
                         ::testing::Values(PlacementCase{"At96", 96}, PlacementCase{"At120", 120}),
                         [](const auto& row) { return row.param.name; });

// ---- Use, on one running velmo ------------------------------------------------------------

// One velmo under one server for the whole suite.
class Use : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string error;
        velmo_ = VelmoSession::Start({}, &error).release();
        start_error_ = new std::string(error);
    }
    static void TearDownTestSuite() {
        delete velmo_;
        velmo_ = nullptr;
        delete start_error_;
    }
    void SetUp() override { ASSERT_NE(velmo_, nullptr) << *start_error_; }

    static VelmoSession* velmo_;
    static std::string* start_error_;
};
VelmoSession* Use::velmo_ = nullptr;
std::string* Use::start_error_ = nullptr;

// Where the pointer goes: foreign windows made for each case, bare root, or a place on Form1.
enum class Where { A, B, J, Root, Text1, WriteButton, CaptureButton, Label1, Form1 };

const std::map<Where, std::string> kForeignTitles = {
    {Where::A, "Alpha"},
    {Where::B, "Bravo"},
    {Where::J, "日本語の題 <b>太字</b> &amp; R&D \"引用\" [*] 'x'"},
};

struct Step {
    Where where;
    unsigned long key;  // XK_Return, XK_Escape, or 0 for a click of mouse button 1
    std::optional<std::string> typed = {};  // instead of the key, typed into the emptied Text1
};

struct UseCase {
    const char* name;
    const char* typed;  // into an emptied Text1; "\t" is the Tab key
    std::vector<Step> steps;
    std::map<Where, std::string> expected;     // titles that change; every other one stays
    std::map<Where, std::string> titles = {};  // foreign titles other than the usual ones
};

void PrintTo(const UseCase& row, std::ostream* out) {
    *out << row.name;
}

class UseCases : public Use, public ::testing::WithParamInterface<UseCase> {};

TEST_P(UseCases, KeysAndClicksActOnTheWindowUnderThePointer) {
    const UseCase& row = GetParam();
    XSession& x = velmo_->x();
    std::map<Where, std::string> titles = row.titles;
    titles.insert(kForeignTitles.begin(), kForeignTitles.end());
    std::map<Where, XWindow> windows = {
        {Where::A, x.CreateClient(600, 100, 240, 160, titles.at(Where::A))},
        {Where::B, x.CreateClient(600, 400, 240, 160, titles.at(Where::B))},
        {Where::J, x.CreateClient(900, 100, 240, 160, titles.at(Where::J))},
    };
    const std::map<Where, std::pair<int, int>> points = {
        {Where::A, {700, 180}},
        {Where::B, {700, 480}},
        {Where::J, {1000, 180}},
        {Where::Root, {1200, 1000}},
        {Where::Text1, velmo_->Over(layout::kText1)},
        {Where::WriteButton, velmo_->Over(layout::kWriteButton)},
        {Where::CaptureButton, velmo_->Over(layout::kCaptureButton)},
        {Where::Label1, velmo_->Over(layout::kLabel1)},
    };
    for (XWindow child : velmo_->Children()) {
        if (velmo_->Geometry(child) == LayoutRect(layout::kWriteButton, velmo_->dpi())) {
            windows[Where::WriteButton] = child;
        }
    }
    windows[Where::Form1] = velmo_->form();
    std::map<Where, std::string> before;
    for (const auto& [where, window] : windows) {
        before[where] = x.NetWmName(window);
    }

    // Openbox gives the focus to each new window, a moment after it is mapped; then a click
    // into Text1 activates Form1 again and focuses Text1.
    WaitUntil(
        [&] {
            const auto active = Property32(x.display(), x.root(), "_NET_ACTIVE_WINDOW");
            return active.size() == 1 && static_cast<XWindow>(active[0]) == windows[Where::J];
        },
        1s);
    const auto [text1_x, text1_y] = points.at(Where::Text1);
    ASSERT_TRUE(velmo_->ClickToFocus(text1_x, text1_y));
    const auto type = [&](const std::string& text) {
        // Emptied key by key: Text1 holds fewer than 120 characters here, and a modifier could
        // reach Qt after the key it modifies.
        x.TapKey(XK_End);
        for (int i = 0; i < 120; ++i) {
            x.TapKey(XK_BackSpace);
        }
        velmo_->Type(text);
    };
    type(row.typed);
    for (const Step& step : row.steps) {
        if (step.typed) {
            type(*step.typed);
            continue;
        }
        const auto [px, py] = points.at(step.where);
        ASSERT_EQ(velmo_->RestPointer(px, py), "");
        if (step.key == 0) {
            x.Click();
        } else {
            x.TapKey(step.key);
        }
    }

    const auto title = [&](Where where) {
        const auto expected = row.expected.find(where);
        return expected != row.expected.end() ? expected->second : before.at(where);
    };
    WaitUntil(
        [&] {
            return std::all_of(windows.begin(), windows.end(), [&](const auto& w) {
                return x.NetWmName(w.second) == title(w.first);
            });
        },
        10s);
    std::this_thread::sleep_for(200ms);
    for (const auto& [where, window] : windows) {
        EXPECT_EQ(x.NetWmName(window), title(where)) << "window " << static_cast<int>(where);
    }

    for (const auto& [where, window] : windows) {
        if (where <= Where::J) {
            XDestroyWindow(x.display(), window);
        }
    }
    XSync(x.display(), False);
}

// The typical uses shared with Velmo.exe, then `cases`. A has the title, whose capture Enter
// writes into B before the typed text goes into A; a capture from A, where the pointer stays
// while the keys are handled, leaves Text1 short again.
std::vector<UseCase> WithTypicalUses(const std::vector<UseCase>& cases) {
    std::vector<UseCase> all;
    for (const TypicalUse& use : TypicalUses()) {
        all.push_back({use.name,
                       "",
                       {{Where::A, XK_Escape},
                        {Where::B, XK_Return},
                        {Where::A, 0, use.typed},
                        {Where::A, XK_Return},
                        {Where::A, XK_Escape}},
                       {{Where::A, WithoutUnheldMarks(use.written)},
                        {Where::B, WithoutUnheldMarks(use.captured)}},
                       {{Where::A, use.title}}});
    }
    all.insert(all.end(), cases.begin(), cases.end());
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UseCases,
    ::testing::ValuesIn(WithTypicalUses({
        UseCase{
            "TabLeavesTheFocusInText1", "ab\tcd", {{Where::A, XK_Return}}, {{Where::A, "abcd"}}},
        // The click copies the capture button's own caption (its window is then the target) and
        // leaves the focus on it; Enter still writes.
        UseCase{"EnterWritesWhileAButtonHoldsTheFocus",
                "x",
                {{Where::CaptureButton, 0}, {Where::A, XK_Return}},
                {{Where::A, "取り込み"}}},
        UseCase{"AClickOnTheWriteButtonSetsItsOwnCaption",
                "new caption",
                {{Where::WriteButton, 0}},
                {{Where::WriteButton, "new caption"}}},
        // The labels are painted by Form1, so over a label the target is Form1 itself.
        UseCase{"OverALabelTheTargetIsForm1",
                "",
                {{Where::Label1, XK_Escape}, {Where::A, XK_Return}},
                {{Where::A, kCaption}}},
        UseCase{"WritingOverTheBareRootChangesNothing", "zz", {{Where::Root, XK_Return}}, {}},
        // Last, as it leaves Form1 with another caption.
        UseCase{"WritingOverALabelSetsForm1sOwnCaption",
                "",
                {{Where::J, XK_Escape}, {Where::Label1, XK_Return}},
                {{Where::Form1, kForeignTitles.at(Where::J)}}},
    })),
    [](const auto& row) { return row.param.name; });

TEST_F(Use, Form1StaysAboveAWindowActivatedAfterIt) {
    XSession& x = velmo_->x();
    Display* d = x.display();
    const XWindow other = x.CreateClient(100, 150, 600, 400, "Covering window");
    AskWindowManager(d, other, "_NET_ACTIVE_WINDOW");
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto active = Property32(d, x.root(), "_NET_ACTIVE_WINDOW");
            return active.size() == 1 && static_cast<XWindow>(active[0]) == other;
        },
        3s));

    const std::vector<long> stacking = Property32(d, x.root(), "_NET_CLIENT_LIST_STACKING");
    const auto position = [&](XWindow w) {
        return std::find(stacking.begin(), stacking.end(), static_cast<long>(w)) - stacking.begin();
    };
    EXPECT_GT(position(velmo_->form()), position(other)) << "bottom to top";
    const std::vector<std::string> state = AtomNames(d, velmo_->form(), "_NET_WM_STATE");
    EXPECT_NE(std::find(state.begin(), state.end(), "_NET_WM_STATE_ABOVE"), state.end());
    XDestroyWindow(d, other);
    XSync(d, False);
}

// ---- The global keys, on desktops where Enter and Escape never reach Form1 ----------------

struct DesktopCase {
    const char* name;
    XSession::WindowManager window_manager;
    std::vector<unsigned long> lit;  // lock keys lit first; Scroll Lock is put on Mod3 for it
    unsigned long held_elsewhere;    // Super+Alt+ this key, grabbed by the test before velmo
};

void PrintTo(const DesktopCase& row, std::ostream* out) {
    *out << row.name;
}

// Whether a client other than the test's holds `keysym` with `modifiers` on the root: the
// test's own grab is refused then. A grab that succeeds is released again.
bool HeldByAnother(Display* d, unsigned long keysym, unsigned int modifiers) {
    XErrorTrap trap(d);
    const KeyCode code = XKeysymToKeycode(d, keysym);
    XGrabKey(d, code, modifiers, DefaultRootWindow(d), True, GrabModeAsync, GrabModeAsync);
    XUngrabKey(d, code, modifiers, DefaultRootWindow(d));
    return trap.ErrorCode() == BadAccess;
}

// Whether `upper` lies above `lower` among the root's children.
bool StackedAbove(Display* d, XWindow upper, XWindow lower) {
    const std::vector<XWindow> order = ChildWindows(d, DefaultRootWindow(d));  // bottom to top
    return std::find(order.begin(), order.end(), upper) >
           std::find(order.begin(), order.end(), lower);
}

class Desktops : public ::testing::TestWithParam<DesktopCase> {};

TEST_P(Desktops, GlobalKeysCaptureFromOneWindowAndWriteIntoAnotherWhereverTheFocusIs) {
    const DesktopCase& row = GetParam();
    const unsigned int super_alt = Mod4Mask | Mod1Mask;
    std::string error;
    auto velmo = VelmoSession::Start({row.window_manager}, &error, {}, [&](XSession& x) {
        // A window under the resting pointer, which the first tick shows.
        x.CreateClient(1000, 750, 200, 150, "Under the pointer");
        x.MovePointer(1100, 825);
        if (row.held_elsewhere != 0) {
            XGrabKey(x.display(), XKeysymToKeycode(x.display(), row.held_elsewhere), super_alt,
                     x.root(), True, GrabModeAsync, GrabModeAsync);
            XSync(x.display(), False);
        }
    });
    ASSERT_NE(velmo, nullptr) << error;
    XSession& x = velmo->x();
    Display* d = x.display();
    const XWindow form = velmo->form();
    // Whether the window manager publishes frame extents or not, the first tick comes at once
    // and the frame opens where the layout puts it.
    const std::optional<std::chrono::milliseconds> first_tick = velmo->ShownToFirstTick();
    ASSERT_TRUE(first_tick.has_value());
    EXPECT_LT(first_tick->count(), 250) << "from Form1 showing to its first tick";
    const std::pair<int, int> origin = {layout::TwipsToPixels(layout::kFormLeft, 96),
                                        layout::TwipsToPixels(layout::kFormTop, 96)};
    const auto frame_origin = [&] { return std::pair{velmo->Frame().x, velmo->Frame().y}; };
    WaitUntil([&] { return frame_origin() == origin; }, 1s);
    EXPECT_EQ(frame_origin(), origin);
    // Alpha covers part of Form1; Bravo lies clear of it.
    const XWindow alpha = x.CreateClient(100, 150, 600, 400, "Alpha");
    const XWindow bravo = x.CreateClient(800, 400, 240, 160, "Bravo");
    if (row.window_manager == XSession::WindowManager::Bare) {
        EXPECT_TRUE(WaitUntil([&] { return StackedAbove(d, form, alpha); }, 3s));
        XRaiseWindow(d, alpha);
        XSync(d, False);
        EXPECT_TRUE(WaitUntil([&] { return StackedAbove(d, form, alpha); }, 3s))
            << "Form1 must end above a window raised over it";
    }

    for (unsigned long lock : row.lit) {
        if (lock == XK_Scroll_Lock) {
            // Scroll Lock sits on no modifier in Xvfb's map: velmo must read the new one.
            XModifierKeymap* map = XGetModifierMapping(d);
            map = XInsertModifiermapEntry(map, XKeysymToKeycode(d, XK_Scroll_Lock), Mod3MapIndex);
            XSetModifierMapping(d, map);
            XFreeModifiermap(map);
            ASSERT_TRUE(
                WaitUntil([&] { return HeldByAnother(d, XK_w, super_alt | Mod3Mask); }, 3s));
        }
        x.TapKey(lock);
    }

    std::string expected = "Alpha";
    if (row.held_elsewhere == XK_c) {
        expected = "typed";
        const auto [text1_x, text1_y] = velmo->Over(layout::kText1);
        ASSERT_TRUE(velmo->ClickToFocus(text1_x, text1_y));
        velmo->Type(expected);
    }
    const auto focus = [&] {
        Window w = 0;
        int revert = 0;
        XGetInputFocus(d, &w, &revert);
        return w;
    };
    const bool focus_follows = row.window_manager == XSession::WindowManager::OpenboxFollowMouse;
    // Openbox passes over the pointer's entry into a window while it still settles a window it
    // has just mapped and focused; a user's pointer comes in again, and so does the test's.
    const auto enter = [&](int px, int py, XWindow window) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            x.MovePointer(1200, 50);  // off both windows
            const std::string seen = velmo->RestPointer(px, py);
            if (!focus_follows || WaitUntil([&] { return focus() == window; }, 1s)) {
                return seen;
            }
        }
        return std::string("the focus did not follow the pointer");
    };
    ASSERT_EQ(enter(650, 500, alpha), "");
    if (row.held_elsewhere != XK_c) {
        x.TapKey(XK_c, {XK_Super_L, XK_Alt_L});
    }
    ASSERT_EQ(enter(900, 480, bravo), "");
    x.TapKey(XK_w, {XK_Super_L, XK_Alt_L});
    WaitUntil([&] { return x.NetWmName(bravo) == expected; }, 2s);
    EXPECT_EQ(x.NetWmName(bravo), expected);
    EXPECT_EQ(x.NetWmName(alpha), "Alpha");

    // Qt may have its say too; velmo's own lines begin with its name.
    const std::string said = velmo->velmo().Stderr();
    std::size_t lines = 0;
    for (auto at = said.find("velmo:"); at != std::string::npos; at = said.find("velmo:", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, row.held_elsewhere != 0 ? 1u : 0u) << said;
    if (row.held_elsewhere != 0) {
        EXPECT_NE(said.find("Super+Alt+C"), std::string::npos) << said;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Desktops,
    ::testing::Values(
        DesktopCase{
            "FocusFollowsTheMouse", XSession::WindowManager::OpenboxFollowMouse, {XK_Num_Lock}, 0},
        DesktopCase{
            "NoWindowManager", XSession::WindowManager::Bare, {XK_Caps_Lock, XK_Scroll_Lock}, 0},
        DesktopCase{"CaptureKeyHeldByAnotherProgram", XSession::WindowManager::Openbox, {}, XK_c},
        DesktopCase{
            "ManagerThatPublishesNoFrameExtents", XSession::WindowManager::Frameless, {}, 0},
        DesktopCase{"ManagerWithoutEwmhThatFramesWindows", XSession::WindowManager::Framed, {}, 0}),
    [](const auto& row) { return row.param.name; });

// ---- Titles that stay --------------------------------------------------------------------

// A foreign client that sets its own title again and again, as a shell prompt or a browser
// does: _NET_WM_NAME of `window`, every `period`, through a connection of its own.
class TitleResetter {
  public:
    TitleResetter(const std::string& display_name, XWindow window, std::chrono::microseconds period)
        : thread_([this, display_name, window, period] {
              Display* d = XOpenDisplay(display_name.c_str());
              ASSERT_NE(d, nullptr);
              const Atom name = XInternAtom(d, "_NET_WM_NAME", False);
              const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
              while (!stop_) {
                  XChangeProperty(d, window, name, utf8, 8, PropModeReplace,
                                  reinterpret_cast<const unsigned char*>(kAppTitle), 9);
                  XFlush(d);
                  std::this_thread::sleep_for(period);
              }
              XSync(d, False);
              XCloseDisplay(d);
          }) {}
    ~TitleResetter() {
        stop_ = true;
        thread_.join();
    }
    static constexpr char kAppTitle[] = "App title";

  private:
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

enum class Act {
    Write,            // Enter in Form1
    WriteAndKeep,     // Shift+Enter in Form1
    GiveBack,         // Shift+Escape in Form1
    KeyWriteAndKeep,  // Super+Alt+Shift+W
    KeyGiveBack,      // Super+Alt+R
    Recreate,         // the window ends, and a new one takes its XID
    Resets,           // the application sets its own title, every `period_us`, for `ms`
    Flood,            // Resets, while velmo writes into another window and is timed
    ClickWrite,       // a click on the write button, which then holds the focus
};

struct KeepStep {
    Act act;
    std::string text = "";      // typed into Text1 before a write
    std::string expected = "";  // the window's title after the step
    long period_us = 0;
    int ms = 0;
};

struct KeepCase {
    const char* name;
    std::vector<KeepStep> steps;
};

void PrintTo(const KeepCase& row, std::ostream* out) {
    *out << row.name;
}

class Keeping : public Use, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(Keeping, AWrittenTitleStaysUntilItsEndAndTheFirstComesBack) {
    XSession& x = velmo_->x();
    Display* d = x.display();
    const std::string original = "Original ★ title";
    XWindow window = x.CreateClient(600, 100, 240, 160, original);
    const XWindow other = x.CreateClient(600, 400, 240, 160, "Other");
    std::string wm_type_before;
    const std::string wm_before = x.WmName(window, &wm_type_before);

    for (const KeepStep& step : GetParam().steps) {
        if (!step.text.empty()) {
            const auto [text1_x, text1_y] = velmo_->Over(layout::kText1);
            ASSERT_TRUE(velmo_->ClickToFocus(text1_x, text1_y));
            x.TapKey(XK_a, {XK_Control_L});
            velmo_->Type(step.text);
        }
        if (step.act == Act::ClickWrite) {
            const auto [button_x, button_y] = velmo_->Over(layout::kWriteButton);
            ASSERT_TRUE(velmo_->ClickToFocus(button_x, button_y));
        }
        ASSERT_EQ(velmo_->RestPointer(700, 180), "");
        switch (step.act) {
            case Act::Write:
                x.TapKey(XK_Return);
                break;
            case Act::WriteAndKeep:
                x.TapKey(XK_Return, {XK_Shift_L});
                break;
            case Act::GiveBack:
                x.TapKey(XK_Escape, {XK_Shift_L});
                break;
            case Act::KeyWriteAndKeep:
                x.TapKey(XK_w, {XK_Super_L, XK_Alt_L, XK_Shift_L});
                break;
            case Act::KeyGiveBack:
                x.TapKey(XK_r, {XK_Super_L, XK_Alt_L});
                break;
            case Act::Recreate: {
                XDestroyWindow(d, window);
                XSync(d, False);
                xcb_connection_t* c = XGetXCBConnection(d);
                xcb_create_window(c, XCB_COPY_FROM_PARENT, static_cast<xcb_window_t>(window),
                                  static_cast<xcb_window_t>(x.root()), 600, 100, 240, 160, 0,
                                  XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
                XSizeHints hints{};  // where the old one was
                hints.flags = USPosition | PPosition;
                hints.x = 600;
                hints.y = 100;
                XSetWMNormalHints(d, window, &hints);
                xcb_map_window(c, static_cast<xcb_window_t>(window));
                XSync(d, False);
                ASSERT_TRUE(WaitUntil(
                    [&] {
                        return !Property32(d, window, "WM_STATE").empty() &&
                               !Property32(d, window, "_NET_FRAME_EXTENTS").empty();
                    },
                    5s));
                ASSERT_EQ(velmo_->RestPointer(700, 180), "");
                break;
            }
            case Act::Resets: {
                TitleResetter app(x.display_name(), window,
                                  std::chrono::microseconds(step.period_us));
                std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
                break;
            }
            case Act::ClickWrite:
                break;
            case Act::Flood: {
                const auto cpu_before = ProcessorTime(velmo_->velmo().pid());
                const auto start = std::chrono::steady_clock::now();
                {
                    TitleResetter app(x.display_name(), window,
                                      std::chrono::microseconds(step.period_us));
                    std::this_thread::sleep_for(1s);
                    ASSERT_EQ(velmo_->RestPointer(700, 480), "");
                    x.TapKey(XK_w, {XK_Super_L, XK_Alt_L});
                    EXPECT_TRUE(WaitUntil([&] { return x.NetWmName(other) == "kept"; }, 1s))
                        << "velmo must write elsewhere promptly while one window floods it";
                    std::this_thread::sleep_until(start + std::chrono::milliseconds(step.ms));
                }
                const auto cpu = std::chrono::duration_cast<std::chrono::milliseconds>(
                    ProcessorTime(velmo_->velmo().pid()) - cpu_before);
                const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start);
                EXPECT_LT(cpu * 100, wall * 5) << cpu.count() << " ms of " << wall.count();
                break;
            }
        }
        const std::string expected = step.expected == "original" ? original : step.expected;
        WaitUntil([&] { return x.NetWmName(window) == expected; }, 2s);
        EXPECT_EQ(x.NetWmName(window), expected) << "after step " << static_cast<int>(step.act);
        if (step.expected == "original") {
            std::string wm_type;
            EXPECT_EQ(x.WmName(window, &wm_type), wm_before);
            EXPECT_EQ(wm_type, wm_type_before);
        }
    }
    XDestroyWindow(d, window);
    XDestroyWindow(d, other);
    XSync(d, False);
}

const std::string kApp = TitleResetter::kAppTitle;

INSTANTIATE_TEST_SUITE_P(
    Cases, Keeping,
    ::testing::Values(KeepCase{"KeptThroughThreeSecondsOfResets",
                               {{Act::WriteAndKeep, "kept", "kept"},
                                {Act::Resets, "", "kept", 400'000, 3200}}},
                      KeepCase{"TheGlobalKeyKeepsToo",
                               {{Act::KeyWriteAndKeep, "kept", "kept"},
                                {Act::Resets, "", "kept", 300'000, 1000}}},
                      KeepCase{"APlainWriteEndsKeeping",
                               {{Act::WriteAndKeep, "kept", "kept"},
                                {Act::Write, "plain", "plain"},
                                {Act::Resets, "", kApp, 300'000, 1000}}},
                      KeepCase{"GiveBackRestoresTheFirstTitleAfterSeveralWrites",
                               {{Act::GiveBack, "", "original"},  // never written: nothing happens
                                {Act::Write, "one", "one"},
                                {Act::WriteAndKeep, "two", "two"},
                                {Act::KeyWriteAndKeep, "three", "three"},
                                {Act::GiveBack, "", "original"},
                                {Act::Resets, "", kApp, 300'000, 1000},
                                {Act::KeyGiveBack, "", "original"}}},
                      KeepCase{"KeepingEndsWithTheWindowAndANewOneWithItsXidIsLeftAlone",
                               {{Act::WriteAndKeep, "kept", "kept"},
                                {Act::Recreate, "", ""},
                                {Act::Resets, "", kApp, 300'000, 1000},
                                {Act::KeyGiveBack, "", kApp}}},
                      // The focused write button would click itself on any Enter.
                      KeepCase{"ShiftKeysKeepAndGiveBackAfterAClickOnTheWriteButton",
                               {{Act::ClickWrite, "kept", "original"},
                                {Act::WriteAndKeep, "", "kept"},
                                {Act::Resets, "", "kept", 300'000, 1000},
                                {Act::GiveBack, "", "original"}}},
                      KeepCase{"AFloodingApplicationWinsAndVelmoStaysResponsive",
                               {{Act::WriteAndKeep, "kept", "kept"},
                                {Act::Flood, "", kApp, 1000, 4500},
                                {Act::Resets, "", kApp, 300'000, 1000}}}),
    [](const auto& row) { return row.param.name; });

// ---- Start and end -----------------------------------------------------------------------

struct LifeCase {
    const char* name;
    std::vector<std::string> env;
    bool with_display;  // a server with openbox runs; Form1 is then closed through openbox
    int status;
    std::vector<std::string> args = {};
    // What it says in one line: on standard error, or on standard output when status is 0.
    std::string says = "X display";
};

void PrintTo(const LifeCase& row, std::ostream* out) {
    *out << row.name;
}

class Life : public ::testing::TestWithParam<LifeCase> {};

TEST_P(Life, EndsWithTheRightStatusAndSaysWhyWhenItCannotStart) {
    const LifeCase& row = GetParam();
    if (row.with_display) {
        std::string error;
        auto session = VelmoSession::Start({}, &error, row.env);
        ASSERT_NE(session, nullptr) << error;
        AskWindowManager(session->x().display(), session->form(), "_NET_CLOSE_WINDOW");
        EXPECT_EQ(session->velmo().Wait(5s), row.status);
        // Its own one line, whatever Qt may add.
        const std::string said = session->velmo().Stderr();
        std::size_t lines = 0;
        for (auto at = said.find("velmo:"); at != std::string::npos;
             at = said.find("velmo:", at + 1)) {
            ++lines;
        }
        EXPECT_EQ(lines, 1u) << said;
        EXPECT_NE(said.find(row.says), std::string::npos) << said;
        return;
    }
    auto velmo = StartVelmo(row.env, row.args);
    EXPECT_EQ(velmo->Wait(10s), row.status);
    const std::string message = row.status == 0 ? velmo->Stdout() : velmo->Stderr();
    EXPECT_EQ(row.status == 0 ? velmo->Stderr() : velmo->Stdout(), "");
    if (row.args != std::vector<std::string>{"--help"}) {  // help takes a few lines
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    }
    EXPECT_NE(message.find(row.says), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Life,
    ::testing::Values(
        // Asked for Wayland, it still runs on X (XWayland under a Wayland session), and says
        // that without KWin it sees no native window.
        LifeCase{"ClosedThroughTheWindowManager",
                 {"WAYLAND_DISPLAY=wayland-0", "QT_QPA_PLATFORM=wayland",
                  "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"},
                 true,
                 0,
                 {},
                 "native Wayland windows cannot be seen"},
        LifeCase{"NoDisplay", {"DISPLAY="}, false, 1},
        LifeCase{"DisplayWithNoServer", {"DISPLAY=:65000"}, false, 1},
        LifeCase{"WaylandSessionWithoutX",
                 {"DISPLAY=:65000", "WAYLAND_DISPLAY=wayland-0", "QT_QPA_PLATFORM=wayland"},
                 false,
                 1},
        // The two options need no display; anything else is refused before one is opened.
        LifeCase{"HelpWithoutADisplay", {"DISPLAY="}, false, 0, {"--help"}, "Usage: velmo"},
        LifeCase{"VersionWithoutADisplay", {"DISPLAY="}, false, 0, {"--version"}, "1.00"},
        LifeCase{
            "AnyOtherArgument", {"DISPLAY=:65000"}, false, 2, {"-display", ":0"}, "'-display'"},
        LifeCase{"AnOptionWithMore", {"DISPLAY=:65000"}, false, 2, {"--version", "x"}, "'x'"}),
    [](const auto& row) { return row.param.name; });

}  // namespace

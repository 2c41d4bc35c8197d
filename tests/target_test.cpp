#include "target/target.h"

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mainwindow/layout.h"
#include "tests/fake_desktop.h"
#include "tests/support/plain_form.h"

namespace {

using Call = FakeDesktop::Call;

using FakeForm = PlainForm;

// A desktop with one application window and, inside it, a child control.
class TargetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app = desktop.Create({100, 100, 500, 400}, "Application");
        child = desktop.Create({120, 300, 220, 330}, "OK", app);
        desktop.MovePointer(200, 150);
    }

    void Tick() { Timer1_Timer(desktop, TargetWindow, form); }
    void Click(int index) { Command1_Click(desktop, TargetWindow, form, index); }

    std::vector<std::string> Ops() const {
        std::vector<std::string> ops;
        for (const Call& c : desktop.calls) {
            ops.push_back(c.op);
        }
        return ops;
    }

    FakeDesktop desktop;
    FakeForm form;
    HWND TargetWindow = 0;
    HWND app = 0;
    HWND child = 0;
};

// --- Timer1_Timer ------------------------------------------------------------------------

struct ShownTitle {
    const char* name;
    std::string title;
    std::string shown;
};

class TickShowsTitle : public TargetTest, public ::testing::WithParamInterface<ShownTitle> {};

TEST_P(TickShowsTitle, Label2ShowsAtMost99BytesOfTheTitle) {
    desktop.Destroy(app);
    app = desktop.Create({100, 100, 500, 400}, GetParam().title);
    form.label2 = "previous";
    Tick();
    EXPECT_EQ(TargetWindow, app);
    EXPECT_EQ(form.label2, GetParam().shown);
    EXPECT_EQ(form.label2_writes, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, TickShowsTitle,
    ::testing::Values(ShownTitle{"Short", "Notes - Editor", "Notes - Editor"},
                      ShownTitle{"Empty", "", ""},
                      ShownTitle{"Exactly99", std::string(99, 'a'), std::string(99, 'a')},
                      ShownTitle{"Over99", std::string(99, 'b') + "cdef", std::string(99, 'b')},
                      ShownTitle{"OneMiB", std::string(1 << 20, 'x'), std::string(99, 'x')},
                      ShownTitle{"MultiByte", "\x83\x5e\x81\x5b\x83\x51",
                                 "\x83\x5e\x81\x5b\x83\x51"}),
    [](const auto& row) { return row.param.name; });

TEST_F(TargetTest, TickOverWindowReadsItsTextWithCapacity100InFourCalls) {
    Tick();
    const std::vector<Call> expected = {
        {"GetCursorPos", {}, {}},
        {"WindowFromPoint", {200, 150}, {}},
        {"IsWindow", {Arg(app)}, {}},
        {"GetWindowTextA", {Arg(app), 100}, {}},
    };
    EXPECT_EQ(desktop.calls, expected);
}

TEST_F(TargetTest, TickOverNoWindowClearsTargetKeepsLabel2AndReadsNoText) {
    desktop.MovePointer(200, 150);
    Tick();
    ASSERT_EQ(TargetWindow, app);
    desktop.MovePointer(900, 900);
    desktop.calls.clear();
    Tick();
    EXPECT_EQ(TargetWindow, 0u);
    EXPECT_EQ(form.label2, "Application");
    EXPECT_EQ(form.label2_writes, 1);
    EXPECT_EQ(Ops(), (std::vector<std::string>{"GetCursorPos", "WindowFromPoint", "IsWindow"}));
}

TEST_F(TargetTest, TargetIsStoredBeforeIsWindowIsAsked) {
    HWND seen_at_is_window = 12345;
    desktop.before_call = [&](const Call& call) {
        if (call.op == "IsWindow") {
            seen_at_is_window = TargetWindow;
        }
    };
    Tick();
    EXPECT_EQ(seen_at_is_window, app);
}

TEST_F(TargetTest, WindowDestroyedBeforeIsWindowLeavesLabel2AsItWas) {
    form.label2 = "shown before";
    desktop.before_call = [&](const Call& call) {
        if (call.op == "IsWindow") {
            desktop.Destroy(app);
        }
    };
    Tick();
    EXPECT_EQ(TargetWindow, app);  // the handle found, even though it has gone since
    EXPECT_EQ(form.label2, "shown before");
    EXPECT_EQ(form.label2_writes, 0);
    EXPECT_EQ(Ops(), (std::vector<std::string>{"GetCursorPos", "WindowFromPoint", "IsWindow"}));
}

TEST_F(TargetTest, WindowDestroyedBeforeTextIsReadShowsEmpty) {
    form.label2 = "shown before";
    desktop.before_call = [&](const Call& call) {
        if (call.op == "GetWindowTextA") {
            desktop.Destroy(app);
        }
    };
    Tick();
    EXPECT_EQ(form.label2, "");
}

TEST_F(TargetTest, TargetIsChosenAfreshAtEveryTick) {
    const HWND other = desktop.Create({600, 100, 800, 300}, "Other");
    struct Step {
        POINT pointer;
        HWND target;
        std::string label2;
    };
    const std::vector<Step> steps = {
        {{200, 150}, app, "Application"}, {{700, 200}, other, "Other"},
        {{150, 310}, child, "OK"},        {{5, 5}, 0, "OK"},
        {{700, 200}, other, "Other"},
    };
    for (const Step& step : steps) {
        desktop.MovePointer(step.pointer.x, step.pointer.y);
        desktop.calls.clear();
        Tick();
        EXPECT_EQ(TargetWindow, step.target) << step.pointer.x << "," << step.pointer.y;
        EXPECT_EQ(form.label2, step.label2);
        EXPECT_LE(desktop.calls.size(), 4u);
    }
}

TEST_F(TargetTest, DestroyedTargetIsReplacedAtTheNextTickByTheWindowBeneath) {
    const HWND below = desktop.Create({0, 0, 1000, 1000}, "Desktop behind");
    desktop.Activate(app);
    Tick();
    ASSERT_EQ(TargetWindow, app);
    desktop.Destroy(app);
    Tick();
    EXPECT_EQ(TargetWindow, below);
    EXPECT_EQ(form.label2, "Desktop behind");
}

// --- Command1_Click(0): write ------------------------------------------------------------

struct NoWrite {
    const char* name;
    bool tick_first;  // whether a tick has found the window before it goes
    bool destroy;     // the target is destroyed before the press
    POINT pointer;    // where the pointer rests at the tick
    bool text1_unconvertible = false;
};

// Counts what the handlers ask of keeping.
struct CountingKeeping final : TitleKeeping {
    int keeps = 0;
    bool KeepTitle(HWND) override {
        ++keeps;
        return true;
    }
    bool GiveTitleBack(HWND) override { return false; }
    bool IsTitleKept(HWND) const override { return false; }
};

class WriteNothing : public TargetTest, public ::testing::WithParamInterface<NoWrite> {};

TEST_P(WriteNothing, CallsNothingAfterIsWindowAndKeepsNothing) {
    const NoWrite& p = GetParam();
    desktop.MovePointer(p.pointer.x, p.pointer.y);
    if (p.tick_first) {
        Tick();
    }
    const HWND target = TargetWindow;
    if (p.destroy) {
        desktop.Destroy(app);
    }
    form.text1 = "new title";
    form.text1_unconvertible = p.text1_unconvertible;
    CountingKeeping keeping;
    for (const bool keep : {false, true}) {
        desktop.calls.clear();
        if (keep) {
            WriteAndKeep(desktop, keeping, TargetWindow, form);
        } else {
            Click(0);
        }
        EXPECT_EQ(desktop.calls, (std::vector<Call>{{"IsWindow", {Arg(target)}, {}}}));
    }
    EXPECT_EQ(keeping.keeps, 0);
    if (!p.destroy) {
        EXPECT_EQ(desktop.Get(app).text, "Application");
    }
    EXPECT_EQ(form.text1, "new title");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, WriteNothing,
    ::testing::Values(NoWrite{"BeforeAnyTick", false, false, {200, 150}},
                      NoWrite{"AfterTickOverNothing", true, false, {5, 5}},
                      NoWrite{"TargetDestroyed", true, true, {200, 150}},
                      NoWrite{"Text1NotConvertible", true, false, {200, 150}, true}),
    [](const auto& row) { return row.param.name; });

TEST_F(TargetTest, WriteAndKeepKeepsWhatItWrote) {
    Tick();
    form.text1 = "kept title";
    CountingKeeping keeping;
    WriteAndKeep(desktop, keeping, TargetWindow, form);
    EXPECT_EQ(desktop.Get(app).text, "kept title");
    EXPECT_EQ(keeping.keeps, 1);
}

struct Written {
    const char* name;
    std::string text;
    POINT pointer;  // on the application's window or on its child control
};

class WriteText : public TargetTest, public ::testing::WithParamInterface<Written> {};

TEST_P(WriteText, SetsTheWholeTextThenUpdates) {
    desktop.MovePointer(GetParam().pointer.x, GetParam().pointer.y);
    Tick();
    const HWND target = TargetWindow;
    form.text1 = GetParam().text;
    desktop.calls.clear();
    Click(0);
    const std::vector<Call> expected = {
        {"IsWindow", {Arg(target)}, {}},
        {"SetWindowTextA", {Arg(target)}, GetParam().text},
        {"UpdateWindow", {Arg(target)}, {}},
    };
    EXPECT_EQ(desktop.calls, expected);
    EXPECT_EQ(desktop.Get(target).text, GetParam().text);
    EXPECT_EQ(form.text1, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WriteText,
    ::testing::Values(Written{"Plain", "renamed", {200, 150}}, Written{"Empty", "", {200, 150}},
                      Written{"OneMiB", std::string(1 << 20, 'q'), {200, 150}},
                      Written{"IntoChildControl", "child caption", {150, 310}}),
    [](const auto& row) { return row.param.name; });

// The program's own windows are windows like any other: the write button rewrites its own
// caption when the pointer rests on it, and Text1 can be written with what it already holds.
TEST_F(TargetTest, WriteToOwnWindowsChangesThemLikeAnyOther) {
    // Form1 and its controls where the layout puts them at 96 dpi, the client area at the
    // window's initial position.
    const POINT origin = {layout::TwipsToPixels(layout::kFormLeft, 96),
                          layout::TwipsToPixels(layout::kFormTop, 96)};
    const auto place = [&](const layout::Control& c) {
        const layout::PixelRect r = layout::ToPixels(c, 96);
        return RECT{origin.x + r.left, origin.y + r.top, origin.x + r.left + r.width,
                    origin.y + r.top + r.height};
    };
    const auto centre = [&](const layout::Control& c) {
        const RECT r = place(c);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    const HWND Form1 = desktop.Create(
        {origin.x, origin.y, origin.x + layout::TwipsToPixels(layout::kClientWidth, 96),
         origin.y + layout::TwipsToPixels(layout::kClientHeight, 96)},
        "Form1 caption");
    const HWND Text1 = desktop.Create(place(layout::kText1), "typed", Form1);
    const HWND Write = desktop.Create(place(layout::kWriteButton), "write", Form1);
    struct Row {
        POINT pointer;
        HWND target;
    };
    // Label1 is painted by Form1, so over it the window is Form1 itself.
    for (const Row& row :
         {Row{centre(layout::kLabel1), Form1}, Row{centre(layout::kWriteButton), Write},
          Row{centre(layout::kText1), Text1}}) {
        form.text1 = "typed";
        desktop.MovePointer(row.pointer.x, row.pointer.y);
        Tick();
        ASSERT_EQ(TargetWindow, row.target);
        Click(0);
        EXPECT_EQ(desktop.Get(row.target).text, "typed");
    }
}

// --- Command1_Click(1): capture ----------------------------------------------------------

TEST_F(TargetTest, CaptureBeforeAnyTickEmptiesText1WithoutCalls) {
    form.text1 = "typed";
    Click(1);
    EXPECT_EQ(form.text1, "");
    EXPECT_TRUE(desktop.calls.empty());
}

TEST_F(TargetTest, CaptureAfterTargetClosedTakesTheLastShownText) {
    Tick();
    desktop.Destroy(app);
    desktop.calls.clear();
    form.text1 = "typed";
    Click(1);
    EXPECT_EQ(form.text1, "Application");
    EXPECT_TRUE(desktop.calls.empty());
}

TEST_F(TargetTest, CaptureCopiesTheWholeCaption) {
    form.label2 = std::string(5000, 'z') + "\xe6\x97\xa5";
    Click(1);
    EXPECT_EQ(form.text1, form.label2);
}

class OtherIndex : public TargetTest, public ::testing::WithParamInterface<int> {};

TEST_P(OtherIndex, DoesNothing) {
    Tick();
    desktop.calls.clear();
    form.text1 = "typed";
    Click(GetParam());
    EXPECT_TRUE(desktop.calls.empty());
    EXPECT_EQ(form.text1, "typed");
    EXPECT_EQ(form.label2, "Application");
    EXPECT_EQ(desktop.Get(app).text, "Application");
}

INSTANTIATE_TEST_SUITE_P(Indices, OtherIndex, ::testing::Values(-1, 2, 3, 100, INT_MIN, INT_MAX));

}  // namespace

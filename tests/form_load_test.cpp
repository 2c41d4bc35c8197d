#include "mainwindow/form_load.h"

#include <vector>

#include <gtest/gtest.h>

#include "tests/fake_desktop.h"

namespace {

class FormLoad : public ::testing::TestWithParam<RECT> {};

TEST_P(FormLoad, MakesTheWindowTopmostAndShownWhereItIsWithoutActivatingIt) {
    const RECT r = GetParam();
    FakeDesktop desktop;
    const HWND Form1 = desktop.Create(r, "Form1", 0, /*visible=*/false);
    const HWND other = desktop.Create({0, 0, 1600, 1200}, "Other");
    desktop.Activate(other);

    Form_Load(desktop, Form1);

    const std::vector<FakeDesktop::Call> expected = {
        {"GetWindowRect", {Arg(Form1)}, {}},
        {"SetWindowPos",
         {Arg(Form1), -1, r.left, r.top, r.right - r.left, r.bottom - r.top, 0x0050},
         {}},
    };
    EXPECT_EQ(desktop.calls, expected);
    const FakeDesktop::Window& w = desktop.Get(Form1);
    EXPECT_TRUE(w.topmost);
    EXPECT_TRUE(w.visible);
    EXPECT_EQ(desktop.active(), other);
    EXPECT_EQ(w.rect.left, r.left);
    EXPECT_EQ(w.rect.top, r.top);
    EXPECT_EQ(w.rect.right, r.right);
    EXPECT_EQ(w.rect.bottom, r.bottom);

    // It stays above an ordinary window that is activated afterwards.
    desktop.Activate(other);
    EXPECT_EQ(desktop.Stacking().front(), Form1);
}

INSTANTIATE_TEST_SUITE_P(Rectangles, FormLoad,
                         ::testing::Values(RECT{133, 191, 515, 402}, RECT{166, 239, 642, 498},
                                           RECT{-50, -20, 332, 191}, RECT{0, 0, 1, 1}));

}  // namespace

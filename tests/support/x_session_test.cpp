// GoogleTest comes before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "tests/support/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>

namespace {

using namespace std::chrono_literals;

// What a client that connects now reads as its resource database.
std::string RootResources(const std::string& display_name) {
    Display* d = XOpenDisplay(display_name.c_str());
    if (d == nullptr) {
        return {};
    }
    const char* resources = XResourceManagerString(d);
    std::string text = resources != nullptr ? resources : "";
    XCloseDisplay(d);
    return text;
}

struct SessionCase {
    const char* name;
    XSession::WindowManager window_manager;
    int dpi;
};

class XSessionTest : public ::testing::TestWithParam<SessionCase> {};

TEST_P(XSessionTest, StartsAPrivateServerAndStopsItByProcessId) {
    std::string error;
    auto session = XSession::Start({GetParam().window_manager, GetParam().dpi, 800, 600}, &error);
    ASSERT_NE(session, nullptr) << error;
    Display* d = session->display();
    EXPECT_EQ(DisplayWidth(d, DefaultScreen(d)), 800);
    EXPECT_NE(
        RootResources(session->display_name()).find("Xft.dpi:\t" + std::to_string(GetParam().dpi)),
        std::string::npos);

    const XWindow w = session->CreateClient(100, 120, 200, 150, "クライアント <b>&amp;</b>");
    EXPECT_EQ(session->NetWmName(w), "クライアント <b>&amp;</b>");
    std::string type;
    EXPECT_EQ(session->WmName(w, &type), "クライアント <b>&amp;</b>");
    EXPECT_EQ(type, "UTF8_STRING");

    session->MovePointer(150, 170);
    Window root_return = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(d, session->root(), &root_return, &child, &rx, &ry, &wx, &wy, &mask);
    EXPECT_EQ(rx, 150);
    EXPECT_EQ(ry, 170);

    const pid_t server = session->server().pid();
    session.reset();
    EXPECT_NE(kill(server, 0), 0) << "Xvfb still runs after the session ended";
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, XSessionTest,
    ::testing::Values(SessionCase{"Openbox96", XSession::WindowManager::Openbox, 96},
                      SessionCase{"Bare120", XSession::WindowManager::Bare, 120}),
    [](const auto& row) { return row.param.name; });

TEST(ProcessTest, ReportsExitStatusSignalAndOutput) {
    Process ok({{"sh", "-c", "echo out; echo err >&2; exit 3"}, {"X=1"}, "/tmp"});
    EXPECT_EQ(ok.Wait(5s), 3);
    EXPECT_EQ(ok.Stdout(), "out\n");
    EXPECT_EQ(ok.Stderr(), "err\n");

    Process env({{"sh", "-c", "test \"$VELLOMAR_PROBE\" = yes"}, {"VELLOMAR_PROBE=yes"}, ""});
    EXPECT_EQ(env.Wait(5s), 0);

    Process sleeper({{"sleep", "30"}, {}, ""});
    EXPECT_FALSE(sleeper.Wait(50ms).has_value());
    sleeper.Stop();
    EXPECT_EQ(sleeper.Wait(0ms), 128 + SIGTERM);
}

}  // namespace

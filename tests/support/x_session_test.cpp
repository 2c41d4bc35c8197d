// GoogleTest comes before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "tests/support/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>

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

// Each value as a 32-bit item: 4 bytes in this machine's order.
std::string Items32(std::initializer_list<std::uint32_t> items) {
    std::string bytes;
    for (const std::uint32_t item : items) {
        bytes.append(reinterpret_cast<const char*>(&item), 4);
    }
    return bytes;
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
    // Found in the window manager's list, or without one among the root's mapped children.
    WriteProperty(d, w, "_NET_WM_PID", "CARDINAL", 32,
                  Items32({static_cast<std::uint32_t>(getpid())}));
    EXPECT_TRUE(WaitUntil([&] { return FindClientOf(d, getpid()) == w; }, 2s));
    EXPECT_EQ(FindClientOf(d, getpid() + 1), 0u);

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

// A server with no window manager, and the test's connection to it.
class XWindowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        session = XSession::Start({.window_manager = XSession::WindowManager::Bare}, &error);
        ASSERT_NE(session, nullptr) << error;
        d = session->display();
    }
    std::unique_ptr<XSession> session;
    Display* d = nullptr;
};

TEST_F(XWindowsTest, PropertiesReadBackAsWrittenInEveryFormat) {
    const std::string big((3 << 20) + 8, 'x');  // four pieces of at most 1 MiB
    const struct {
        const char* name;
        const char* type;
        int format;
        std::string data;
        std::string expected;
        std::vector<long> longs = {};
        long max_longs = 1 << 20;
    } rows[] = {
        {"8-bit", "STRING", 8, "abc", "abc"},
        {"empty", "UTF8_STRING", 8, "", ""},
        {"16-bit", "INTEGER", 16, "\x01\x02\x03\x04", "\x01\x02\x03\x04"},
        {"32-bit, top bit set",
         "CARDINAL",
         32,
         Items32({0xFFFFFFFF, 7}),
         Items32({0xFFFFFFFF, 7}),
         {-1, 7}},
        {"8-bit in pieces", "STRING", 8, big, big},
        {"32-bit in pieces", "CARDINAL", 32, big, big},
        {"cut after a 32-bit unit", "STRING", 8, "abcdefgh", "abcd", {}, 1},
    };
    const XWindow w = XCreateSimpleWindow(d, session->root(), 0, 0, 10, 10, 0, 0, 0);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteProperty(d, w, "VELLOMAR_PROBE", row.type, row.format, row.data);
        const XProperty read = ReadProperty(d, w, "VELLOMAR_PROBE", row.max_longs);
        EXPECT_EQ(read.type, XInternAtom(d, row.type, False));
        EXPECT_EQ(read.format, row.format);
        EXPECT_EQ(read.data, row.expected);
        if (!row.longs.empty()) {
            EXPECT_EQ(read.Longs(), row.longs);
        }
    }
    EXPECT_EQ(ReadProperty(d, w, "VELLOMAR_ABSENT").type, 0u);
    XDestroyWindow(d, w);
    XErrorTrap trap(d);
    EXPECT_EQ(ReadProperty(d, w, "VELLOMAR_PROBE").type, 0u);
    EXPECT_EQ(trap.ErrorCode(), BadWindow);
}

int counted_errors = 0;

int CountError(Display*, XErrorEvent*) {
    ++counted_errors;
    return 0;
}

TEST_F(XWindowsTest, NestedErrorTrapsEachKeepTheirOwnErrorsAndRestoreTheHandler) {
    const XWindow gone = XCreateSimpleWindow(d, session->root(), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(d, gone);
    XSetErrorHandler(CountError);
    {
        XErrorTrap outer(d);
        XMapWindow(d, gone);
        {
            XErrorTrap inner(d);  // made after the outer's error was sent: not its own
            EXPECT_EQ(inner.ErrorCode(), 0);
            XFreePixmap(d, gone);
            EXPECT_EQ(inner.ErrorCode(), BadPixmap);
        }
        EXPECT_EQ(outer.ErrorCode(), BadWindow);
    }
    EXPECT_EQ(counted_errors, 0);
    XMapWindow(d, gone);
    XSync(d, False);
    EXPECT_EQ(counted_errors, 1) << "the handler from before the traps is back";
    XSetErrorHandler(nullptr);
}

TEST(ProcessTest, ReportsExitStatusSignalAndOutput) {
    Process ok({{"sh", "-c", "echo out; echo err >&2; exit 3"}, {"X=1"}, "/tmp"});
    EXPECT_EQ(ok.Wait(5s), 3);
    EXPECT_EQ(ok.Stdout(), "out\n");
    EXPECT_EQ(ok.Stderr(), "err\n");

    Process env({{"sh", "-c", "test \"$VELLOMAR_PROBE\" = yes"}, {"VELLOMAR_PROBE=yes"}, ""});
    EXPECT_EQ(env.Wait(5s), 0);

    Process sleeper({{"sleep", "30"}, {}, ""});
    EXPECT_FALSE(sleeper.Wait(50ms).has_value());
    EXPECT_LT(ProcessorTime(sleeper.pid()), 50ms);
    sleeper.Stop();
    EXPECT_EQ(sleeper.Wait(0ms), 128 + SIGTERM);

    Process missing({{"vellomar-no-such-program"}, {}, ""});
    EXPECT_EQ(missing.Wait(0ms), 127);
    EXPECT_EQ(RunForOutput({"sh", "-c", "echo out; echo more"}), "out\nmore\n");
    EXPECT_EQ(RunForOutput({"vellomar-no-such-program"}), "");
}

TEST(ProcessTest, ReadsProcessorTimeAndResidentMemoryUntilTheProcessEnds) {
    Process busy({{"sh", "-c", "while :; do :; done"}, {}, ""});
    EXPECT_TRUE(WaitUntil([&] { return ProcessorTime(busy.pid()) > 100ms; }, 10s));
    const long resident = ResidentKiB(busy.pid());
    EXPECT_GT(resident, 0);
    EXPECT_GT(ResidentKiB(busy.pid(), "RssAnon"), 0);
    EXPECT_LE(ResidentKiB(busy.pid(), "RssAnon"), resident);
    EXPECT_EQ(ResidentKiB(busy.pid(), "NoSuchField"), -1);
    busy.Stop();
    EXPECT_EQ(ProcessorTime(busy.pid()), 0ns);
    EXPECT_EQ(ResidentKiB(busy.pid()), -1);
}

}  // namespace

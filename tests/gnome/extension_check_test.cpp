// velmo's Shell extension in a real GNOME Shell, through extension_check.py, which stands where
// velmo does: it subscribes, moves the pointer over a native and an X11 window, and compares
// what arrives with what the shell's Eval and Xwayland say of them (the senders, the pace, the
// subscriber cap, nothing at rest, disabling and enabling). The shell is this test's own, with
// the extension installed and not yet enabled, as the check's first rows want it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/compositor_session.h"

namespace {

using namespace std::chrono_literals;

// The X id of the xmessage client named x11-window, as xwininfo lists it: by its class, since
// on GNOME 44 and later the frame that Mutter draws around it bears the same title.
std::string X11WindowId() {
    const std::string tree = RunForOutput({"xwininfo", "-root", "-tree"});
    const auto at = tree.find(": (\"x11-window\" ");
    const auto start = tree.rfind("0x", at);
    return at == std::string::npos ? "" : tree.substr(start, tree.find(' ', start) - start);
}

TEST(GnomeExtension, ReportsWhatTheShellHasFromTheShellAlone) {
    std::string error;
    const std::unique_ptr<CompositorSession> shell =
        CompositorSession::Start(Compositor::Gnome, &error);
    ASSERT_NE(shell, nullptr) << "the headless GNOME Shell: " << error;
    Process native({{"gjs", VELLOMAR_NATIVE_WINDOW_JS, "native window"},
                    {"GDK_BACKEND=wayland", "GSK_RENDERER=cairo"},
                    {}});
    Process x11(
        {{"xmessage", "-name", "x11-window", "-title", "X11 window", "an X11 window"}, {}, {}});
    std::string xid;
    ASSERT_TRUE(WaitUntil([&] { return !(xid = X11WindowId()).empty(); }, 10s));
    ASSERT_TRUE(WaitUntil([&] { return shell->CaptionOf(native.pid()) == "native window"; }, 10s));
    // What the check prints stays in the build tree.
    const std::string dir = VELLOMAR_CHECK_OUTPUT_DIR;
    std::filesystem::create_directories(dir);
    Process check({{"/usr/bin/python3", VELLOMAR_EXTENSION_CHECK, "check", shell->ReaderExtension(),
                    "native window", "X11 window", xid},
                   {"NATIVE_PID=" + std::to_string(native.pid()),
                    "X11_PID=" + std::to_string(x11.pid()), "EXTENSION_TYPE=2"},
                   dir});
    const std::optional<int> status = check.Wait(180s);
    EXPECT_EQ(status, 0) << check.Stdout() << check.Stderr();
    EXPECT_NE(check.Stdout().find("ALL PASSED"), std::string::npos) << check.Stdout();
}

}  // namespace

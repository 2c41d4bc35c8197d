// The KWin reader against a real headless KWin with Xwayland: a native Wayland window and an X11
// window, the pointer moved over each, a window that ends, and the script gone after the reader.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <functional>

#include "tests/support/compositor_session.h"
#include "winsys/kwin_reader.h"

// Last: Xlib's macros (Bool, Status, None) break Qt's headers.
#include <X11/Xlib.h>

namespace {

using namespace std::chrono_literals;

bool Spin(const std::function<bool()>& ready) {
    return WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            return ready();
        },
        10000ms);
}

TEST(KWinReaderSession, ReadsNativeAndX11WindowsUnderThePointer) {
    std::string error;
    std::unique_ptr<CompositorSession> session = CompositorSession::Start(Compositor::KWin, &error);
    ASSERT_NE(session, nullptr) << "the headless KWin: " << error;
    int argc = 1;
    char name[] = "kwin_reader_session_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    const std::string native_title = "native ✓ window";
    Process native(
        Process::Options{{VELLOMAR_WAYLAND_WINDOW, native_title}, {"QT_QPA_PLATFORM=wayland"}, {}});

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window x11 =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 300, 200, 0, 0, 0xffffff);
    const std::string x11_title = "x11 ✓ window";
    XChangeProperty(display, x11, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(x11_title.data()),
                    static_cast<int>(x11_title.size()));
    XMapWindow(display, x11);
    XFlush(display);

    std::unique_ptr<KWinReader> reader = KWinReader::Start(&error);
    ASSERT_NE(reader, nullptr) << error;
    EXPECT_TRUE(session->ScriptLoaded(reader->script_name().toStdString()));

    auto placed = [&](const std::string& title, int x) {
        return Spin([&] { return session->PlaceWindow(title, x, 100, 300, 200); }) &&
               session->MovePointer(x + 150, 200) && Spin([&] {
                   const CompositorWindow* w = reader->state().under();
                   return w != nullptr && w->caption == title && w->frame.left == x;
               });
    };
    ASSERT_TRUE(placed(native_title, 100));
    const CompositorWindow native_window = *reader->state().under();
    EXPECT_EQ(native_window.xid, 0u);
    EXPECT_EQ(native_window.frame.left, 100);
    EXPECT_EQ(native_window.frame.bottom, 300);

    ASSERT_TRUE(placed(x11_title, 600));
    // KWin 5.27 tells the X id; KWin 6 tells none, and velmo matches the window itself.
    EXPECT_EQ(reader->state().under()->xid, session->major_version() == 5 ? x11 : 0u);

    // Off every window; the pointer is told with each change of the window under it.
    ASSERT_TRUE(session->MovePointer(1200, 1000));
    EXPECT_TRUE(Spin([&] { return reader->state().under() == nullptr; }));
    EXPECT_EQ(reader->state().pointer().x, 1200);

    // A second window of the same caption, which KWin 5.27 shows as "caption <2>", reads as the
    // caption its application set.
    Process twin(
        Process::Options{{VELLOMAR_WAYLAND_WINDOW, native_title}, {"QT_QPA_PLATFORM=wayland"}, {}});
    ASSERT_TRUE(Spin([&] { return session->PlaceWindowOf(twin.pid(), 900, 400, 300, 200); }));
    if (session->major_version() == 5) {
        EXPECT_NE(session->CaptionOf(twin.pid()), native_title);
    }
    ASSERT_TRUE(session->MovePointer(1050, 500));
    EXPECT_TRUE(Spin([&] {
        const CompositorWindow* w = reader->state().under();
        return w != nullptr && w->id != native_window.id && w->caption == native_title;
    }));

    // A window that ends is no longer a window, though the pointer is elsewhere.
    EXPECT_TRUE(reader->IsWindow(native_window.id));
    native.Stop();
    EXPECT_TRUE(Spin([&] { return !reader->IsWindow(native_window.id); }));

    const QString script = reader->script_name();
    reader.reset();
    EXPECT_FALSE(session->ScriptLoaded(script.toStdString()));
    XCloseDisplay(display);
}

}  // namespace

// The Linux program: Form1 on Qt 6 Widgets over X11, reading native Wayland windows through
// KWin where Plasma runs on Wayland, and through our Shell extension where GNOME does.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <memory>
#include <string>
#include <string_view>

#include "mainwindow/qt/form1.h"
#include "target/keeping.h"
#include "winsys/compositor_window_system.h"
#include "winsys/gnome_reader.h"
#include "winsys/kwin_reader.h"
#include "winsys/platform.h"
#include "winsys/x11_window_system.h"

namespace {

// The program works on X window ids, so it runs on X11 (through Xwayland under Wayland).
// Qt's own high-DPI scaling stays off: the layout turns twips into device pixels at the
// screen's logical density itself, and the two must not multiply.
void ChooseQtPlatform() {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    unsetenv("QT_SCALE_FACTOR");
    unsetenv("QT_SCREEN_SCALE_FACTORS");
    // Widgets paint in software; loading OpenGL would only cost memory and start-up time.
    setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    // The window needs core pointer and key events only. Qt's XInput 2 support rebuilds its
    // list of touch devices when a device comes or goes, and can crash doing so (a tablet
    // plugged in, a remote-input tool started, a compositor's virtual device first used).
    setenv("QT_XCB_NO_XI2", "1", 1);
}

// Once the X server is gone, Qt reports it in several ways before it ends the program: warnings
// about atoms and keymaps it could no longer read, its own line on the broken connection, then
// Xlib's. The user is told once, in the backend's words.
QtMessageHandler qt_message_handler = nullptr;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    X11WindowSystem::EndIfAnyConnectionLost();
    if (qt_message_handler != nullptr) {
        qt_message_handler(type, context, text);
    }
}

void SpeakOnceForQtOnLostConnection(const QApplication& app) {
    const auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->display() == nullptr) {
        return;
    }
    X11WindowSystem::EndOnLostConnection(x11->display());
    qt_message_handler = qInstallMessageHandler(&OnQtMessage);
}

// SIGTERM, SIGINT and SIGHUP (a session that ends) leave the event loop as closing the window
// does, so that the program undoes what it set up outside itself (KWin's script).
int signal_pipe[2] = {-1, -1};

void OnEndSignal(int) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
}

void QuitOnEndSignals(QApplication& app) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
    struct sigaction action {};
    action.sa_handler = &OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

bool UnderWayland() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland != nullptr && *wayland != '\0';
}

constexpr char kHelp[] =
    "Usage: velmo [--help | --version]\n"
    "Shows, ten times a second, the title of the window under the mouse pointer, in a small\n"
    "window that stays above all others. Escape takes that title into the edit box; Enter\n"
    "writes the edit box into the window under the pointer as its new title.\n"
    "Shift+Enter writes and keeps the title; Shift+Escape gives the first title back.\n"
    "Super+Alt+C, Super+Alt+W, Super+Alt+Shift+W and Super+Alt+R do the same from any window.\n"
    "See velmo(1).\n";
constexpr char kVersion[] = "velmo (Vellomar v1.0) 1.00\n";

// The two options are answered before any display is opened. Returns the exit status when the
// program is to end at once, or -1 to run.
int AnswerCommandLine(int argc, char** argv) {
    if (argc <= 1) {
        return -1;
    }
    const std::string_view option = argv[1];
    const bool help = option == "--help";
    if (argc == 2 && (help || option == "--version")) {
        std::fputs(help ? kHelp : kVersion, stdout);
        return 0;
    }
    // The first argument that is not understood: an option followed by anything is too much.
    const char* unknown = help || option == "--version" ? argv[2] : argv[1];
    std::fprintf(stderr, "velmo: unexpected argument '%s' (see velmo --help)\n", unknown);
    return 2;
}

// Runs Form1 on one platform: the keeping rules composed with its store of titles, its
// global keys bound, and its events pumped whenever they may have come.
template <typename Title>
int Run(QApplication& app, Platform<Title>& platform) {
    KeptTitles<Title> kept(platform, platform);
    Form1 form(kept, kept, platform, platform);
    // The keys of the two buttons for desktops where the focus follows the pointer onto the
    // target: Enter and Escape would then go to the target, never to Form1.
    platform.BindGlobalKeys({{"Super+Alt+C", [&form] { form.ClickCommand1(1); }},
                             {"Super+Alt+W", [&form] { form.ClickCommand1(0); }},
                             {"Super+Alt+Shift+W", [&form] { form.WriteAndKeep(); }},
                             {"Super+Alt+R", [&form] { form.GiveBack(); }}});

    std::optional<QSocketNotifier> events;
    if (const int fd = platform.EventDescriptor(); fd >= 0) {
        events.emplace(fd, QSocketNotifier::Read);
        QObject::connect(&*events, &QSocketNotifier::activated, [&] { platform.Pump(); });
    }
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     [&] { platform.Pump(); });
    form.ShowAndLoad();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = AnswerCommandLine(argc, argv); status >= 0) {
        return status;
    }
    ChooseQtPlatform();

    std::string error;
    std::unique_ptr<X11WindowSystem> x11 = X11WindowSystem::Open(nullptr, &error);
    if (x11 == nullptr) {
        std::fprintf(stderr, "velmo: %s\n", error.c_str());
        return 1;
    }

    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    // Qt gets no arguments; in particular none of its own (-platform, -display).
    int qt_argc = argc > 0 ? 1 : 0;
    QApplication app(qt_argc, argv);
    SpeakOnceForQtOnLostConnection(app);
    QuitOnEndSignals(app);
    // Under Wayland, X11 sees X11 windows only; KWin or GNOME Shell, where one runs, tells of
    // native ones too.
    if (UnderWayland()) {
        std::unique_ptr<CompositorReader> reader;
        if (GnomeReader::ShellOnBus()) {
            reader = GnomeReader::Start(&error);
        } else {
            reader = KWinReader::Start(&error);
        }
        if (reader != nullptr) {
            CompositorWindowSystem compositor(*x11, std::move(reader));
            return Run(app, compositor);
        }
        TellUser("native Wayland windows cannot be seen on this desktop (" + error + ")");
    }
    return Run(app, *x11);
}

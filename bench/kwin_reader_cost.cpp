// What the KWin reader costs at rest: a headless KWin with a native window under a still
// pointer, and the processor time of this process (the reader's side) and of KWin over a
// stretch of seconds. Usage: kwin_reader_cost [seconds]
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <string>

#include "tests/support/compositor_session.h"
#include "winsys/kwin_reader.h"

double StatMilliseconds(pid_t pid) {
    return std::chrono::duration<double, std::milli>(ProcessorTimeWithEndedThreads(pid)).count();
}

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
        return 2;
    }
    std::string error;
    std::unique_ptr<CompositorSession> session = CompositorSession::Start(Compositor::KWin, &error);
    if (!session) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    QCoreApplication app(argc, argv);
    Process native(
        Process::Options{{VELLOMAR_WAYLAND_WINDOW, "at rest"}, {"QT_QPA_PLATFORM=wayland"}, {}});
    std::unique_ptr<KWinReader> reader = KWinReader::Start(&error);
    if (!reader) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // The window placed under the pointer, and the reader told so.
    WaitUntil(
        [&] {
            session->PlaceWindow("at rest", 100, 100, 400, 300);
            session->MovePointer(300, 250);
            QCoreApplication::processEvents();
            const CompositorWindow* w = reader->state().under();
            return w != nullptr && w->caption == "at rest";
        },
        15000ms);
    int reports = 0;
    QObject::connect(reader.get(), &KWinReader::Changed, [&] { ++reports; });
    QTimer::singleShot(3000, &app, &QCoreApplication::quit);  // settle
    app.exec();
    const CompositorWindow* under = reader->state().under();
    const int settled_reports = reports;
    const auto self0 = ProcessorTime(getpid());
    const double kwin0 = StatMilliseconds(session->process().pid());
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double self =
        std::chrono::duration<double, std::milli>(ProcessorTime(getpid()) - self0).count();
    const double kwin = StatMilliseconds(session->process().pid()) - kwin0;
    std::printf(
        "under \"%s\"; %d reports at rest in %d s; reader %.1f ms, KWin %.1f ms "
        "(%.3f%% and %.3f%% of a core)\n",
        under ? under->caption.c_str() : "", reports - settled_reports, seconds, self, kwin,
        self / (seconds * 10.0), kwin / (seconds * 10.0));
    return 0;
}

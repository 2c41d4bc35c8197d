// What Qt's event loop costs a program that follows the pointer as velmo does: one Qt Widgets
// window, shown as velmo's is, and a QTimer that calls XQueryPointer on a connection of its own
// ten times a second, and nothing else. velmo_bench holds velmo and the bare poll against it.
// Runs on $DISPLAY until it is ended by a signal.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // The platform and the paint path that velmo chooses for itself.
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("qt_pointer_poll: cannot open the X display\n", stderr);
        return 1;
    }
    int qt_argc = argc > 0 ? 1 : 0;
    QApplication app(qt_argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("qt_pointer_poll"));
    window.setFixedSize(240, 120);
    window.show();

    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [display] {
        Window root = 0, child = 0;
        int root_x = 0, root_y = 0, x = 0, y = 0;
        unsigned int mask = 0;
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &root_x, &root_y, &x, &y,
                      &mask);
    });
    timer.start();
    return app.exec();
}

// The Linux program: Form1 on Qt 6 Widgets over X11.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "mainwindow/qt/form1.h"
#include "winsys/x11_window_system.h"

namespace {

// The program works on X window ids, so it runs on X11 only (through XWayland under Wayland).
// Qt's own high-DPI scaling stays off: the layout turns twips into device pixels at the
// screen's logical density itself, and the two must not multiply.
void ChooseQtPlatform() {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    unsetenv("QT_SCALE_FACTOR");
    unsetenv("QT_SCREEN_SCALE_FACTORS");
    // Widgets paint in software; loading OpenGL would only cost memory and start-up time.
    setenv("QT_XCB_GL_INTEGRATION", "none", 1);
}

}  // namespace

int main(int argc, char** argv) {
    ChooseQtPlatform();

    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(stderr, "velmo: no X display: DISPLAY is not set (velmo runs on X11)\n");
        return 1;
    }
    std::string error;
    std::unique_ptr<X11WindowSystem> windows = X11WindowSystem::Open(display, &error);
    if (windows == nullptr) {
        std::fprintf(stderr, "velmo: cannot open the X display %s: %s\n", display, error.c_str());
        return 1;
    }

    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    // The program takes no arguments; in particular none of Qt's (-platform, -display).
    int qt_argc = argc > 0 ? 1 : 0;
    QApplication app(qt_argc, argv);
    Form1 form(*windows);
    form.ShowAndLoad();
    return app.exec();
}

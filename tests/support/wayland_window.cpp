// A native Wayland window for the KWin tests: shows a plain window titled by its first argument
// until it is ended. Started with QT_QPA_PLATFORM=wayland.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("native"));
    window.resize(300, 200);
    window.show();
    return app.exec();
}

#include "mainwindow/form_load.h"

void Form_Load(WindowSystem& windows, HWND Form1) {
    RECT r{};
    windows.GetWindowRect(Form1, &r);
    windows.SetWindowPos(Form1, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_SHOWWINDOW | SWP_NOACTIVATE);
}

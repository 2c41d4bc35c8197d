#include "target/target.h"

#include <cstring>

namespace {

// Command1_Click(0); false when nothing was written.
bool WriteText1(WindowSystem& windows, HWND TargetWindow, FormTexts& form) {
    if (!windows.IsWindow(TargetWindow)) {
        return false;
    }
    // A text that cannot be converted is not turned into an empty title.
    const std::optional<std::string> text = form.Text1Text();
    if (!text) {
        return false;
    }
    windows.SetWindowTextA(TargetWindow, text->c_str());
    windows.UpdateWindow(TargetWindow);
    return true;
}

}  // namespace

void Timer1_Timer(WindowSystem& windows, HWND& TargetWindow, FormTexts& form) {
    POINT pt{};
    windows.GetCursorPos(&pt);

    // Stored before any test, so a point over no window leaves no stale target behind.
    TargetWindow = windows.WindowFromPoint(pt.x, pt.y);
    if (!windows.IsWindow(TargetWindow)) {
        return;
    }

    char TitleBuffer[kTitleBufferSize] = {};
    windows.GetWindowTextA(TargetWindow, TitleBuffer, kTitleBufferSize);
    // Bounded by the buffer even if the window system forgot the terminating zero.
    form.SetLabel2Caption(std::string(TitleBuffer, strnlen(TitleBuffer, sizeof TitleBuffer)));
}

void Command1_Click(WindowSystem& windows, HWND TargetWindow, FormTexts& form, int index) {
    switch (index) {
        case 0:
            WriteText1(windows, TargetWindow, form);
            break;
        case 1:
            // Copies what the display last showed, even if that window has gone since.
            form.SetText1Text(form.Label2Caption());
            break;
        default:
            break;
    }
}

void WriteAndKeep(WindowSystem& windows, TitleKeeping& keeping, HWND TargetWindow,
                  FormTexts& form) {
    // Only a title just written is kept: where nothing was written, an earlier one stays unkept.
    if (WriteText1(windows, TargetWindow, form)) {
        keeping.KeepTitle(TargetWindow);
    }
}

void GiveBack(TitleKeeping& keeping, HWND TargetWindow) {
    keeping.GiveTitleBack(TargetWindow);
}

// Velmo.exe: creates Form1, runs Form_Load, shows the window and runs its message loop until
// the window is closed.
#include <cstring>

#include "mainwindow/form_load.h"
#include "mainwindow/win32/form1.h"
#include "target/keeping.h"
#include "winsys/user32_title_store.h"
#include "winsys/user32_window_system.h"

#include <commctrl.h>

namespace {

void WriteToStderr(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
}

// With VELLOMAR_TRACE_BINDING set, each lookup of user32 and of its functions is written to
// stderr as "<name> found" or "<name> missing", one line each, as it happens.
void TraceBinding(const char* name, bool found) {
    WriteToStderr(name);
    WriteToStderr(found ? " found\n" : " missing\n");
}

bool Activates(int show) {
    switch (show) {
        case SW_HIDE:
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
        case SW_SHOWNA:
        case SW_SHOWNOACTIVATE:
            return false;
        default:
            return true;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    const bool trace = GetEnvironmentVariableW(L"VELLOMAR_TRACE_BINDING", nullptr, 0) != 0;
    User32WindowSystem windows("user32", trace ? TraceBinding : nullptr);

    // The manifest asks for version 6 of the common controls, which draw the buttons themed.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // The handlers write through keeping, which records the first title and keeps what is
    // written with Shift+Enter, over the store of titles that Form1 pumps at each tick.
    User32TitleStore store(windows);
    KeptTitles<std::wstring> kept(windows, store);
    Form1 form(kept, kept, store);
    if (!form.Create(instance)) {
        WriteToStderr("Velmo: cannot create its window\n");
        return 1;
    }
    Form_Load(windows, form.hwnd());
    form.StartTimer1();
    // Form_Load has shown the window without activating it; as the program's main window it
    // now takes the keyboard, unless it was asked to start minimised or in the background.
    ShowWindow(form.hwnd(), show);
    if (Activates(show)) {
        SetForegroundWindow(form.hwnd());
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!form.HandleDialogKeys(&message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

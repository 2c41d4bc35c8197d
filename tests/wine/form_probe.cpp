#include "tests/wine/form_probe.h"

#include <commctrl.h>

#include "mainwindow/win32/form1.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK
    FormProbeHook(int code, WPARAM wparam, LPARAM lparam) {
    static const UINT probe = RegisterWindowMessageW(kFormProbeMessage);
    const MSG* message = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && message->message == probe) {
        FormProbeAnswer answer{};
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(message->hwnd, WM_GETFONT, 0, 0));
        answer.font = font;
        answer.read =
            GetObjectW(font, sizeof answer.requested, &answer.requested) == sizeof answer.requested;
        HDC dc = GetDC(message->hwnd);
        HGDIOBJ old = SelectObject(dc, font);
        GetTextFaceW(dc, LF_FACESIZE, answer.realized);
        answer.realized_charset = GetTextCharset(dc);
        SelectObject(dc, old);
        ReleaseDC(message->hwnd, dc);
        // Form1 keeps itself in its window's user data; the probed window is it or its child.
        HWND root = GetAncestor(message->hwnd, GA_ROOT);
        const auto* form = reinterpret_cast<const Form1*>(GetWindowLongPtrW(root, GWLP_USERDATA));
        answer.target = form != nullptr ? form->TargetWindow : nullptr;
        answer.form = form;
        if (form != nullptr) {
            form->Label1Caption().copy(answer.label1, std::size(answer.label1) - 1);
        }
        SIZE ideal{};
        answer.common_controls_6 =
            SendMessageW(FindWindowExW(root, nullptr, L"Button", nullptr), BCM_GETIDEALSIZE, 0,
                         reinterpret_cast<LPARAM>(&ideal)) != 0;
        COPYDATASTRUCT copy = {kFormProbeAnswer, sizeof answer, &answer};
        SendMessageW(reinterpret_cast<HWND>(message->wParam), WM_COPYDATA,
                     reinterpret_cast<WPARAM>(message->hwnd), reinterpret_cast<LPARAM>(&copy));
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

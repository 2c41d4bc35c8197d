#include "tests/wine/font_probe.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK
    FontProbeHook(int code, WPARAM wparam, LPARAM lparam) {
    static const UINT probe = RegisterWindowMessageW(kFontProbeMessage);
    const MSG* message = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && message->message == probe) {
        FontProbeAnswer answer{};
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
        COPYDATASTRUCT copy = {kFontProbeAnswer, sizeof answer, &answer};
        SendMessageW(reinterpret_cast<HWND>(message->wParam), WM_COPYDATA,
                     reinterpret_cast<WPARAM>(message->hwnd), reinterpret_cast<LPARAM>(&copy));
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

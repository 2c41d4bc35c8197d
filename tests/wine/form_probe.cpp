#include "tests/wine/form_probe.h"

#include <commctrl.h>

#include <cstdint>
#include <string>

#include "mainwindow/layout.h"
#include "target/target.h"

namespace {

static_assert(sizeof FormProbeAnswer::label2 == kTitleBufferSize &&
              sizeof FormProbeAnswer::title == kTitleBufferSize);

// Has `form` paint its client area into a bitmap of the probe's own and reads Label1's part.
void ReadLabel1(HWND form, FormProbeAnswer* answer) {
    RECT client;
    GetClientRect(form, &client);
    BITMAPINFO info{};
    info.bmiHeader = {
        sizeof info.bmiHeader, client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        DeleteDC(dc);
        return;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(form, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();

    // Where Form1 lays Label1 out, at the system's density as Form1 reads it.
    HDC screen = GetDC(nullptr);
    const layout::PixelRect r =
        layout::ToPixels(layout::kLabel1, GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const std::uint32_t background = GetRValue(face) << 16 | GetGValue(face) << 8 | GetBValue(face);
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    std::uint64_t hash = 14695981039346656037u;  // FNV-1a
    for (int y = r.top; y < r.top + r.height && y < client.bottom; ++y) {
        for (int x = r.left; x < r.left + r.width && x < client.right; ++x) {
            const std::uint32_t pixel = pixels[y * client.right + x] & 0xffffff;
            hash = (hash ^ pixel) * 1099511628211u;
            answer->label1_ink += pixel != background ? 1 : 0;
        }
    }
    answer->label1_hash = hash;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

}  // namespace

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
        // Its texts are reached through FormTexts, its first base, as the handlers reach them.
        HWND root = GetAncestor(message->hwnd, GA_ROOT);
        const auto* form =
            reinterpret_cast<const FormTexts*>(GetWindowLongPtrW(root, GWLP_USERDATA));
        answer.form = form;
        if (form != nullptr) {
            form->Label2Caption().copy(answer.label2, sizeof answer.label2 - 1);
            ReadLabel1(root, &answer);
        }
        if (HWND titled = reinterpret_cast<HWND>(message->lParam); titled != nullptr) {
            GetWindowTextA(titled, answer.title, sizeof answer.title);
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

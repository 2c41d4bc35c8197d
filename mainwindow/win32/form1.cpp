#include "mainwindow/win32/form1.h"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "mainwindow/win32/font_cmap.h"
#include "mainwindow/win32/text.h"
#include "resources/velmo_ids.h"
#include "winsys/user32_text.h"

namespace {

constexpr wchar_t kClassName[] = L"Vellomar.Form1";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = 0;
constexpr UINT_PTR kTimer1 = 1;
constexpr int kText1Id = 100;
// Enter and Escape reach the buttons through the ids the dialog manager gives those roles.
constexpr int kWriteButtonId = IDOK;
constexpr int kCaptureButtonId = IDCANCEL;

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// Whether a face of that name with Japanese glyphs is installed.
bool HasJapaneseFace(const std::wstring& face) {
    LOGFONTW query{};
    query.lfCharSet = SHIFTJIS_CHARSET;
    face.copy(query.lfFaceName, LF_FACESIZE - 1);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &query, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The layout's face where it is installed, else the first installed Japanese fallback; if none
// is, the layout's face still, and the font mapper picks the nearest Japanese face.
std::wstring ChooseFace() {
    const std::wstring wanted = Utf8ToWide(layout::kFontFace);
    if (HasJapaneseFace(wanted)) {
        return wanted;
    }
    for (std::string_view fallback : layout::kFontFallbacks) {
        std::wstring face = Utf8ToWide(fallback);
        if (HasJapaneseFace(face)) {
            return face;
        }
    }
    return wanted;
}

HFONT CreateFormFont(int dpi) {
    return CreateFontW(-MulDiv(layout::kFontPoints, dpi, 72), 0, 0, 0, layout::kFontWeight, FALSE,
                       FALSE, FALSE, layout::kFontCharset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, VARIABLE_PITCH | FF_DONTCARE, ChooseFace().c_str());
}

// The table tag GetFontData takes: the four letters as they lie in the file.
constexpr DWORD kCmapTag = 'c' | 'm' << 8 | 'a' << 16 | 'p' << 24;
constexpr char32_t kPin = 0x1f4cc;

// Whether the font itself has a glyph for `character`, without the fonts the system would draw
// it with instead.
bool FontHasCharacter(HFONT font, char32_t character) {
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, font);
    std::vector<std::byte> cmap;
    const DWORD size = GetFontData(screen, kCmapTag, 0, nullptr, 0);
    if (size != GDI_ERROR && size > 0) {
        cmap.resize(size);
        if (GetFontData(screen, kCmapTag, 0, cmap.data(), size) != size) {
            cmap.clear();
        }
    }
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return CmapMapsCharacter(cmap, character);
}

RECT ToRect(const layout::PixelRect& r) {
    return {r.left, r.top, r.left + r.width, r.top + r.height};
}

}  // namespace

bool Form1::Create(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELMO), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELMO), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    wc.lpszClassName = kClassName;
    if (RegisterClassExW(&wc) == 0) {
        return false;
    }

    // The initial position places the outer frame; the size is that of the client area.
    dpi_ = SystemDpi();
    RECT frame = {0, 0, layout::TwipsToPixels(layout::kClientWidth, dpi_),
                  layout::TwipsToPixels(layout::kClientHeight, dpi_)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    const std::wstring caption = Utf8ToWide(layout::kCaption);
    HWND created =
        CreateWindowExW(kExStyle, kClassName, caption.c_str(), kStyle,
                        layout::TwipsToPixels(layout::kFormLeft, dpi_),
                        layout::TwipsToPixels(layout::kFormTop, dpi_), frame.right - frame.left,
                        frame.bottom - frame.top, nullptr, nullptr, instance, this);
    // hwnd_ is set as the window is being made; a window whose creation failed is gone.
    hwnd_ = created;
    return created != nullptr;
}

void Form1::StartTimer1() {
    SetTimer(hwnd_, kTimer1, layout::kTimerIntervalMs, nullptr);
}

bool Form1::HandleDialogKeys(MSG* message) {
    // With Shift, Enter and Escape keep and give back, whichever control holds the focus; the
    // key state is the one of when the message was queued.
    if (message->message == WM_KEYDOWN && GetKeyState(VK_SHIFT) < 0 &&
        (message->hwnd == hwnd_ || IsChild(hwnd_, message->hwnd))) {
        if (message->wParam == VK_RETURN) {
            OnWriteAndKeep();
            return true;
        }
        if (message->wParam == VK_ESCAPE) {
            OnGiveBack();
            return true;
        }
    }
    return IsDialogMessageW(hwnd_, message) != FALSE;
}

std::string Form1::Label2Caption() const {
    return label2_;
}

void Form1::SetLabel2Caption(const std::string& caption) {
    if (caption == label2_) {
        return;  // the same pixels again: nothing to repaint
    }
    // Text that cannot be shown leaves the caption as it was, so that a capture takes what is
    // shown.
    std::optional<std::wstring> shown = AnsiToWide(caption, CP_ACP);
    if (!shown) {
        return;
    }
    label2_ = caption;
    label2_shown_ = std::move(*shown);
    const RECT r = ClientPixels(layout::kLabel2);
    InvalidateRect(hwnd_, &r, FALSE);
}

std::optional<std::string> Form1::Text1Text() const {
    return WideToAnsi(WindowTextW(text1_), CP_ACP);
}

void Form1::SetText1Text(const std::string& text) {
    if (const std::optional<std::wstring> wide = AnsiToWide(text, CP_ACP)) {
        SetWindowTextW(text1_, wide->c_str());
    }
}

LRESULT CALLBACK Form1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        form->hwnd_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr) {
        return DefWindowProcW(window, message, wparam, lparam);
    }
    return form->Dispatch(message, wparam, lparam);
}

LRESULT Form1::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate() ? 0 : -1;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_ACTIVATE:
            OnActivate(LOWORD(wparam));
            break;  // the default sets the focus on Form1, which hands it on in WM_SETFOCUS
        case WM_SETFOCUS:
            OnSetFocus();
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the paint covers every pixel
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_PRINTCLIENT:
            OnPrintClient(reinterpret_cast<HDC>(wparam));
            return 0;
        case WM_TIMER:
            OnTimer(wparam);
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(font_);
        case DM_GETDEFID:
            return MAKELRESULT(kWriteButtonId, DC_HASDEFID);
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wparam, lparam);
}

bool Form1::OnCreate() {
    font_ = CreateFormFont(dpi_);
    label1_ = Utf8ToWide(layout::kLabel1.initial_text);
    kept_mark_ = FontHasCharacter(font_, kPin) ? L" \U0001F4CC" : L" [keep]";
    CreateControls();
    return text1_ != nullptr;
}

void Form1::OnDestroy() {
    // The controls are destroyed after Form1 is told of its end: they get the system font back
    // before the font they were given goes.
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageW(child, WM_SETFONT, 0, FALSE);
    }
    DeleteObject(font_);
    font_ = nullptr;
    PostQuitMessage(0);
}

void Form1::OnActivate(UINT state) {
    if (state == WA_INACTIVE) {
        HWND focus = GetFocus();
        last_focus_ = focus != nullptr && IsChild(hwnd_, focus) ? focus : nullptr;
    }
}

void Form1::OnSetFocus() {
    SetFocus(last_focus_ != nullptr ? last_focus_ : text1_);
}

void Form1::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    // Drawn off screen and copied in one go, so the labels never flicker.
    RECT client;
    GetClientRect(hwnd_, &client);
    HDC buffer = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old_bitmap = SelectObject(buffer, bitmap);
    Paint(buffer);
    BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
           ps.rcPaint.bottom - ps.rcPaint.top, buffer, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    SelectObject(buffer, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(buffer);
    EndPaint(hwnd_, &ps);
}

void Form1::OnPrintClient(HDC dc) {
    Paint(dc);
}

void Form1::OnTimer(UINT_PTR id) {
    if (id == kTimer1) {
        Timer1_Timer(windows_, TargetWindow, *this);
        events_.Pump();
        ShowKept();
    }
}

void Form1::OnCommand(int id, int code) {
    if (code != BN_CLICKED) {
        return;
    }
    if (id == kWriteButtonId) {
        Command1_Click(windows_, TargetWindow, *this, 0);
        ShowKept();  // a plain write ends keeping
    } else if (id == kCaptureButtonId) {
        Command1_Click(windows_, TargetWindow, *this, 1);
    }
}

void Form1::OnWriteAndKeep() {
    WriteAndKeep(windows_, keeping_, TargetWindow, *this);
    ShowKept();
}

void Form1::OnGiveBack() {
    GiveBack(keeping_, TargetWindow);
    ShowKept();
}

void Form1::ShowKept() {
    const bool kept = keeping_.IsTitleKept(TargetWindow);
    if (kept == target_kept_) {
        return;
    }
    target_kept_ = kept;
    label1_ = Utf8ToWide(layout::kLabel1.initial_text) + (kept ? kept_mark_ : L"");
    const RECT r = ClientPixels(layout::kLabel1);
    InvalidateRect(hwnd_, &r, FALSE);
}

void Form1::CreateControls() {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    // Made in the order of their tab indices: the dialog manager tabs in the order of making.
    for (const layout::Control* in_order : layout::InTabOrder()) {
        const layout::Control& c = *in_order;
        const wchar_t* window_class = nullptr;
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD ex_style = 0;
        int id = 0;
        switch (c.kind) {
            case layout::Kind::Label:
                continue;  // painted by Form1
            case layout::Kind::Edit:
                window_class = L"EDIT";
                style |= ES_AUTOHSCROLL;
                ex_style = WS_EX_CLIENTEDGE;
                id = kText1Id;
                break;
            case layout::Kind::Button:
                window_class = L"BUTTON";
                style |= c.index == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
                id = c.index == 0 ? kWriteButtonId : kCaptureButtonId;
                break;
        }
        if (c.tab_stop) {
            style |= WS_TABSTOP;
        }
        const RECT r = ClientPixels(c);
        HWND control =
            CreateWindowExW(ex_style, window_class, Utf8ToWide(c.initial_text).c_str(), style,
                            r.left, r.top, r.right - r.left, r.bottom - r.top, hwnd_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        if (c.kind == layout::Kind::Edit) {
            SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // 0: as long as the system allows
            text1_ = control;
        }
    }
}

void Form1::Paint(HDC dc) {
    RECT client;
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ old_font = SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    // Plain text, centred, wrapped inside the label and clipped to it; & is just a character.
    const UINT format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;

    for (const auto& [label, text] :
         {std::pair{&layout::kLabel1, &label1_}, std::pair{&layout::kLabel2, &label2_shown_}}) {
        RECT r = ClientPixels(*label);
        if (label->border) {
            FrameRect(dc, &r, GetSysColorBrush(COLOR_WINDOWFRAME));
            InflateRect(&r, -1, -1);
        }
        DrawTextW(dc, text->c_str(), static_cast<int>(text->size()), &r, format);
    }

    SelectObject(dc, old_font);
}

RECT Form1::ClientPixels(const layout::Control& control) const {
    return ToRect(layout::ToPixels(control, dpi_));
}

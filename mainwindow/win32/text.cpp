#include "mainwindow/win32/text.h"

#include "winsys/user32_text.h"

std::wstring Utf8ToWide(std::string_view text) {
    // The captions are ours and valid UTF-8.
    return AnsiToWide(text, CP_UTF8).value_or(std::wstring());
}

std::wstring WindowTextW(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

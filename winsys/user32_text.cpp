#include "winsys/user32_text.h"

#include <limits>

namespace {

// The number behind the code pages that stand for the system's choice, which decides the flags.
UINT Resolved(UINT code_page) {
    switch (code_page) {
        case CP_ACP:
            return GetACP();
        case CP_OEMCP:
            return GetOEMCP();
        default:
            return code_page;
    }
}

// Lengths beyond an int cannot be passed to the system.
bool FitsInt(std::size_t size) {
    return size <= static_cast<std::size_t>(std::numeric_limits<int>::max());
}

}  // namespace

DWORD WideToAnsiFlags(UINT code_page) {
    const UINT resolved = Resolved(code_page);
    switch (resolved) {
        case 42:     // Symbol
        case 50220:  // ISO-2022-JP and its variants
        case 50221:
        case 50222:
        case 50225:  // ISO-2022-KR
        case 50227:  // ISO-2022-CN
        case 50229:
        case 54936:  // GB18030
        case 65000:  // UTF-7
        case 65001:  // UTF-8
            return 0;
        default:
            // ISCII
            return resolved >= 57002 && resolved <= 57011 ? 0 : WC_NO_BEST_FIT_CHARS;
    }
}

std::optional<std::wstring> AnsiToWide(std::string_view text, UINT code_page) {
    if (text.empty()) {
        return std::wstring();
    }
    if (!FitsInt(text.size())) {
        return std::nullopt;
    }
    // No flag: every code page takes 0, and an invalid sequence becomes U+FFFD, not a failure.
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    if (length <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), length) != length) {
        return std::nullopt;
    }
    return wide;
}

std::optional<std::string> WideToAnsi(std::wstring_view text, UINT code_page) {
    if (text.empty()) {
        return std::string();
    }
    if (!FitsInt(text.size())) {
        return std::nullopt;
    }
    const DWORD flags = WideToAnsiFlags(code_page);
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(code_page, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string ansi(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(code_page, flags, text.data(), size, ansi.data(), length, nullptr,
                            nullptr) != length) {
        return std::nullopt;
    }
    return ansi;
}

// Text between UTF-16 and an 8-bit code page, as window text crosses between Unicode windows
// and the 8-bit variants of the window functions. A conversion the system refuses answers
// nothing, never an empty text: a caller then leaves the text it would have replaced alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "winsys/window_system.h"

// What a Unicode window holds once given `text` through an 8-bit function: the system converts
// it from the ANSI code page the same way.
std::optional<std::wstring> AnsiToWide(std::string_view text, UINT code_page);

// A character the code page cannot hold becomes the code page's default character; no
// look-alike is substituted for it where the code page lets that be asked for.
std::optional<std::string> WideToAnsi(std::wstring_view text, UINT code_page);

// The flags WideToAnsi converts to `code_page` with: WC_NO_BEST_FIT_CHARS, except for the code
// pages that refuse every flag (UTF-8, GB18030, the ISO-2022 and ISCII families, UTF-7, Symbol).
DWORD WideToAnsiFlags(UINT code_page);

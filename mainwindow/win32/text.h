// Conversions between the three encodings Form1 meets: UTF-8 (the shared captions), the ANSI
// code page (window text across the WindowSystem boundary) and UTF-16 (Form1's own windows).
#pragma once

#include <string>
#include <string_view>

#include "winsys/window_system.h"

std::wstring Utf8ToWide(std::string_view text);
std::wstring AnsiToWide(std::string_view text);
// A character the ANSI code page cannot hold becomes the code page's default character; no
// look-alike is substituted for it.
std::string WideToAnsi(std::wstring_view text);

// The whole text of one of this process's own Unicode windows.
std::wstring WindowTextW(HWND window);

// The text Form1 meets besides window text across the WindowSystem boundary (whose conversions
// are in winsys/user32_text.h): the shared captions in UTF-8, and its own windows' UTF-16.
#pragma once

#include <string>
#include <string_view>

#include "winsys/window_system.h"

std::wstring Utf8ToWide(std::string_view text);

// The whole text of one of this process's own Unicode windows.
std::wstring WindowTextW(HWND window);

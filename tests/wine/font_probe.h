// A font handle means something only in the process that made it, so the tests read Form1's
// font from inside Velmo.exe: a message hook in font_probe.dll, set on Form1's thread, answers
// the probe message posted to a window by sending that window's font back with WM_COPYDATA.
#pragma once

#include <windows.h>

// Posted to the window whose font is wanted; wParam is the window that receives the answer.
inline constexpr wchar_t kFontProbeMessage[] = L"Vellomar.FontProbe";
// The dwData of the WM_COPYDATA that answers.
inline constexpr ULONG_PTR kFontProbeAnswer = 0x466f6e74;
// The exported name of the hook procedure (WH_GETMESSAGE).
inline constexpr char kFontProbeHook[] = "FontProbeHook";

struct FontProbeAnswer {
    HFONT font;                     // the window's WM_GETFONT, valid in Velmo.exe only
    BOOL read;                      // whether GetObject could read the font
    LOGFONTW requested;             // the font as it was created
    wchar_t realized[LF_FACESIZE];  // the face the font mapper chose for it
    int realized_charset;
};

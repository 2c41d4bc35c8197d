// Handles mean something only in the process that made them, so the tests read Form1's font
// and its TargetWindow from inside Velmo.exe: a message hook in form_probe.dll, set on Form1's
// thread, answers the probe message posted to one of Form1's windows by sending what it read
// there back with WM_COPYDATA. The probe is handled after every message posted before it.
#pragma once

#include <windows.h>

// Posted to the window to read; wParam is the window that receives the answer.
inline constexpr wchar_t kFormProbeMessage[] = L"Vellomar.FormProbe";
// The dwData of the WM_COPYDATA that answers.
inline constexpr ULONG_PTR kFormProbeAnswer = 0x466f726d;
// The exported name of the hook procedure (WH_GETMESSAGE).
inline constexpr char kFormProbeHook[] = "FormProbeHook";

struct FormProbeAnswer {
    HFONT font;                     // the window's WM_GETFONT, valid in Velmo.exe only
    BOOL read;                      // whether GetObject could read the font
    LOGFONTW requested;             // the font as it was created
    wchar_t realized[LF_FACESIZE];  // the face the font mapper chose for it
    int realized_charset;
    HWND target;  // Form1's TargetWindow: the window its latest tick found under the pointer
    // Whether Form1's buttons are those of the common controls 6, which the manifest asks for:
    // only they answer BCM_GETIDEALSIZE.
    BOOL common_controls_6;
    const void* form;    // where Form1 lives in Velmo.exe
    wchar_t label1[48];  // what Label1 shows, cut to fit
};

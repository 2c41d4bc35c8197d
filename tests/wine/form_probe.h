// Handles mean something only in the process that made them, so the tests read Form1's font,
// Label2's caption and how Label1 is painted from inside Velmo.exe: a message hook in
// form_probe.dll, set on Form1's thread, answers the probe message posted to one of Form1's
// windows by sending what it read there back with WM_COPYDATA. The probe is handled after every
// message posted before it.
#pragma once

#include <windows.h>

// Posted to the window to read; wParam is the window that receives the answer, lParam a window
// whose title is to be read as a tick of Timer1 reads it, or 0.
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
    // Whether Form1's buttons are those of the common controls 6, which the manifest asks for:
    // only they answer BCM_GETIDEALSIZE.
    BOOL common_controls_6;
    const void* form;  // where Form1 lives in Velmo.exe
    // Label2's caption as the handlers read it, and the title of the window of lParam as a tick
    // reads it, in the ANSI code page: the same once a tick has made that window the target.
    char label2[100];
    char title[100];
    // Label1 as Form1 paints it (WM_PRINTCLIENT): a hash of its pixels, and how many of them
    // differ from the background.
    unsigned long long label1_hash;
    int label1_ink;
};

// Form1 on raw Win32: the window, its three child controls, the two labels it paints itself,
// Timer1 and the keyboard roles of the two Command1 buttons, with Shift the keys of keeping.
#pragma once

#include <optional>
#include <string>

#include "mainwindow/layout.h"
#include "target/keeping.h"
#include "target/target.h"
#include "winsys/platform.h"
#include "winsys/window_system.h"

class Form1 final : public FormTexts {
  public:
    // The backend's faces: the eight operations (whose plain writes keeping sees), keeping
    // titles, and the source of events, pumped at each tick.
    Form1(WindowSystem& windows, TitleKeeping& keeping, EventSource& events)
        : windows_(windows), keeping_(keeping), events_(events) {}
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window, hidden, with its controls laid out at the system's density.
    // Returns false if the window cannot be created.
    bool Create(HINSTANCE instance);
    HWND hwnd() const { return hwnd_; }

    // Timer1 ticks from now on.
    void StartTimer1();

    // Gives a message of the loop to the keyboard roles (Enter, Escape, Tab; Shift+Enter and
    // Shift+Escape); true if it was handled there and must be neither translated nor dispatched.
    bool HandleDialogKeys(MSG* message);

    std::string Label2Caption() const override;
    void SetLabel2Caption(const std::string& caption) override;
    std::optional<std::string> Text1Text() const override;
    void SetText1Text(const std::string& text) override;

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Dispatch(UINT message, WPARAM wparam, LPARAM lparam);

    bool OnCreate();
    void OnDestroy();
    void OnActivate(UINT state);
    void OnSetFocus();
    void OnPaint();
    void OnPrintClient(HDC dc);
    void OnTimer(UINT_PTR id);
    void OnCommand(int id, int code);
    void OnWriteAndKeep();
    void OnGiveBack();
    void ShowKept();

    void CreateControls();
    void Paint(HDC dc);
    RECT ClientPixels(const layout::Control& control) const;

    WindowSystem& windows_;
    TitleKeeping& keeping_;
    EventSource& events_;
    // The window found under the pointer at the latest tick; 0 before the first.
    HWND TargetWindow = nullptr;
    HWND hwnd_ = nullptr;
    HWND text1_ = nullptr;
    HWND last_focus_ = nullptr;  // the control to give the focus back to on activation
    HFONT font_ = nullptr;
    int dpi_ = 96;
    std::wstring label1_;     // its caption, followed by a mark while TargetWindow's title is kept
    std::wstring kept_mark_;  // a pin where the font has one, else words
    bool target_kept_ = false;
    std::string label2_;  // in the ANSI code page, as the tracker gave it
    std::wstring label2_shown_;
};

// Form1 on raw Win32: the window, its three child controls, the two labels it paints itself,
// Timer1 and the keyboard roles of the two Command1 buttons.
#pragma once

#include <string>

#include "mainwindow/layout.h"
#include "target/target.h"
#include "winsys/window_system.h"

class Form1 final : public FormTexts {
  public:
    explicit Form1(WindowSystem& windows) : windows_(windows) {}
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window, hidden, with its controls laid out at the system's density.
    // Returns false if the window cannot be created.
    bool Create(HINSTANCE instance);
    HWND hwnd() const { return hwnd_; }

    // Timer1 ticks from now on.
    void StartTimer1();

    // Gives a message of the loop to the keyboard roles (Enter, Escape, Tab); true if it was
    // handled there and must be neither translated nor dispatched.
    bool HandleDialogKeys(MSG* message);

    std::string Label2Caption() const override;
    void SetLabel2Caption(const std::string& caption) override;
    std::string Text1Text() const override;
    void SetText1Text(const std::string& text) override;

    // The window found under the pointer at the latest tick; 0 before the first.
    HWND TargetWindow = nullptr;

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

    void CreateControls();
    void Paint(HDC dc);
    RECT ClientPixels(const layout::Control& control) const;

    WindowSystem& windows_;
    HWND hwnd_ = nullptr;
    HWND text1_ = nullptr;
    HWND last_focus_ = nullptr;  // the control to give the focus back to on activation
    HFONT font_ = nullptr;
    int dpi_ = 96;
    std::wstring label1_;
    std::string label2_;  // in the ANSI code page, as the tracker gave it
    std::wstring label2_shown_;
};

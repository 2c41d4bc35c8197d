// The two things the program does to the window under the pointer: follow it on every tick,
// and write to it or capture its text when a button is pressed; and where the window system
// can keep titles, write and keep, or give the first title back.
#pragma once

#include <optional>
#include <string>

#include "target/keeping.h"
#include "winsys/window_system.h"

// The texts of Form1 that the handlers read and write. Text is 8-bit, in the code page the
// window system uses for window text (the ANSI code page on Windows, UTF-8 on X11). Text1's
// text is nothing when it cannot be converted to that code page.
class FormTexts {
  public:
    virtual std::string Label2Caption() const = 0;
    virtual void SetLabel2Caption(const std::string& caption) = 0;
    virtual std::optional<std::string> Text1Text() const = 0;
    virtual void SetText1Text(const std::string& text) = 0;

  protected:
    ~FormTexts() = default;
};

// Bytes read from the target's text at each tick, the terminating zero included.
inline constexpr int kTitleBufferSize = 100;

// One tick of Timer1: make the window under the pointer the target and show its text.
void Timer1_Timer(WindowSystem& windows, HWND& TargetWindow, FormTexts& form);

// A press of button `index` of Command1: 0 writes Text1 into the target (nothing, if Text1's
// text cannot be converted), 1 captures Label2 into Text1; any other index does nothing.
void Command1_Click(WindowSystem& windows, HWND TargetWindow, FormTexts& form, int index);

// Writes as Command1_Click(0) does, then, if it wrote, keeps the target's title at what was
// written.
void WriteAndKeep(WindowSystem& windows, TitleKeeping& keeping, HWND TargetWindow, FormTexts& form);

// Gives the target the title it had before this program first wrote to it.
void GiveBack(TitleKeeping& keeping, HWND TargetWindow);

// The program's own windows, as a backend that cannot ask the toolkit learns of them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "winsys/window_system.h"

// One of the program's own windows (Form1, Text1, a button). It answers GetWindowTextA and
// SetWindowTextA itself, at once, as a process's own windows do on Windows.
struct OwnWindow {
    // Its text in UTF-8: at least the first `max_bytes` bytes of it where it has that many, so
    // that a long text need not be converted whole to answer a short read.
    std::function<std::string(std::size_t max_bytes)> text;
    std::function<void(const std::string&)> set_text;
    std::function<void()> repaint;  // what UpdateWindow does for it; may be empty
};

class OwnWindows {
  public:
    // Declares a window of this program; WindowFromPoint returns the deepest of them at a
    // point over them, and their texts come from `own` instead of the window system.
    virtual void DeclareOwnWindow(HWND window, OwnWindow own) = 0;
    // Calls `placed` once the window manager has placed `window`, a top-level window of ours,
    // where it stays (mapped, and framed where the window manager frames windows): when the
    // events tell so, or at once. One window is awaited at a time.
    virtual void WhenPlaced(HWND window, std::function<void()> placed) = 0;

  protected:
    ~OwnWindows() = default;
};

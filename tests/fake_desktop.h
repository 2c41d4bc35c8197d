// An in-memory desktop behind the window-system boundary: windows with screen rectangles,
// stacking order, parents and children, text, a pointer, and a log of every call made.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "winsys/window_system.h"

// A handle as the log of calls records it, among the numbers.
inline long long Arg(HWND window) {
    return static_cast<long long>(static_cast<std::intptr_t>(window));
}

class FakeDesktop final : public WindowSystem {
  public:
    struct Window {
        HWND parent = 0;
        RECT rect{};  // screen pixels
        std::string text;
        bool visible = true;
        bool topmost = false;
    };

    struct Call {
        std::string op;
        std::vector<long long> args;  // handles and numbers, in the order of the call
        std::string text;             // the text passed to SetWindowTextA
        bool operator==(const Call&) const = default;
    };

    // Creates a window above its siblings; a child's rectangle is in screen pixels too.
    HWND Create(RECT rect, std::string text = {}, HWND parent = 0, bool visible = true);
    // Destroys a window and everything inside it.
    void Destroy(HWND window);
    // Brings a window to the top of its band (topmost windows stay above the others) and, for
    // a top-level window, makes it the active one, as a click would.
    void Activate(HWND window);
    void MovePointer(LONG x, LONG y) { pointer_ = {x, y}; }

    bool Exists(HWND window) const { return windows_.count(window) != 0; }
    const Window& Get(HWND window) const { return windows_.at(window); }
    HWND active() const { return active_; }
    // Top-level windows, the uppermost first.
    std::vector<HWND> Stacking() const;

    // Every call, in order; a test may clear it.
    std::vector<Call> calls;
    // Runs at the start of each operation, before it looks at any window, so a test can change
    // the desktop between two calls.
    std::function<void(const Call&)> before_call;

    BOOL GetCursorPos(POINT* point) override;
    HWND WindowFromPoint(LONG x, LONG y) override;
    BOOL IsWindow(HWND window) override;
    int GetWindowTextA(HWND window, char* buffer, int capacity) override;
    BOOL SetWindowTextA(HWND window, const char* text) override;
    BOOL UpdateWindow(HWND window) override;
    BOOL GetWindowRect(HWND window, RECT* rect) override;
    BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                      UINT flags) override;

  private:
    void Record(Call call);
    void Restack(HWND window);
    HWND DeepestAt(HWND window, LONG x, LONG y) const;

    std::map<HWND, Window> windows_;
    std::vector<HWND> order_;  // every window, the lowest first; children follow the same rule
    POINT pointer_{};
    HWND active_ = 0;
    HWND next_handle_ = 0x10010;
};

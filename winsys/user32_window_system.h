// The eight window-system operations on Windows: each is the user32 function of the same name,
// looked up by its exported name on its first call and kept for every later call. The few more
// functions that keeping titles needs are bound the same way, beside them.
#pragma once

#include <array>

#include "winsys/window_system.h"

class User32WindowSystem final : public WindowSystem {
  public:
    // Told of the library being loaded (`name` is the library's) and of each function being
    // looked up, with whether it was found. Used to trace the binding; may be null.
    using BindObserver = void (*)(const char* name, bool found);

    // `library` is the name the functions are looked up in; the program always passes user32.
    explicit User32WindowSystem(const char* library = "user32", BindObserver observer = nullptr);

    BOOL GetCursorPos(POINT* point) override;
    HWND WindowFromPoint(LONG x, LONG y) override;
    BOOL IsWindow(HWND window) override;
    int GetWindowTextA(HWND window, char* buffer, int capacity) override;
    BOOL SetWindowTextA(HWND window, const char* text) override;
    BOOL UpdateWindow(HWND window) override;
    BOOL GetWindowRect(HWND window, RECT* rect) override;
    BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                      UINT flags) override;

    // Not operations of the handlers: titles in full as UTF-16, a message sent with a time
    // limit (titles written without waiting on a window that does not answer), and which
    // process a window belongs to.
    int GetWindowTextW(HWND window, wchar_t* buffer, int capacity);
    LRESULT SendMessageTimeoutW(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT flags,
                                UINT timeout_ms, DWORD_PTR* result);
    DWORD GetWindowThreadProcessId(HWND window, DWORD* process);

  private:
    enum Function {
        kGetCursorPos,
        kWindowFromPoint,
        kIsWindow,
        kGetWindowTextA,
        kSetWindowTextA,
        kUpdateWindow,
        kGetWindowRect,
        kSetWindowPos,
        kGetWindowTextW,
        kSendMessageTimeoutW,
        kGetWindowThreadProcessId,
        kFunctionCount
    };

    // The function's address, looked up at its first call; null if it cannot be bound.
    template <typename Fn>
    Fn Bound(Function function);

    const char* library_name_;
    BindObserver observer_;
    HMODULE library_ = nullptr;
    bool library_tried_ = false;
    std::array<FARPROC, kFunctionCount> functions_{};
    std::array<bool, kFunctionCount> tried_{};
};

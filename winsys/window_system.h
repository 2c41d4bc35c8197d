// The window-system boundary: the eight window-manager operations the program uses,
// and the handle, point and rectangle types they take.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cstdint>

// Outside Windows the same names stand for plain values of the same widths, so the handlers
// read identically on every platform.
using HWND = std::uintptr_t;  // 0 means no window
using BOOL = std::int32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

inline const HWND HWND_TOPMOST = static_cast<HWND>(-1);
inline const HWND HWND_NOTOPMOST = static_cast<HWND>(-2);
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;
inline constexpr UINT SWP_SHOWWINDOW = 0x0040;
#endif

// Every change the program makes to windows other than through its own controls goes through
// this object. Each operation keeps the name, argument order and result of the user32 function
// it stands for; failures are reported only through those results.
class WindowSystem {
  public:
    WindowSystem() = default;
    WindowSystem(const WindowSystem&) = delete;
    WindowSystem& operator=(const WindowSystem&) = delete;
    virtual ~WindowSystem() = default;

    virtual BOOL GetCursorPos(POINT* point) = 0;
    virtual HWND WindowFromPoint(LONG x, LONG y) = 0;
    virtual BOOL IsWindow(HWND window) = 0;
    virtual int GetWindowTextA(HWND window, char* buffer, int capacity) = 0;
    virtual BOOL SetWindowTextA(HWND window, const char* text) = 0;
    virtual BOOL UpdateWindow(HWND window) = 0;
    virtual BOOL GetWindowRect(HWND window, RECT* rect) = 0;
    virtual BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                              UINT flags) = 0;
};

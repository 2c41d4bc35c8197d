// The eight window-system operations on an X server, through Xlib. Window text is UTF-8.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "target/keeping.h"
#include "winsys/own_windows.h"
#include "winsys/window_system.h"

typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

class X11WindowSystem final : public WindowSystem, public TitleKeeping, public OwnWindows {
  public:
    // Opens a connection of its own to `display_name` (nullptr: $DISPLAY). On failure returns
    // nullptr and puts a one-line reason in `error`.
    static std::unique_ptr<X11WindowSystem> Open(const char* display_name, std::string* error);
    ~X11WindowSystem() override;

    // Another connection of this program to the same server (the toolkit's) ends the program
    // as the backend's own does when the server goes away: one line on standard error, exit 1.
    static void EndOnLostConnection(Display* display);
    // Ends the program so, now, if `display`'s connection has broken.
    static void EndIfConnectionLost(Display* display);

    void DeclareOwnWindow(HWND window, OwnWindow own) override;
    void ForgetOwnWindow(HWND window);

    Display* display() const;
    // The connection's file descriptor. Whenever it turns readable, and before the program
    // waits for anything, HandleEvents must run: events are read along with replies, so some
    // may already wait in the queue while the descriptor shows nothing.
    int connection_fd() const;
    // Reads what the server has sent, without waiting, and acts on every queued event.
    void HandleEvents();
    // Every event HandleEvents reads is passed on to `watcher` too, after the backend's own
    // handling: key presses of grabs made on display(), keyboard mapping changes.
    void WatchEvents(std::function<void(const XEvent&)> watcher);
    // Requests that waited for a reply from the server since the connection was opened,
    // counted as round trips: requests sent together and waited for together count once.
    unsigned long RoundTrips() const;

    // Titles that stay, by the keeping rules: SetWindowTextA of a foreign window is their
    // plain write, and the server's PropertyNotify and DestroyNotify events their notices.
    bool KeepTitle(HWND window) override;
    bool GiveTitleBack(HWND window) override;
    bool IsTitleKept(HWND window) const override;

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
    struct State;
    explicit X11WindowSystem(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

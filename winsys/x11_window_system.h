// The eight window-system operations on an X server. Window text is UTF-8. One facade over
// parts that each own one concern: the connection, the event masks, finding windows, titles,
// placement, staying above and the global keys.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "target/keeping.h"
#include "winsys/own_windows.h"
#include "winsys/window_system.h"
#include "winsys/x11_global_keys.h"

typedef struct _XDisplay Display;

class X11WindowSystem final : public WindowSystem, public TitleKeeping, public OwnWindows {
  public:
    // Opens a connection of its own to `display_name` (nullptr: $DISPLAY). On failure returns
    // nullptr and puts a one-line reason in `error`.
    static std::unique_ptr<X11WindowSystem> Open(const char* display_name, std::string* error);
    ~X11WindowSystem() override;

    // Another connection of this program to the same server (the toolkit's) ends the program
    // as the backend's own does when the server goes away: one line on standard error, exit 1.
    static void EndOnLostConnection(Display* display);
    // Ends the program so, now, if any of those connections has broken.
    static void EndIfAnyConnectionLost();

    void DeclareOwnWindow(HWND window, OwnWindow own) override;
    void ForgetOwnWindow(HWND window);
    void WhenPlaced(HWND window, std::function<void()> placed) override;

    // Grabs keys that reach the program whichever window has the focus, each bound by its
    // name ("Super+Alt+C"); HandleEvents calls a key's `pressed` when it is pressed.
    void BindGlobalKeys(std::vector<GlobalKeys::Key> keys);

    Display* display() const;
    // The connection's file descriptor. Whenever it turns readable, HandleEvents must run, and
    // before the program waits for anything, HandleQueuedEvents: events are read along with
    // replies, so some may already wait in the queue while the descriptor shows nothing.
    int connection_fd() const;
    // Reads what the server has sent, without waiting, and passes every queued event to the
    // parts in a fixed order.
    void HandleEvents();
    // Runs HandleEvents if events may have been read into the queue since it last ran, else
    // does nothing and leaves what the socket holds to the descriptor.
    void HandleQueuedEvents();
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
    struct Parts;
    explicit X11WindowSystem(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

// The eight window-system operations on an X server. Window text is UTF-8. One facade over
// parts that each own one concern: the connection, the event masks, finding windows, titles,
// placement, staying above and the global keys.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "winsys/platform.h"
#include "winsys/x11_titles.h"

typedef struct _XDisplay Display;

class X11WindowSystem final : public Platform<RawTitle> {
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

    Display* display() const;
    // Requests that waited for a reply from the server since the connection was opened,
    // counted as round trips: requests sent together and waited for together count once.
    unsigned long RoundTrips() const;

    // The connection's descriptor. Events are read along with replies too, so some may wait
    // in the queue while it shows nothing: Pump before the program sleeps reads those.
    int EventDescriptor() const override;
    // Reads every event that has come, then acts on them: answers changed titles, raises Form1
    // over a window that came above it, tells that a window is placed, runs pressed keys.
    void Pump() override;
    void BindGlobalKeys(std::vector<GlobalKey> keys) override;

    void DeclareOwnWindow(HWND window, OwnWindow own) override;
    void WhenPlaced(HWND window, std::function<void()> placed) override;

    // Both raw title properties, for keeping: a window's end and its titles' changes come from
    // the server's DestroyNotify and PropertyNotify events.
    bool ReadTitle(HWND window, RawTitle* title) override;
    bool WriteTitle(HWND window, const RawTitle& title) override;
    bool TitleOfText(const char* text, RawTitle* title) override;
    std::size_t TitleBytes(const RawTitle& title) const override;
    // A write changes both properties, and the server tells of each.
    int NoticesPerWrite() const override { return 2; }
    bool IsOwnWindow(HWND window) override;
    void Listen(HWND window, Listening listening) override;
    void NotifyTo(TitleNotices* notices) override;
    // Every window's title can be written; a window that refuses fails the write.
    bool CanWriteTitle(HWND) override { return true; }

    BOOL GetCursorPos(POINT* point) override;
    HWND WindowFromPoint(LONG x, LONG y) override;
    BOOL IsWindow(HWND window) override;
    int GetWindowTextA(HWND window, char* buffer, int capacity) override;
    BOOL SetWindowTextA(HWND window, const char* text) override;
    BOOL UpdateWindow(HWND window) override;
    BOOL GetWindowRect(HWND window, RECT* rect) override;
    BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                      UINT flags) override;

    // What a compositor's description of a window is held against: the process a client
    // declares (_NET_WM_PID), 0 if none; the size of the root window, false if unknown.
    unsigned long DeclaredProcess(HWND window);
    bool RootSize(int* width, int* height);
    // The client windows at a point, uppermost first (at most 16): those a compositor hides
    // without unmapping them too, and those beneath the uppermost.
    std::vector<HWND> ClientsAt(LONG x, LONG y);

  private:
    struct Parts;
    explicit X11WindowSystem(std::unique_ptr<Parts> parts);
    // Reads every event that has come and brings the parts' state up to date, acting on
    // nothing.
    void Drain();
    std::unique_ptr<Parts> parts_;
};

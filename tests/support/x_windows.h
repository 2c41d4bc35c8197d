// What a test's own X connection reads from other clients' windows and asks of the window
// manager, with X errors kept from Xlib's default handler, which would end the test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

typedef struct _XDisplay Display;
typedef unsigned long XWindow;

// Swallows the X errors of every request made while it lives and keeps the code of the last
// one. Made and ended in nested order; the handler from before the outermost comes back.
class XErrorTrap {
  public:
    explicit XErrorTrap(Display* display);  // syncs first: earlier errors are not its own
    ~XErrorTrap();                          // syncs, so that late errors are caught too
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // Syncs and returns the code of the last error so far (BadWindow, BadAccess, ...), or 0.
    int ErrorCode();

  private:
    Display* display_;
    int error_code_ = 0;
    int* outer_error_code_;
};

// A window property as the server holds it.
struct XProperty {
    unsigned long type = 0;  // None when the window has no such property or is gone
    int format = 0;          // 8, 16 or 32
    std::string data;        // the items, a 32-bit item in 4 bytes, in this machine's order

    // The 32-bit items (CARDINAL, WINDOW, ATOM); empty for another format.
    std::vector<long> Longs() const;
};

// Reads at most `max_longs` 32-bit units of property `name`. The error of a window that has
// gone reaches the connection's error handler, and the property reads as absent.
XProperty ReadProperty(Display* display, XWindow window, const char* name,
                       long max_longs = 1L << 24);
// Replaces property `name` with `data` (as ReadProperty gives it) of `type` and `format`, in
// pieces that fit any request size, appended one after the other.
void WriteProperty(Display* display, XWindow window, const char* name, const char* type, int format,
                   const std::string& data);

// A window property of 32-bit items, empty if absent.
std::vector<long> Property32(Display* display, XWindow window, const char* name);
// The names of the atoms in an ATOM property such as _NET_WM_STATE.
std::vector<std::string> AtomNames(Display* display, XWindow window, const char* name);

// A plain top-level window at x, y (asked to stay there) titled `title`, mapped; of the EWMH
// window type `type` (such as "_NET_WM_WINDOW_TYPE_DESKTOP") where one is given.
XWindow CreateTitledWindow(Display* display, int x, int y, int width, int height,
                           const std::string& title, const char* type = nullptr);
// Sets _NET_WM_NAME and WM_NAME to `title` (UTF-8), as an application names its window.
void SetTitle(Display* display, XWindow window, const std::string& title);

// The children of `window`, bottom to top; empty if it is gone.
std::vector<XWindow> ChildWindows(Display* display, XWindow window);

// The client window of process `pid` (by _NET_WM_PID) in the window manager's list, or among
// the root's mapped children and their children when no window manager keeps a list; or 0.
// Windows that go away meanwhile are passed over.
XWindow FindClientOf(Display* display, pid_t pid);

// Asks the window manager, as a pager would, for `message` (_NET_ACTIVE_WINDOW,
// _NET_CLOSE_WINDOW) on `window`.
void AskWindowManager(Display* display, XWindow window, const char* message);

// Whether `window`'s _NET_WM_STATE holds _NET_WM_STATE_ABOVE.
bool IsAbove(Display* display, XWindow window);
// The window manager's _NET_ACTIVE_WINDOW, or 0.
XWindow ActiveWindow(Display* display);
// The root's child that holds `window`: its frame where a window manager reparented it, else
// the window itself.
XWindow FrameWindow(Display* display, XWindow window);

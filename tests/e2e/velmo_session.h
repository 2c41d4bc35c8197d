// The real velmo binary under a private X server (with openbox, or with no window manager),
// found and looked at from outside through the test's own X connection.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/x_session.h"

struct XRect {
    int x, y, width, height;
    friend bool operator==(const XRect&, const XRect&) = default;
    friend std::ostream& operator<<(std::ostream& out, const XRect& r) {
        return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
    }
};

// A new velmo process with `env` added to the environment, its output kept for the test.
std::unique_ptr<Process> StartVelmo(const std::vector<std::string>& env = {});

class VelmoSession {
  public:
    // Starts the server, runs `before_velmo` on it, then starts velmo (with `env` added, and its
    // trace of TargetWindow on), and waits until Form_Load has lifted Form1 above the other
    // windows (_NET_WM_STATE_ABOVE). Returns nullptr with a reason in `error` otherwise.
    static std::unique_ptr<VelmoSession> Start(
        const XSession::Options& options, std::string* error,
        const std::vector<std::string>& env = {},
        const std::function<void(XSession&)>& before_velmo = {});

    XSession& x() { return *x_; }
    Process& velmo() { return *velmo_; }
    XWindow form() const { return form_; }

    // Form1's client area and outer frame in root coordinates.
    XRect Client() const;
    XRect Frame() const;
    // Form1's child windows, relative to its client area.
    std::vector<XWindow> Children() const;
    XRect Geometry(XWindow child) const;
    // The root position of a point given relative to Form1's client area.
    int RootX(int client_x) const { return Client().x + client_x; }
    int RootY(int client_y) const { return Client().y + client_y; }

    // Moves the pointer there and waits until a tick has made the window under it velmo's
    // TargetWindow. Returns "" then, else, after 10 s, what velmo's target was.
    std::string RestPointer(int x, int y);
    // Clicks there and waits until Form1 holds the keyboard focus.
    bool ClickToFocus(int x, int y);
    // Types lowercase ASCII letters, digits, blanks and tabs.
    void Type(const std::string& keys);

  private:
    std::unique_ptr<XSession> x_;
    std::unique_ptr<Process> velmo_;
    XWindow form_ = 0;
};

// The client window of process `pid` (by _NET_WM_PID) in the window manager's list, or among
// the root's mapped children when no window manager keeps a list; or 0.
XWindow FindClientOf(Display* display, pid_t pid);

// Asks the window manager, as a pager would, for `message` (_NET_ACTIVE_WINDOW,
// _NET_CLOSE_WINDOW) on `window`.
void AskWindowManager(Display* display, XWindow window, const char* message);

// A window property of 32-bit items (CARDINAL, WINDOW, ATOM), empty if absent.
std::vector<long> Property32(Display* display, XWindow window, const char* name);
// The names of the atoms in an ATOM property such as _NET_WM_STATE.
std::vector<std::string> AtomNames(Display* display, XWindow window, const char* name);

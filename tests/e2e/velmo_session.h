// The real velmo binary under a private X server (with openbox, or with no window manager),
// found and looked at from outside through the test's own X connection.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "mainwindow/layout.h"
#include "tests/support/process.h"
#include "tests/support/x_session.h"
#include "tests/support/x_windows.h"

struct XRect {
    int x, y, width, height;
    friend bool operator==(const XRect&, const XRect&) = default;
    friend std::ostream& operator<<(std::ostream& out, const XRect& r) {
        return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
    }
};

// A control's rectangle in Form1's client area at `dpi`, as the layout gives it.
XRect LayoutRect(const layout::Control& control, int dpi);

// A new velmo process with `env` added to the environment (which has no WAYLAND_DISPLAY unless
// `env` gives one) and `args` on its command line, its output kept for the test.
std::unique_ptr<Process> StartVelmo(const std::vector<std::string>& env = {},
                                    const std::vector<std::string>& args = {});

// The pixels of a rectangle of `form`'s client area, as the X server holds them; empty if they
// cannot be read. velmo is read as a user reads it: by what it shows.
std::vector<unsigned long> FormPixels(Display* d, XWindow form, const XRect& r);
// What Label2 shows: the pixels inside its border, at `dpi`.
std::vector<unsigned long> Label2Pixels(Display* d, XWindow form, int dpi);
// Whether pixels hold more than one colour: a label that shows any text.
bool ShowsText(const std::vector<unsigned long>& pixels);
// Waits until Label2 has shown the same pixels for three ticks from `since` on, and, where
// `changed_from` is given, other pixels than those; false if not within `most`.
bool Label2Settles(Display* d, XWindow form, int dpi, std::chrono::steady_clock::time_point since,
                   const std::vector<unsigned long>* changed_from, std::chrono::milliseconds most);

class VelmoSession {
  public:
    // Starts the server, runs `before_velmo` on it, then starts velmo (with `env` added), and
    // waits until Form_Load has lifted Form1 above the other windows (_NET_WM_STATE_ABOVE).
    // Returns nullptr with a reason in `error` otherwise.
    static std::unique_ptr<VelmoSession> Start(
        const XSession::Options& options, std::string* error,
        const std::vector<std::string>& env = {},
        const std::function<void(XSession&)>& before_velmo = {});

    XSession& x() { return *x_; }
    Process& velmo() { return *velmo_; }
    XWindow form() const { return form_; }
    int dpi() const { return dpi_; }

    // Form1's client area and outer frame in root coordinates: the frame from the window
    // manager's extents, else the root's child that holds Form1, border included.
    XRect Client() const;
    XRect Frame() const;
    // How long after Form1 showed Label2 showed a title, which a session whose pointer rests on
    // a window sees at the first tick; nothing if none came within 5 s.
    std::optional<std::chrono::milliseconds> ShownToFirstTick();
    // Form1's child windows, relative to its client area.
    std::vector<XWindow> Children() const;
    XRect Geometry(XWindow child) const;
    // The root position of the centre of one of Form1's controls, at the server's density.
    std::pair<int, int> Over(const layout::Control& control) const;

    // Moves the pointer there and waits until ticks have shown the window under it: Label2 holds
    // still for three ticks, and has changed where that window's title differs from the one
    // under the pointer before. Returns "" then, else, after 10 s, what went wrong.
    std::string RestPointer(int x, int y);
    // Clicks there and waits until Form1 holds the keyboard focus.
    bool ClickToFocus(int x, int y);
    // Types UTF-8 text, a Tab for "\t", each character as one key of its own.
    void Type(const std::string& text);

  private:
    std::unique_ptr<XSession> x_;
    // Windows vanish while the test looks at them (openbox's own, the test's); their errors are
    // no failure of the program under test.
    std::optional<XErrorTrap> quiet_;
    std::unique_ptr<Process> velmo_;
    XWindow form_ = 0;
    std::map<unsigned long, unsigned char> bound_keys_;  // keysym to keycode, bound by Type
    std::chrono::steady_clock::time_point shown_at_{};
    int dpi_ = 96;
};

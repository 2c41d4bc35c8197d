// A private X display for tests: its own Xvfb on a free display number, with openbox as the
// window manager or none, and a connection of the test's own to it.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

#include "tests/support/process.h"
#include "tests/support/x_windows.h"

class XSession {
  public:
    enum class WindowManager {
        Bare,  // no window manager
        Openbox,
        OpenboxFollowMouse,  // the focus goes to the window under the pointer
        // The tests' own stand-in (tests/support/stand_in_wm.cpp): an EWMH manager that frames
        // nothing and publishes no frame extents, or one without EWMH that frames each window
        // with a title bar and a border.
        Frameless,
        Framed,
    };
    struct Options {
        WindowManager window_manager = WindowManager::Openbox;
        int dpi = 96;  // given to Xvfb and published as the Xft.dpi resource
        int width = 1280;
        int height = 1024;
    };

    // Starts the server (and the window manager, once it has announced itself through
    // _NET_SUPPORTING_WM_CHECK) and points DISPLAY at it. Returns nullptr with a reason in
    // `error` if either does not come up.
    static std::unique_ptr<XSession> Start(const Options& options, std::string* error);
    ~XSession();  // closes the connection, stops the window manager and the server
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    const std::string& display_name() const { return display_name_; }
    // The test's own client connection.
    Display* display() const { return display_; }
    XWindow root() const;
    Process& server() { return *server_; }

    // Moves the real pointer through XTest and waits until the server has done it.
    void MovePointer(int x, int y);
    // Presses and releases a key (an X keysym such as XK_Return) through XTest, with the keys
    // of `held` (XK_Super_L, ...) held down around it.
    void TapKey(unsigned long keysym, std::initializer_list<unsigned long> held = {});
    // Presses and releases mouse button `button` where the pointer is, and waits until no grab
    // holds the pointer, so that both have reached the window under it.
    void Click(unsigned int button = 1);

    // A plain top-level window with WM_NAME and _NET_WM_NAME set to `title` (UTF-8), mapped
    // and, when a window manager runs, waited for until it has WM_STATE (and, under openbox,
    // its frame extents).
    XWindow CreateClient(int x, int y, int width, int height, const std::string& title);
    // The UTF-8 _NET_WM_NAME of a window, or nothing if it has none.
    std::string NetWmName(XWindow window) const;
    // The WM_NAME of a window as its raw bytes, and the name of its type.
    std::string WmName(XWindow window, std::string* type = nullptr) const;

  private:
    XSession() = default;

    std::unique_ptr<Process> server_;
    std::unique_ptr<Process> window_manager_;
    WindowManager kind_ = WindowManager::Bare;
    std::filesystem::path config_dir_;  // the window manager's configuration, if written
    std::string display_name_;
    Display* display_ = nullptr;
};

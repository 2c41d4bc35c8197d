// A private headless KWin for tests: its own session bus, KWin's virtual backend with Xwayland,
// and this process's environment pointed at them (DBUS_SESSION_BUS_ADDRESS, WAYLAND_DISPLAY,
// DISPLAY, XDG_RUNTIME_DIR), so that QtDBus and X and Wayland clients started afterwards land
// there. Stopped by process id.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.h"

typedef struct _XDisplay Display;

class KWinSession {
  public:
    // Returns nullptr with a reason in `error` where KWin is not installed or does not come up,
    // or starts no Xwayland. KWin 6 starts Xwayland when the first X client connects: the
    // session connects one and holds it for its life.
    static std::unique_ptr<KWinSession> Start(std::string* error);
    ~KWinSession();  // stops KWin (and with it Xwayland) and the bus
    KWinSession(const KWinSession&) = delete;
    KWinSession& operator=(const KWinSession&) = delete;

    Process& kwin() { return *kwin_; }
    const std::string& display_name() const { return display_name_; }  // Xwayland's, ":N"
    pid_t xwayland_pid() const { return xwayland_pid_; }
    int major_version() const { return major_version_; }  // KWin's: 5 or 6

    // Loads a one-shot KWin script, runs it and unloads it again; false if KWin refused it.
    bool RunScript(const std::string& text);
    // Gives the first window with this caption the frame x, y, width, height; false if there
    // is none.
    bool PlaceWindow(const std::string& caption, int x, int y, int width, int height);
    // The same for the first window of process `pid`.
    bool PlaceWindowOf(pid_t pid, int x, int y, int width, int height);
    // Moves the pointer through KWin's fake-input protocol and waits until KWin reports it
    // there; false if it did not get there.
    bool MovePointer(int x, int y);
    // Presses the keys (Linux input codes: 1 Escape, 28 Enter, 42 left Shift) in order, then
    // releases them in reverse, through the fake-input protocol.
    bool PressKeys(const std::vector<int>& codes);
    // Touches the screen there and lifts the finger, through the fake-input protocol: the seat
    // gains a touch device, which Xwayland adds as a new input device.
    bool Touch(int x, int y);
    // Shows the desktop (every window hidden but the desktop's own), or ends showing it, and
    // waits until KWin tells that it is so.
    bool ShowDesktop(bool show);
    // The value of a JavaScript expression in KWin's scripting, as text, through a one-shot
    // script; nothing if KWin refused it.
    std::optional<std::string> Evaluate(const std::string& expression);
    // The pointer as KWin's scripting reports it.
    bool ReadPointer(int* x, int* y);
    // The captions KWin shows for the windows of process `pid`, joined by "|".
    std::string CaptionOf(pid_t pid);
    // Activates the window of process `pid`, which then takes the keys, and waits until it is.
    bool Activate(pid_t pid);
    // Whether a script of this name is loaded in KWin.
    bool ScriptLoaded(const std::string& name);

  private:
    KWinSession() = default;
    // Places the first window for which the JavaScript condition `which` on `w` holds.
    bool Place(const std::string& which, int x, int y, int width, int height);

    std::filesystem::path dir_;  // the runtime directory, the copied binary, the scripts
    std::unique_ptr<Process> bus_;
    std::unique_ptr<Process> kwin_;
    std::string display_name_;
    pid_t xwayland_pid_ = 0;
    Display* x_client_ = nullptr;  // the X client that keeps Xwayland up
    int major_version_ = 0;
    int scripts_ = 0;
};

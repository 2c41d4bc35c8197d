// A private headless compositor for tests, KWin or GNOME Shell: its own session bus, the
// compositor's virtual output with Xwayland, and this process's environment pointed at them
// (DBUS_SESSION_BUS_ADDRESS, WAYLAND_DISPLAY, DISPLAY, XDG_RUNTIME_DIR; for GNOME also HOME and
// XAUTHORITY), so that QtDBus and X and Wayland clients started afterwards land there. Windows
// are placed and read through KWin's scripting or the shell's Eval; the pointer and the keys
// move through KWin's fake input or Mutter's remote-desktop session. Stopped by process id.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.h"

typedef struct _XDisplay Display;

enum class Compositor { KWin, Gnome };

class CompositorSession {
  public:
    // Returns nullptr with a reason in `error` where the compositor is not installed or does
    // not come up, or starts no Xwayland. KWin 6 starts Xwayland when the first X client
    // connects: the session connects one and holds it for its life.
    // GNOME Shell runs in a mount namespace of this process's own, with tmpfs over /run/systemd
    // (so it runs its own login manager) and /run/dbus (for a private system bus), which needs
    // root; velmo's extensions and an Eval helper are installed in a fresh HOME, none of velmo's
    // enabled.
    static std::unique_ptr<CompositorSession> Start(Compositor compositor, std::string* error);
    ~CompositorSession();  // stops the compositor (and with it Xwayland) and the buses
    CompositorSession(const CompositorSession&) = delete;
    CompositorSession& operator=(const CompositorSession&) = delete;

    Compositor compositor() const { return compositor_; }
    Process& process() { return *server_; }  // the compositor: KWin or GNOME Shell
    const std::string& display_name() const { return display_name_; }  // Xwayland's, ":N"
    pid_t xwayland_pid() const { return xwayland_pid_; }
    int major_version() const { return major_version_; }  // KWin's 5 or 6, GNOME's 43, 48...

    // Loads a one-shot KWin script, runs it and unloads it again; false if KWin refused it, and
    // on GNOME.
    bool RunScript(const std::string& text);
    // Gives the first window with this caption the frame x, y, width, height; false if there
    // is none.
    bool PlaceWindow(const std::string& caption, int x, int y, int width, int height);
    // The same for the first window of process `pid`.
    bool PlaceWindowOf(pid_t pid, int x, int y, int width, int height);
    // Moves the pointer through KWin's fake-input protocol (or Mutter's remote-desktop session,
    // by the difference from where the shell has it) and waits until the compositor reports it
    // there; false if it did not get there.
    bool MovePointer(int x, int y);
    // Presses the keys (Linux input codes: 1 Escape, 28 Enter, 42 left Shift) in order, then
    // releases them in reverse, through the fake-input protocol or the remote-desktop session.
    bool PressKeys(const std::vector<int>& codes);
    // Touches the screen there and lifts the finger, through the fake-input protocol: the seat
    // gains a touch device, which Xwayland adds as a new input device. KWin only.
    bool Touch(int x, int y);
    // Shows the desktop (every window hidden but the desktop's own), or ends showing it, and
    // waits until KWin tells that it is so. KWin only.
    bool ShowDesktop(bool show);
    // The value of a JavaScript expression, as text: in KWin's scripting through a one-shot
    // script, or in the shell through Eval; nothing if the compositor refused it.
    std::optional<std::string> Evaluate(const std::string& expression);
    // The pointer as the compositor reports it.
    bool ReadPointer(int* x, int* y);
    // The captions the compositor shows for the windows of process `pid`, joined by "|".
    std::string CaptionOf(pid_t pid);
    // Activates the window of process `pid`, which then takes the keys, and waits until it is.
    bool Activate(pid_t pid);
    // Whether a script of this name is loaded in KWin.
    bool ScriptLoaded(const std::string& name);

    // GNOME: the uuid of velmo's extension for this shell's version.
    std::string ReaderExtension() const;
    // GNOME: enables or disables an extension and waits until the shell has it so.
    bool EnableExtension(const std::string& uuid, bool enabled);
    // GNOME: the bodies of the notifications with this title that the shell holds, a line each.
    std::string Notifications(const std::string& title);

  private:
    CompositorSession() = default;
    bool gnome() const { return compositor_ == Compositor::Gnome; }
    bool StartSessionBus(std::string* error);
    bool StartKWin(std::string* error);
    bool StartGnome(std::string* error);
    // Calls a method of the remote-desktop helper, which holds Mutter's session.
    bool Input(const std::string& method, const std::vector<std::string>& args);
    // Places the first window for which the JavaScript condition `which` on `w` holds.
    bool Place(const std::string& which, int x, int y, int width, int height);

    Compositor compositor_ = Compositor::KWin;
    std::filesystem::path dir_;  // the runtime directory, the copied binary, the scripts, HOME
    std::unique_ptr<Process> system_bus_;  // GNOME's, on the tmpfs over /run/dbus
    std::unique_ptr<Process> bus_;
    std::unique_ptr<Process> server_;
    std::unique_ptr<Process> input_;  // GNOME's remote-desktop helper
    std::vector<std::string> mounts_;
    std::optional<std::string> home_;  // HOME before GNOME's, given back at the end
    std::string display_name_;
    pid_t xwayland_pid_ = 0;
    Display* x_client_ = nullptr;  // the X client that keeps Xwayland up
    int major_version_ = 0;
    int scripts_ = 0;
};

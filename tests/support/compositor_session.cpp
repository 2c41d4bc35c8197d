#include "tests/support/compositor_session.h"

#include <X11/Xlib.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace {

using namespace std::chrono_literals;

// Every window, and the active one, on KWin 6 and 5.27.
const std::string kWindows =
    "(workspace.windowList ? workspace.windowList() : workspace.clientList())";
const std::string kActive = "(workspace.activeWindow || workspace.activeClient)";
// The same in the shell.
const std::string kShellWindows = "global.get_window_actors().map(a => a.meta_window)";
const std::string kShellActive = "global.display.focus_window";

std::string DBusSend(const std::vector<std::string>& call) {
    std::vector<std::string> argv = {"dbus-send", "--session", "--print-reply",
                                     "--reply-timeout=3000"};
    argv.insert(argv.end(), call.begin(), call.end());
    return RunForOutput(argv);
}

bool OnBus(const std::string& name) {
    return DBusSend({"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                     "org.freedesktop.DBus.NameHasOwner", "string:" + name})
               .find("boolean true") != std::string::npos;
}

// Text that encodeURIComponent wrote.
std::string FromUri(const std::string& uri) {
    std::string text;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        const bool escape = uri[i] == '%' && i + 2 < uri.size();
        text += escape ? static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16)) : uri[i];
        i += escape ? 2 : 0;
    }
    return text;
}

// The Xwayland that the compositor started; 0 until then.
pid_t Xwayland(pid_t kwin) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, comm, state;
        long ppid = 0;
        if ((stat >> pid >> comm >> state >> ppid) && ppid == kwin && comm == "(Xwayland)") {
            return static_cast<pid_t>(std::stol(pid));
        }
    }
    return 0;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

}  // namespace

std::unique_ptr<CompositorSession> CompositorSession::Start(Compositor compositor,
                                                            std::string* error) {
    std::unique_ptr<CompositorSession> s(new CompositorSession);
    s->compositor_ = compositor;
    char pattern[] = "/tmp/compositor-session-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *error = "cannot make a runtime directory";
        return nullptr;
    }
    s->dir_ = pattern;
    // Xwayland needs the X socket directory, which a container may lack.
    mkdir("/tmp/.X11-unix", 01777);
    setenv("XDG_RUNTIME_DIR", s->dir_.c_str(), 1);
    if (compositor == Compositor::Gnome && !s->StartGnome(error)) {
        return nullptr;
    }
    if (compositor == Compositor::KWin && !s->StartKWin(error)) {
        return nullptr;
    }
    // The first X client brings Xwayland up (KWin 6), or finds it up (5.27, GNOME).
    s->x_client_ = XOpenDisplay(s->display_name_.c_str());
    if (s->x_client_ == nullptr ||
        !WaitUntil([&] { return (s->xwayland_pid_ = Xwayland(s->server_->pid())) != 0; },
                   15000ms)) {
        *error = "Xwayland did not start on " + s->display_name_ + ": " + s->server_->Stderr();
        return nullptr;
    }
    setenv("DISPLAY", s->display_name_.c_str(), 1);
    return s;
}

bool CompositorSession::StartSessionBus(std::string* error) {
    bus_ = std::make_unique<Process>(Process::Options{
        {"dbus-daemon", "--session", "--nofork", "--print-address=1"}, {}, dir_.string()});
    std::string address;
    WaitUntil(
        [&] {
            address = bus_->Stdout();
            return address.find('\n') != std::string::npos || !bus_->Running();
        },
        5000ms);
    address = address.substr(0, address.find('\n'));
    if (address.empty()) {
        *error = "dbus-daemon did not start";
        return false;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return true;
}

bool CompositorSession::StartKWin(std::string* error) {
    // The installed binary carries a file capability that some machines refuse to execute; a
    // copy carries none.
    const std::filesystem::path installed = "/usr/bin/kwin_wayland";
    if (!std::filesystem::exists(installed)) {
        *error = "kwin_wayland is not installed";
        return false;
    }
    std::filesystem::copy_file(installed, dir_ / "kwin_wayland");
    if (!StartSessionBus(error)) {
        return false;
    }
    const std::string version = RunForOutput({(dir_ / "kwin_wayland").string(), "--version"});
    const auto digit = version.find_first_of("0123456789");
    major_version_ = digit == std::string::npos ? 0 : version[digit] - '0';

    // KWin starts the given application once Xwayland's display is set up, with DISPLAY in its
    // environment: it writes the display's name down for the session.
    const std::string socket = "wayland-test-" + std::to_string(getpid());
    const std::filesystem::path display_file = dir_ / "display";
    server_ = std::make_unique<Process>(Process::Options{
        {(dir_ / "kwin_wayland").string(), "--virtual", "--xwayland", "--socket", socket, "--width",
         "1280", "--height", "1024",
         "sh -c 'printf %s \"$DISPLAY\" > " + display_file.string() + ".part && mv " +
             display_file.string() + ".part " + display_file.string() + "'"},
        // Lets the test's pointer mover use the fake-input protocol.
        {"KWIN_WAYLAND_NO_PERMISSION_CHECKS=1", "QT_QPA_PLATFORM=", "WAYLAND_DISPLAY="},
        dir_.string()});
    if (!WaitUntil([&] { return !server_->Running() || OnBus("org.kde.KWin"); }, 30000ms) ||
        !server_->Running()) {
        *error = "KWin did not appear on its bus: " + server_->Stderr();
        return false;
    }
    if (!WaitUntil([&] { return !(display_name_ = ReadFile(display_file)).empty(); }, 15000ms)) {
        *error = "KWin set up no Xwayland display: " + server_->Stderr();
        return false;
    }
    setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
    return true;
}

bool CompositorSession::StartGnome(std::string* error) {
    const std::string version = RunForOutput({"gnome-shell", "--version"});
    const auto digit = version.find_first_of("0123456789");
    if (digit == std::string::npos) {
        *error = "gnome-shell is not installed";
        return false;
    }
    major_version_ = std::stoi(version.substr(digit));
    // The mounts stay in a namespace of this process's own, which its children share.
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
        (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 && errno != EINVAL)) {
        *error = std::string("GNOME Shell needs a mount namespace of its own, as root: ") +
                 (geteuid() != 0 ? "not root" : std::strerror(errno));
        return false;
    }
    for (const char* dir : {"/run/systemd", "/run/dbus"}) {
        std::filesystem::create_directories(dir);
        if (mount("tmpfs", dir, "tmpfs", 0, nullptr) != 0) {
            *error = std::string("cannot mount a tmpfs over ") + dir + ": " + std::strerror(errno);
            return false;
        }
        mounts_.push_back(dir);
    }
    system_bus_ = std::make_unique<Process>(
        Process::Options{{"dbus-daemon", "--system", "--nofork"}, {}, dir_.string()});
    if (!WaitUntil([] { return std::filesystem::exists("/run/dbus/system_bus_socket"); }, 5000ms)) {
        *error = "the system bus did not start: " + system_bus_->Stderr();
        return false;
    }
    // A fresh home with velmo's extensions installed for the user before the shell starts, as a
    // package installs them before the user logs in.
    const std::filesystem::path home = dir_ / "home";
    const std::filesystem::path extensions = home / ".local/share/gnome-shell/extensions";
    std::filesystem::create_directories(extensions);
    // With the tests' helper that lets Eval answer, in both its forms too.
    for (const char* dir : {VELLOMAR_GNOME_EXTENSIONS_DIR, VELLOMAR_EVAL_HELPER_DIR}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.path().filename().string().ends_with("@vellomar.invalid")) {
                std::filesystem::copy(entry.path(), extensions / entry.path().filename(),
                                      std::filesystem::copy_options::recursive);
            }
        }
    }
    if (const char* old = getenv("HOME")) {
        home_ = old;
    }
    setenv("HOME", home.c_str(), 1);
    if (!StartSessionBus(error)) {
        return false;
    }

    const std::string socket = "wayland-test-" + std::to_string(getpid());
    server_ = std::make_unique<Process>(
        Process::Options{{"gnome-shell", "--headless", "--wayland", "--virtual-monitor",
                          "1280x1024", "--wayland-display", socket},
                         {"WAYLAND_DISPLAY=", "DISPLAY="},
                         dir_.string()});
    const std::string marker = "Using public X11 display ";
    if (!WaitUntil(
            [&] {
                const std::string log = server_->Stderr();
                const auto at = log.find(marker);
                display_name_ = at == std::string::npos
                                    ? ""
                                    : log.substr(at + marker.size(),
                                                 log.find_first_of(",\n", at) - at - marker.size());
                return !server_->Running() ||
                       (!display_name_.empty() &&
                        DBusSend({"--dest=org.gnome.Shell", "/org/gnome/Shell",
                                  "org.freedesktop.DBus.Properties.Get", "string:org.gnome.Shell",
                                  "string:ShellVersion"})
                                .find("string \"") != std::string::npos) ||
                       (std::this_thread::sleep_for(100ms), false);
            },
            30000ms) ||
        !server_->Running()) {
        *error = "GNOME Shell did not come up: " + server_->Stderr();
        return false;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        if (entry.path().filename().string().starts_with(".mutter-Xwaylandauth.")) {
            setenv("XAUTHORITY", entry.path().c_str(), 1);
        }
    }
    setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
    // The remote-desktop helper holds Mutter's session for the pointer and the keys.
    input_ = std::make_unique<Process>(
        Process::Options{{"gjs", VELLOMAR_REMOTE_INPUT}, {}, dir_.string()});
    if (!EnableExtension(major_version_ >= 45 ? "velmo-test-eval@vellomar.invalid"
                                              : "velmo-test-eval43@vellomar.invalid",
                         true) ||
        !WaitUntil([&] { return !input_->Running() || OnBus("org.vellomar.TestInput"); },
                   10000ms) ||
        !input_->Running()) {
        *error =
            "the shell's Eval or its remote-desktop session did not answer: " + server_->Stderr() +
            input_->Stderr();
        return false;
    }
    // The shell starts in the overview, where the pointer is on no window. Hidden during the
    // startup animation, the overview stays shown: it is hidden once the animation has ended.
    if (!WaitUntil(
            [&] {
                std::this_thread::sleep_for(100ms);
                return Evaluate(
                           "Main.layoutManager._startingUp ? 'starting' :"
                           " (Main.overview.hide(), Main.overview.visible)") == "false";
            },
            15000ms)) {
        *error = "the shell's overview stayed";
        return false;
    }
    return true;
}

CompositorSession::~CompositorSession() {
    if (x_client_ != nullptr) {
        XCloseDisplay(x_client_);
    }
    for (auto* process : {&input_, &server_, &bus_, &system_bus_}) {
        if (*process) {
            (*process)->Stop();
            // What the shell or the bus started in their process groups, which Mutter's
            // Xwayland and the bus's activated services join.
            if (compositor_ == Compositor::Gnome) {
                kill(-(*process)->pid(), SIGKILL);
            }
        }
    }
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
        umount2(it->c_str(), MNT_DETACH);
    }
    if (home_) {
        setenv("HOME", home_->c_str(), 1);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

bool CompositorSession::RunScript(const std::string& text) {
    if (gnome()) {
        return false;
    }
    const std::string name = "test-script-" + std::to_string(++scripts_);
    const std::filesystem::path file = dir_ / (name + ".js");
    std::ofstream(file) << text;
    const std::string loaded =
        DBusSend({"--dest=org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.loadScript",
                  "string:" + file.string(), "string:" + name});
    const auto at = loaded.find("int32 ");
    if (at == std::string::npos) {
        return false;
    }
    const int id = std::stoi(loaded.substr(at + 6));
    bool ran = false;
    for (const std::string& path :
         {"/" + std::to_string(id), "/Scripting/Script" + std::to_string(id)}) {
        if (!ran && DBusSend({"--dest=org.kde.KWin", path, "org.kde.kwin.Script.run"})
                            .find("method return") != std::string::npos) {
            ran = true;
        }
    }
    DBusSend({"--dest=org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.unloadScript",
              "string:" + name});
    return ran;
}

bool CompositorSession::PlaceWindow(const std::string& caption, int x, int y, int width,
                                    int height) {
    return Place((gnome() ? "w.get_title()" : "w.caption") + (" === \"" + caption + "\""), x, y,
                 width, height);
}

bool CompositorSession::PlaceWindowOf(pid_t pid, int x, int y, int width, int height) {
    return Place((gnome() ? "w.get_pid()" : "w.pid") + (" === " + std::to_string(pid)), x, y, width,
                 height);
}

bool CompositorSession::Place(const std::string& which, int x, int y, int width, int height) {
    std::ostringstream script;
    script << "(function () { var list = " << (gnome() ? kShellWindows : kWindows) << ";"
           << " for (var i = 0; i < list.length; ++i) { var w = list[i];"
           << " if (" << which << ") {";
    if (gnome()) {
        // A Wayland client takes the new frame when it answers the configure: until then the
        // window stays where it was, and is placed again at the next try.
        script << " w.move_resize_frame(false, " << x << ", " << y << ", " << width << ", "
               << height << "); var r = w.get_frame_rect();"
               << " return r.x === " << x << " && r.y === " << y << " ? 'placed' : 'moving'; } }"
               << " return 'none'; })()";
    } else {
        script << " w.frameGeometry = {x: " << x << ", y: " << y << ", width: " << width
               << ", height: " << height << "}; return 'placed'; } } return 'none'; })()";
    }
    return Evaluate(script.str()) == "placed";
}

std::optional<std::string> CompositorSession::Evaluate(const std::string& expression) {
    if (gnome()) {
        // The shell answers (true, its JSON of the value): here a quoted string with nothing
        // in it that JSON escapes.
        const std::string reply =
            DBusSend({"--dest=org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Eval",
                      "string:encodeURIComponent(String(" + expression + "))"});
        const auto at = reply.find("string \"\"");
        if (reply.find("boolean true") == std::string::npos || at == std::string::npos) {
            return std::nullopt;
        }
        return FromUri(reply.substr(at + 9, reply.rfind("\"\"") - at - 9));
    }
    const std::string marker = "test-value-" + std::to_string(scripts_ + 1) + " ";
    if (!RunScript("print('" + marker + "' + (" + expression + "));")) {
        return std::nullopt;
    }
    std::string value;
    const bool found = WaitUntil(
        [&] {
            const std::string err = server_->Stderr();
            const auto at = err.rfind(marker);
            const auto end = err.find('\n', at);
            if (at == std::string::npos || end == std::string::npos) {
                return false;
            }
            value = err.substr(at + marker.size(), end - at - marker.size());
            return true;
        },
        2000ms);
    return found ? std::optional<std::string>(value) : std::nullopt;
}

bool CompositorSession::ReadPointer(int* x, int* y) {
    const std::optional<std::string> pointer =
        Evaluate(gnome() ? "global.get_pointer().slice(0, 2).join(' ')"
                         : "workspace.cursorPos.x + ' ' + workspace.cursorPos.y");
    return pointer && std::sscanf(pointer->c_str(), "%d %d", x, y) == 2;
}

std::string CompositorSession::CaptionOf(pid_t pid) {
    if (gnome()) {
        return Evaluate(kShellWindows + ".filter(w => w.get_pid() === " + std::to_string(pid) +
                        ").map(w => w.get_title()).join('|')")
            .value_or("");
    }
    return Evaluate("(function () { var list = " + kWindows + ", found = [];" +
                    " for (var i = 0; i < list.length; ++i) { if (list[i].pid === " +
                    std::to_string(pid) + ") { found.push(list[i].caption); } }" +
                    " return found.join('|'); })()")
        .value_or("");
}

bool CompositorSession::Activate(pid_t pid) {
    const std::string id = std::to_string(pid);
    if (gnome()) {
        return Evaluate(kShellWindows + ".filter(w => w.get_pid() === " + id +
                        ").map(w => w.activate(global.get_current_time())).length") != "0" &&
               WaitUntil([&] { return Evaluate(kShellActive + ".get_pid()") == id; }, 3000ms);
    }
    return RunScript("var list = " + kWindows +
                     ";\n"
                     "for (var i = 0; i < list.length; ++i) {\n"
                     "  if (list[i].pid === " +
                     id +
                     ") {\n"
                     "    if ('activeWindow' in workspace) { workspace.activeWindow = list[i]; }\n"
                     "    else { workspace.activeClient = list[i]; }\n"
                     "  }\n"
                     "}\n") &&
           WaitUntil([&] { return Evaluate(kActive + ".pid") == id; }, 3000ms);
}

std::string CompositorSession::ReaderExtension() const {
    return major_version_ >= 45 ? "velmo@vellomar.invalid" : "velmo43@vellomar.invalid";
}

bool CompositorSession::EnableExtension(const std::string& uuid, bool enabled) {
    // 1 is enabled (ACTIVE), 2 disabled (INACTIVE), on 43 and 48 alike; 48 gets there
    // asynchronously.
    const std::string reply = DBusSend({"--dest=org.gnome.Shell", "/org/gnome/Shell",
                                        std::string("org.gnome.Shell.Extensions.") +
                                            (enabled ? "Enable" : "Disable") + "Extension",
                                        "string:" + uuid});
    const std::string state =
        "(Main.extensionManager.lookup(\"" + uuid + "\") || {state: 0}).state";
    return reply.find("boolean true") != std::string::npos &&
           WaitUntil([&] { return Evaluate(state) == (enabled ? "1" : "2"); }, 3000ms);
}

std::string CompositorSession::Notifications(const std::string& title) {
    // The body is `body` on 48, `bannerBodyText` on 43.
    return Evaluate(
               "Main.messageTray.getSources().flatMap(s => s.notifications)"
               ".filter(n => n.title === '" +
               title +
               "')"
               ".map(n => n.body !== undefined ? n.body : n.bannerBodyText).join('\\n')")
        .value_or("");
}

bool CompositorSession::Input(const std::string& method, const std::vector<std::string>& args) {
    std::vector<std::string> call = {"--dest=org.vellomar.TestInput", "/TestInput",
                                     "org.vellomar.TestInput." + method};
    call.insert(call.end(), args.begin(), args.end());
    return DBusSend(call).find("method return") != std::string::npos;
}

bool CompositorSession::ScriptLoaded(const std::string& name) {
    return !gnome() && DBusSend({"--dest=org.kde.KWin", "/Scripting",
                                 "org.kde.kwin.Scripting.isScriptLoaded", "string:" + name})
                               .find("boolean true") != std::string::npos;
}

bool CompositorSession::PressKeys(const std::vector<int>& codes) {
    if (gnome()) {
        std::string list;
        for (const int code : codes) {
            list += (list.empty() ? "" : ",") + std::to_string(code);
        }
        return Input("Keys", {"array:uint32:" + list});
    }
    std::vector<std::string> argv = {VELLOMAR_KWIN_INPUT, "key"};
    for (const int code : codes) {
        argv.push_back(std::to_string(code));
    }
    return Process(Process::Options{argv, {}, {}}).Wait(5000ms) == 0;
}

bool CompositorSession::MovePointer(int x, int y) {
    if (gnome()) {
        // By the difference from where the shell has the pointer: the session's relative motion
        // is not accelerated, and needs no screen cast as absolute motion does.
        int px = 0, py = 0;
        for (int attempt = 0; attempt < 3 && ReadPointer(&px, &py); ++attempt) {
            if ((px == x && py == y) ||
                (Input("Move",
                       {"double:" + std::to_string(x - px), "double:" + std::to_string(y - py)}) &&
                 WaitUntil([&] { return ReadPointer(&px, &py) && px == x && py == y; }, 1000ms))) {
                return true;
            }
        }
        return false;
    }
    const std::optional<int> status =
        Process(
            Process::Options{{VELLOMAR_KWIN_INPUT, std::to_string(x), std::to_string(y)}, {}, {}})
            .Wait(5000ms);
    int px = 0, py = 0;
    return status == 0 && ReadPointer(&px, &py) && px == x && py == y;
}

bool CompositorSession::Touch(int x, int y) {
    return !gnome() &&
           Process(
               Process::Options{
                   {VELLOMAR_KWIN_INPUT, "touch", std::to_string(x), std::to_string(y)}, {}, {}})
                   .Wait(5000ms) == 0;
}

bool CompositorSession::ShowDesktop(bool show) {
    if (gnome()) {
        return false;
    }
    // From a script: KWin ends showing the desktop when the bus client that asked for it leaves,
    // as dbus-send does at once.
    const auto showing = [] {
        return DBusSend({"--dest=org.kde.KWin", "/KWin", "org.freedesktop.DBus.Properties.Get",
                         "string:org.kde.KWin", "string:showingDesktop"})
                   .find("boolean true") != std::string::npos;
    };
    if (showing() == show) {
        return true;
    }
    return RunScript("workspace.slotToggleShowDesktop();") &&
           WaitUntil([&] { return showing() == show; }, 3000ms);
}

#include "tests/support/kwin_session.h"

#include <X11/Xlib.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <utility>

namespace {

using namespace std::chrono_literals;

// Every window, and the active one, on KWin 6 and 5.27.
const std::string kWindows =
    "(workspace.windowList ? workspace.windowList() : workspace.clientList())";
const std::string kActive = "(workspace.activeWindow || workspace.activeClient)";

std::string DBusSend(const std::vector<std::string>& call) {
    std::vector<std::string> argv = {"dbus-send", "--session", "--print-reply",
                                     "--reply-timeout=3000"};
    argv.insert(argv.end(), call.begin(), call.end());
    return RunForOutput(argv);
}

bool KWinOnBus() {
    return DBusSend({"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                     "org.freedesktop.DBus.NameHasOwner", "string:org.kde.KWin"})
               .find("boolean true") != std::string::npos;
}

// The Xwayland that KWin started; 0 until then.
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

std::unique_ptr<KWinSession> KWinSession::Start(std::string* error) {
    // The installed binary carries a file capability that some machines refuse to execute; a
    // copy carries none.
    const std::filesystem::path installed = "/usr/bin/kwin_wayland";
    if (!std::filesystem::exists(installed)) {
        *error = "kwin_wayland is not installed";
        return nullptr;
    }
    std::unique_ptr<KWinSession> s(new KWinSession);
    char pattern[] = "/tmp/kwin-session-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *error = "cannot make a runtime directory";
        return nullptr;
    }
    s->dir_ = pattern;
    std::filesystem::copy_file(installed, s->dir_ / "kwin_wayland");
    // Xwayland needs the X socket directory, which a container may lack.
    mkdir("/tmp/.X11-unix", 01777);
    setenv("XDG_RUNTIME_DIR", s->dir_.c_str(), 1);

    s->bus_ = std::make_unique<Process>(Process::Options{
        {"dbus-daemon", "--session", "--nofork", "--print-address=1"}, {}, s->dir_.string()});
    std::string address;
    WaitUntil(
        [&] {
            address = s->bus_->Stdout();
            return address.find('\n') != std::string::npos || !s->bus_->Running();
        },
        5000ms);
    address = address.substr(0, address.find('\n'));
    if (address.empty()) {
        *error = "dbus-daemon did not start";
        return nullptr;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

    const std::string version = RunForOutput({(s->dir_ / "kwin_wayland").string(), "--version"});
    const auto digit = version.find_first_of("0123456789");
    s->major_version_ = digit == std::string::npos ? 0 : version[digit] - '0';

    // KWin starts the given application once Xwayland's display is set up, with DISPLAY in its
    // environment: it writes the display's name down for the session.
    const std::string socket = "wayland-test-" + std::to_string(getpid());
    const std::filesystem::path display_file = s->dir_ / "display";
    s->kwin_ = std::make_unique<Process>(Process::Options{
        {(s->dir_ / "kwin_wayland").string(), "--virtual", "--xwayland", "--socket", socket,
         "--width", "1280", "--height", "1024",
         "sh -c 'printf %s \"$DISPLAY\" > " + display_file.string() + ".part && mv " +
             display_file.string() + ".part " + display_file.string() + "'"},
        // Lets the test's pointer mover use the fake-input protocol.
        {"KWIN_WAYLAND_NO_PERMISSION_CHECKS=1", "QT_QPA_PLATFORM=", "WAYLAND_DISPLAY="},
        s->dir_.string()});
    if (!WaitUntil([&] { return !s->kwin_->Running() || KWinOnBus(); }, 30000ms) ||
        !s->kwin_->Running()) {
        *error = "KWin did not appear on its bus: " + s->kwin_->Stderr();
        return nullptr;
    }
    if (!WaitUntil([&] { return !(s->display_name_ = ReadFile(display_file)).empty(); }, 15000ms)) {
        *error = "KWin set up no Xwayland display: " + s->kwin_->Stderr();
        return nullptr;
    }
    // The first X client brings Xwayland up (KWin 6), or finds it up (5.27).
    s->x_client_ = XOpenDisplay(s->display_name_.c_str());
    if (s->x_client_ == nullptr ||
        !WaitUntil([&] { return (s->xwayland_pid_ = Xwayland(s->kwin_->pid())) != 0; }, 15000ms)) {
        *error = "Xwayland did not start on " + s->display_name_ + ": " + s->kwin_->Stderr();
        return nullptr;
    }
    setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
    setenv("DISPLAY", s->display_name_.c_str(), 1);
    return s;
}

KWinSession::~KWinSession() {
    if (x_client_ != nullptr) {
        XCloseDisplay(x_client_);
    }
    if (kwin_) {
        kwin_->Stop();
    }
    if (bus_) {
        bus_->Stop();
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

bool KWinSession::RunScript(const std::string& text) {
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

bool KWinSession::PlaceWindow(const std::string& caption, int x, int y, int width, int height) {
    return Place("w.caption === \"" + caption + "\"", x, y, width, height);
}

bool KWinSession::PlaceWindowOf(pid_t pid, int x, int y, int width, int height) {
    return Place("w.pid === " + std::to_string(pid), x, y, width, height);
}

bool KWinSession::Place(const std::string& which, int x, int y, int width, int height) {
    std::ostringstream script;
    script << "(function () { var list = " << kWindows << ";"
           << " for (var i = 0; i < list.length; ++i) { var w = list[i];"
           << " if (" << which << ") {"
           << " w.frameGeometry = {x: " << x << ", y: " << y << ", width: " << width
           << ", height: " << height << "}; return 'placed'; } } return 'none'; })()";
    return Evaluate(script.str()) == "placed";
}

std::optional<std::string> KWinSession::Evaluate(const std::string& expression) {
    const std::string marker = "test-value-" + std::to_string(scripts_ + 1) + " ";
    if (!RunScript("print('" + marker + "' + (" + expression + "));")) {
        return std::nullopt;
    }
    std::string value;
    const bool found = WaitUntil(
        [&] {
            const std::string err = kwin_->Stderr();
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

bool KWinSession::ReadPointer(int* x, int* y) {
    const std::optional<std::string> pointer =
        Evaluate("workspace.cursorPos.x + ' ' + workspace.cursorPos.y");
    return pointer && std::sscanf(pointer->c_str(), "%d %d", x, y) == 2;
}

std::string KWinSession::CaptionOf(pid_t pid) {
    return Evaluate("(function () { var list = " + kWindows + ", found = [];" +
                    " for (var i = 0; i < list.length; ++i) { if (list[i].pid === " +
                    std::to_string(pid) + ") { found.push(list[i].caption); } }" +
                    " return found.join('|'); })()")
        .value_or("");
}

bool KWinSession::Activate(pid_t pid) {
    return RunScript("var list = " + kWindows +
                     ";\n"
                     "for (var i = 0; i < list.length; ++i) {\n"
                     "  if (list[i].pid === " +
                     std::to_string(pid) +
                     ") {\n"
                     "    if ('activeWindow' in workspace) { workspace.activeWindow = list[i]; }\n"
                     "    else { workspace.activeClient = list[i]; }\n"
                     "  }\n"
                     "}\n") &&
           WaitUntil([&] { return Evaluate(kActive + ".pid") == std::to_string(pid); }, 3000ms);
}

bool KWinSession::ScriptLoaded(const std::string& name) {
    return DBusSend({"--dest=org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.isScriptLoaded",
                     "string:" + name})
               .find("boolean true") != std::string::npos;
}

bool KWinSession::PressKeys(const std::vector<int>& codes) {
    std::vector<std::string> argv = {VELLOMAR_KWIN_INPUT, "key"};
    for (const int code : codes) {
        argv.push_back(std::to_string(code));
    }
    return Process(Process::Options{argv, {}, {}}).Wait(5000ms) == 0;
}

bool KWinSession::MovePointer(int x, int y) {
    const std::optional<int> status =
        Process(
            Process::Options{{VELLOMAR_KWIN_INPUT, std::to_string(x), std::to_string(y)}, {}, {}})
            .Wait(5000ms);
    int px = 0, py = 0;
    return status == 0 && ReadPointer(&px, &py) && px == x && py == y;
}

bool KWinSession::Touch(int x, int y) {
    return Process(
               Process::Options{
                   {VELLOMAR_KWIN_INPUT, "touch", std::to_string(x), std::to_string(y)}, {}, {}})
               .Wait(5000ms) == 0;
}

bool KWinSession::ShowDesktop(bool show) {
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

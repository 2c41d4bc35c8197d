#include "tests/support/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// Reads the display number Xvfb writes to -displayfd once it accepts connections.
std::string ReadDisplayNumber(int fd, std::chrono::milliseconds timeout) {
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char c = 0;
        if (read(fd, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return number;
        }
        number += c;
    }
    return {};
}

bool HasProperty(Display* d, Window w, const char* name) {
    return ReadProperty(d, w, name, 0).type != None;
}

bool WindowManagerAnnounced(Display* d) {
    const XProperty announced = ReadProperty(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK");
    const std::vector<long> check = announced.Longs();
    if (announced.type != XA_WINDOW || check.size() != 1) {
        return false;
    }
    // The check window must exist and point to itself.
    XErrorTrap trap(d);
    return Property32(d, static_cast<Window>(check[0]), "_NET_SUPPORTING_WM_CHECK") == check;
}

// Openbox announces itself a moment before it manages windows, and a window mapped in between
// stays unmanaged for good; so a probe window is mapped until one of them gets WM_STATE.
bool WindowManagerManages(Display* d) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const Window probe = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
        XMapWindow(d, probe);
        XSync(d, False);
        const bool managed = WaitUntil([&] { return HasProperty(d, probe, "WM_STATE"); }, 300ms);
        XDestroyWindow(d, probe);
        XSync(d, False);
        if (managed) {
            return true;
        }
    }
    return false;
}

// Openbox's own default configuration with the focus following the pointer, in a directory
// of its own; empty if the default cannot be read.
std::filesystem::path WriteFollowMouseConfig() {
    std::ifstream in("/etc/xdg/openbox/rc.xml");
    std::stringstream text;
    text << in.rdbuf();
    std::string rc = text.str();
    const std::string no = "<followMouse>no</followMouse>";
    const auto at = rc.find(no);
    char dir[] = "/tmp/velmo-openbox-XXXXXX";
    if (at == std::string::npos || mkdtemp(dir) == nullptr) {
        return {};
    }
    rc.replace(at, no.size(), "<followMouse>yes</followMouse>");
    std::ofstream(std::filesystem::path(dir) / "rc.xml") << rc;
    return dir;
}

}  // namespace

std::unique_ptr<XSession> XSession::Start(const Options& options, std::string* error) {
    std::unique_ptr<XSession> session(new XSession);
    int fds[2];
    if (pipe(fds) != 0) {
        *error = "pipe failed";
        return nullptr;
    }
    const std::string screen =
        std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
    session->server_ = std::make_unique<Process>(Process::Options{
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-dpi",
         std::to_string(options.dpi), "-nolisten", "tcp", "-noreset", "+extension", "XTEST"},
        {},
        {}});
    close(fds[1]);
    const std::string number = ReadDisplayNumber(fds[0], 15s);
    close(fds[0]);
    if (number.empty()) {
        *error = "Xvfb did not start (is the xvfb package installed?)";
        return nullptr;
    }
    session->display_name_ = ":" + number;
    setenv("DISPLAY", session->display_name_.c_str(), 1);

    session->display_ = XOpenDisplay(session->display_name_.c_str());
    if (session->display_ == nullptr) {
        *error = "cannot connect to " + session->display_name_;
        return nullptr;
    }
    Display* d = session->display_;
    const std::string resources = "Xft.dpi:\t" + std::to_string(options.dpi) + "\n";
    XChangeProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources.data()),
                    static_cast<int>(resources.size()));
    XSync(d, False);

    session->kind_ = options.window_manager;
    const bool stand_in = options.window_manager == WindowManager::Frameless ||
                          options.window_manager == WindowManager::Framed;
    if (stand_in) {
        session->window_manager_ = std::make_unique<Process>(Process::Options{
            {VELLOMAR_STAND_IN_WM,
             options.window_manager == WindowManager::Framed ? "--framed" : "--frameless"},
            {"DISPLAY=" + session->display_name_},
            {}});
        if (!WindowManagerManages(d)) {
            *error = "the stand-in window manager does not manage new windows";
            return nullptr;
        }
    } else if (options.window_manager != WindowManager::Bare) {
        std::vector<std::string> argv = {"openbox", "--sm-disable"};
        if (options.window_manager == WindowManager::OpenboxFollowMouse) {
            session->config_dir_ = WriteFollowMouseConfig();
            if (session->config_dir_.empty()) {
                *error = "cannot write an openbox configuration from /etc/xdg/openbox/rc.xml";
                return nullptr;
            }
            argv.insert(argv.end(), {"--config-file", session->config_dir_ / "rc.xml"});
        }
        session->window_manager_ = std::make_unique<Process>(
            Process::Options{argv, {"DISPLAY=" + session->display_name_}, {}});
        if (!WaitUntil([d] { return WindowManagerAnnounced(d); }, 15s)) {
            *error = "openbox did not announce itself (is the openbox package installed?)";
            return nullptr;
        }
        if (!WindowManagerManages(d)) {
            *error = "openbox does not manage new windows";
            return nullptr;
        }
    }
    return session;
}

XSession::~XSession() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
    window_manager_.reset();
    server_.reset();
    if (!config_dir_.empty()) {
        std::filesystem::remove_all(config_dir_);
    }
}

XWindow XSession::root() const {
    return DefaultRootWindow(display_);
}

void XSession::MovePointer(int x, int y) {
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XSync(display_, False);
}

void XSession::TapKey(unsigned long keysym, std::initializer_list<unsigned long> held) {
    for (unsigned long modifier : held) {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, modifier), True, CurrentTime);
    }
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    for (auto it = std::rbegin(held); it != std::rend(held); ++it) {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, *it), False, CurrentTime);
    }
    XSync(display_, False);
}

void XSession::Click(unsigned int button) {
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
    // A window manager that acts on a click holds the press in a grab of its own until it has
    // acted (openbox focuses the window, then replays the press to it); a key or a move sent
    // before the pointer is free again would overtake the click.
    WaitUntil(
        [this] {
            const bool free = XGrabPointer(display_, root(), False, 0, GrabModeAsync, GrabModeAsync,
                                           None, None, CurrentTime) == GrabSuccess;
            XUngrabPointer(display_, CurrentTime);
            return free;
        },
        5s);
}

XWindow XSession::CreateClient(int x, int y, int width, int height, const std::string& title) {
    Display* d = display_;
    const XWindow w = CreateTitledWindow(d, x, y, width, height, title);
    if (window_manager_) {
        const bool extents =
            kind_ == WindowManager::Openbox || kind_ == WindowManager::OpenboxFollowMouse;
        WaitUntil(
            [&] {
                return HasProperty(d, w, "WM_STATE") &&
                       (!extents || HasProperty(d, w, "_NET_FRAME_EXTENTS"));
            },
            5s);
    }
    return w;
}

std::string XSession::NetWmName(XWindow window) const {
    return ReadProperty(display_, window, "_NET_WM_NAME").data;
}

std::string XSession::WmName(XWindow window, std::string* type_name) const {
    const XProperty name = ReadProperty(display_, window, "WM_NAME");
    if (type_name != nullptr) {
        char* atom_name = name.type != None ? XGetAtomName(display_, name.type) : nullptr;
        *type_name = atom_name != nullptr ? atom_name : "";
        if (atom_name != nullptr) {
            XFree(atom_name);
        }
    }
    return name.data;
}

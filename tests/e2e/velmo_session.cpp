#include "tests/e2e/velmo_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <thread>

using namespace std::chrono_literals;

std::vector<long> Property32(Display* display, XWindow window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> values;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1 << 20, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
        const long* items = reinterpret_cast<const long*>(data);
        values.assign(items, items + count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return values;
}

std::vector<std::string> AtomNames(Display* display, XWindow window, const char* name) {
    std::vector<std::string> names;
    for (long atom : Property32(display, window, name)) {
        char* atom_name = XGetAtomName(display, static_cast<Atom>(atom));
        names.emplace_back(atom_name != nullptr ? atom_name : "");
        XFree(atom_name);
    }
    return names;
}

std::unique_ptr<Process> StartVelmo(const std::vector<std::string>& env) {
    // velmo's output stays in the build tree, next to the tests.
    std::filesystem::create_directories(VELMO_OUTPUT_DIR);
    return std::make_unique<Process>(Process::Options{{VELMO_PATH}, env, VELMO_OUTPUT_DIR});
}

void AskWindowManager(Display* display, XWindow window, const char* message) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, message, False);
    event.xclient.format = 32;
    const bool activate = std::string_view(message) == "_NET_ACTIVE_WINDOW";
    // The source indication (2, a pager) and the time sit in different places in the two.
    event.xclient.data.l[activate ? 0 : 1] = 2;
    event.xclient.data.l[activate ? 1 : 0] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
}

XWindow FindClientOf(Display* display, pid_t pid) {
    std::vector<long> clients = Property32(display, DefaultRootWindow(display), "_NET_CLIENT_LIST");
    if (clients.empty()) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display, children[i], &attributes) != 0 &&
                attributes.map_state == IsViewable) {
                clients.push_back(static_cast<long>(children[i]));
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
    for (long window : clients) {
        const std::vector<long> owner =
            Property32(display, static_cast<Window>(window), "_NET_WM_PID");
        if (owner.size() == 1 && owner[0] == pid) {
            return static_cast<XWindow>(window);
        }
    }
    return 0;
}

namespace {

// Windows vanish while the test looks at them (openbox's own, the test's); their errors are no
// failure of the program under test and must not end the test process.
int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

// The innermost window under the pointer, 0 over the bare root: what velmo finds there too for
// the windows the tests point at (clients without children of their own, Form1, its controls).
XWindow InnermostAtPointer(Display* display) {
    Window under = 0, root = 0, child = DefaultRootWindow(display);
    int root_x = 0, root_y = 0, x = 0, y = 0;
    unsigned int mask = 0;
    while (child != None) {
        under = child;
        XQueryPointer(display, under, &root, &child, &root_x, &root_y, &x, &y, &mask);
    }
    return under == root ? 0 : under;
}

// The TargetWindow that velmo's trace last gave; 0 before the first.
XWindow TracedTarget(const std::string& output) {
    const std::size_t at = output.rfind("TargetWindow 0x");
    return at == std::string::npos ? 0 : std::stoul(output.substr(at + 13), nullptr, 16);
}

bool IsAbove(Display* display, XWindow window) {
    const std::vector<std::string> state = AtomNames(display, window, "_NET_WM_STATE");
    return std::find(state.begin(), state.end(), "_NET_WM_STATE_ABOVE") != state.end();
}

}  // namespace

std::unique_ptr<VelmoSession> VelmoSession::Start(
    const XSession::Options& options, std::string* error, const std::vector<std::string>& env,
    const std::function<void(XSession&)>& before_velmo) {
    std::unique_ptr<VelmoSession> session(new VelmoSession);
    session->x_ = XSession::Start(options, error);
    if (session->x_ == nullptr) {
        return nullptr;
    }
    XSetErrorHandler(IgnoreXErrors);
    if (before_velmo) {
        before_velmo(*session->x_);
    }
    std::vector<std::string> traced_env = env;
    traced_env.push_back("VELLOMAR_TRACE_TARGET=1");
    session->velmo_ = StartVelmo(traced_env);
    Display* d = session->x_->display();
    const bool loaded = WaitUntil(
        [&] {
            session->form_ = FindClientOf(d, session->velmo_->pid());
            return !session->velmo_->Running() ||
                   (session->form_ != 0 && IsAbove(d, session->form_));
        },
        15s);
    if (!loaded || !session->velmo_->Running()) {
        *error = "velmo did not lift Form1 above the other windows; its output: " +
                 session->velmo_->Stderr();
        return nullptr;
    }
    return session;
}

XRect VelmoSession::Client() const {
    Display* d = x_->display();
    Window root = 0, child = 0;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(d, form_, &root, &x, &y, &width, &height, &border, &depth);
    XTranslateCoordinates(d, form_, root, 0, 0, &x, &y, &child);
    return {x, y, static_cast<int>(width), static_cast<int>(height)};
}

XRect VelmoSession::Frame() const {
    const XRect client = Client();
    const std::vector<long> extents = Property32(x_->display(), form_, "_NET_FRAME_EXTENTS");
    if (extents.size() != 4) {
        return client;
    }
    // left, right, top, bottom
    return {client.x - static_cast<int>(extents[0]), client.y - static_cast<int>(extents[2]),
            client.width + static_cast<int>(extents[0] + extents[1]),
            client.height + static_cast<int>(extents[2] + extents[3])};
}

std::vector<XWindow> VelmoSession::Children() const {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<XWindow> windows;
    if (XQueryTree(x_->display(), form_, &root, &parent, &children, &count) != 0) {
        windows.assign(children, children + count);
    }
    if (children != nullptr) {
        XFree(children);
    }
    return windows;
}

XRect VelmoSession::Geometry(XWindow child) const {
    Window root = 0;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(x_->display(), child, &root, &x, &y, &width, &height, &border, &depth);
    return {x, y, static_cast<int>(width), static_cast<int>(height)};
}

std::string VelmoSession::RestPointer(int x, int y) {
    x_->MovePointer(x, y);
    const XWindow under = InnermostAtPointer(x_->display());
    XWindow target = 0;
    if (WaitUntil([&] { return (target = TracedTarget(velmo_->Stderr())) == under; }, 10s)) {
        return "";
    }
    std::ostringstream seen;
    seen << std::hex << "velmo's target is 0x" << target << " \"" << x_->NetWmName(target)
         << "\", not 0x" << under << " \"" << x_->NetWmName(under) << "\" under the pointer";
    return seen.str();
}

bool VelmoSession::ClickToFocus(int x, int y) {
    x_->MovePointer(x, y);
    x_->Click();
    return WaitUntil(
        [this] {
            Window focus = 0;
            int revert = 0;
            XGetInputFocus(x_->display(), &focus, &revert);
            return focus == form_;
        },
        3s);
}

void VelmoSession::Type(const std::string& keys) {
    for (char c : keys) {
        x_->TapKey(c == '\t' ? XK_Tab : static_cast<unsigned long>(static_cast<unsigned char>(c)));
    }
    std::this_thread::sleep_for(50ms);
}

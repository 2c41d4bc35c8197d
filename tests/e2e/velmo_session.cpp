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

XRect LayoutRect(const layout::Control& control, int dpi) {
    const layout::PixelRect r = layout::ToPixels(control, dpi);
    return {r.left, r.top, r.width, r.height};
}

std::unique_ptr<Process> StartVelmo(const std::vector<std::string>& env,
                                    const std::vector<std::string>& args) {
    // velmo's output stays in the build tree, next to the tests.
    std::filesystem::create_directories(VELMO_OUTPUT_DIR);
    std::vector<std::string> argv{VELMO_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    // On X as on an X desktop, whatever session runs the tests, unless `env` says otherwise.
    std::vector<std::string> full_env = {"WAYLAND_DISPLAY="};
    full_env.insert(full_env.end(), env.begin(), env.end());
    return std::make_unique<Process>(Process::Options{argv, full_env, VELMO_OUTPUT_DIR});
}

namespace {

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

}  // namespace

XWindow TracedTarget(const std::string& output) {
    const std::size_t at = output.rfind("TargetWindow 0x");
    return at == std::string::npos ? 0 : std::stoul(output.substr(at + 13), nullptr, 16);
}

std::unique_ptr<VelmoSession> VelmoSession::Start(
    const XSession::Options& options, std::string* error, const std::vector<std::string>& env,
    const std::function<void(XSession&)>& before_velmo) {
    std::unique_ptr<VelmoSession> session(new VelmoSession);
    session->x_ = XSession::Start(options, error);
    if (session->x_ == nullptr) {
        return nullptr;
    }
    session->quiet_.emplace(session->x_->display());
    session->dpi_ = options.dpi;
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
            XWindowAttributes a{};
            if (session->shown_at_ == std::chrono::steady_clock::time_point{} &&
                session->form_ != 0 && XGetWindowAttributes(d, session->form_, &a) != 0 &&
                a.map_state == IsViewable) {
                session->shown_at_ = std::chrono::steady_clock::now();
            }
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
    Display* d = x_->display();
    const std::vector<long> extents = Property32(d, form_, "_NET_FRAME_EXTENTS");
    if (extents.size() != 4) {
        XWindowAttributes a{};
        XGetWindowAttributes(d, FrameWindow(d, form_), &a);
        return {a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width};
    }
    // left, right, top, bottom
    return {client.x - static_cast<int>(extents[0]), client.y - static_cast<int>(extents[2]),
            client.width + static_cast<int>(extents[0] + extents[1]),
            client.height + static_cast<int>(extents[2] + extents[3])};
}

std::optional<std::chrono::milliseconds> VelmoSession::ShownToFirstTick() {
    if (!WaitUntil([&] { return velmo_->Stderr().find("TargetWindow 0x") != std::string::npos; },
                   5s)) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 shown_at_);
}

std::vector<XWindow> VelmoSession::Children() const {
    return ChildWindows(x_->display(), form_);
}

std::pair<int, int> VelmoSession::Over(const layout::Control& control) const {
    const XRect client = Client();
    const XRect r = LayoutRect(control, dpi_);
    return {client.x + r.x + r.width / 2, client.y + r.y + r.height / 2};
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

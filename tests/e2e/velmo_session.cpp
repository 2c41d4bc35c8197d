#include "tests/e2e/velmo_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <time.h>

#include <algorithm>
#include <functional>
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

// Whether `w` is `ancestor` or lies inside it.
bool Within(Display* d, XWindow w, XWindow ancestor) {
    while (w != 0 && w != ancestor) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(d, w, &root, &parent, &children, &count) == 0) {
            return false;
        }
        if (children != nullptr) {
            XFree(children);
        }
        w = parent == root ? 0 : parent;
    }
    return w != 0;
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

}  // namespace

std::vector<unsigned long> FormPixels(Display* d, XWindow form, const XRect& r) {
    std::vector<unsigned long> pixels;
    XErrorTrap trap(d);
    XImage* image = XGetImage(d, form, r.x, r.y, static_cast<unsigned>(r.width),
                              static_cast<unsigned>(r.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return pixels;
    }
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            pixels.push_back(XGetPixel(image, x, y));
        }
    }
    XDestroyImage(image);
    return pixels;
}

std::vector<unsigned long> Label2Pixels(Display* d, XWindow form, int dpi) {
    const XRect box = LayoutRect(layout::kLabel2, dpi);
    return FormPixels(d, form, {box.x + 2, box.y + 2, box.width - 4, box.height - 4});
}

bool ShowsText(const std::vector<unsigned long>& pixels) {
    return std::adjacent_find(pixels.begin(), pixels.end(), std::not_equal_to<>()) != pixels.end();
}

bool Label2Settles(Display* d, XWindow form, int dpi, std::chrono::steady_clock::time_point since,
                   const std::vector<unsigned long>* changed_from, std::chrono::milliseconds most) {
    constexpr auto kThreeTicks = 300ms;
    std::vector<unsigned long> seen = Label2Pixels(d, form, dpi);
    auto seen_since = std::chrono::steady_clock::now();
    return WaitUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            std::vector<unsigned long> pixels = Label2Pixels(d, form, dpi);
            if (pixels != seen) {
                seen = std::move(pixels);
                seen_since = now;
                return false;
            }
            return !seen.empty() && now - since >= kThreeTicks && now - seen_since >= kThreeTicks &&
                   (changed_from == nullptr || seen != *changed_from);
        },
        most);
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
    session->velmo_ = StartVelmo(env);
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
    if (!WaitUntil([&] { return ShowsText(Label2Pixels(x_->display(), form_, dpi_)); }, 5s)) {
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
    Display* d = x_->display();
    const XWindow before = InnermostAtPointer(d);
    const std::vector<unsigned long> shown = Label2Pixels(d, form_, dpi_);
    x_->MovePointer(x, y);
    const auto moved = std::chrono::steady_clock::now();
    const XWindow under = InnermostAtPointer(d);
    // Label2 shows the first 99 bytes of a title. velmo's own windows show their own texts,
    // which only velmo knows; where either is one, any settled Label2 will do.
    const std::string was = x_->NetWmName(before).substr(0, 99);
    const std::string is = x_->NetWmName(under).substr(0, 99);
    const bool differs = under != before && !Within(d, before, form_) && !Within(d, under, form_) &&
                         !was.empty() && !is.empty() && was != is;
    if (Label2Settles(d, form_, dpi_, moved, differs ? &shown : nullptr, 10s)) {
        return "";
    }
    std::ostringstream seen;
    seen << std::hex << "Label2 did not come to show 0x" << under << " \"" << is
         << "\" under the pointer (before: 0x" << before << " \"" << was << "\")";
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

namespace {

// The keysym of each character of UTF-8 `text`: the layout's own for a Tab, a blank, lowercase
// letters and digits, a Unicode keysym for any other.
std::vector<KeySym> Keysyms(const std::string& text) {
    std::vector<KeySym> keysyms;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
        KeySym c = length == 1 ? lead : lead & (0x7fu >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3fu);
        }
        i += length;
        const bool plain = c == ' ' || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        keysyms.push_back(c == '\t' ? XK_Tab : plain ? c : 0x01000000 | c);
    }
    return keysyms;
}

// The highest keycode that the layout binds to no symbol; 0 if there is none.
KeyCode EmptyKeycode(Display* d) {
    int min = 0;
    int max = 0;
    int per_code = 0;
    XDisplayKeycodes(d, &min, &max);
    KeySym* layout = XGetKeyboardMapping(d, static_cast<KeyCode>(min), max - min + 1, &per_code);
    int code = max;
    while (code > min &&
           std::any_of(layout + (code - min) * per_code, layout + (code - min + 1) * per_code,
                       [](KeySym s) { return s != NoSymbol; })) {
        --code;
    }
    XFree(layout);
    return static_cast<KeyCode>(code > min ? code : 0);
}

}  // namespace

void VelmoSession::Type(const std::string& text) {
    Display* d = x_->display();
    const std::vector<KeySym> keysyms = Keysyms(text);
    // A character without a key in the layout gets a keycode of its own that the layout leaves
    // empty, on both levels, as an input method would send it. It keeps it for the session: a
    // client reads the whole layout afresh when told of a change, so a keycode bound anew
    // before it has read would give the newer character. Without an empty keycode left, the
    // character is not typed.
    for (const KeySym keysym : keysyms) {
        if ((keysym & 0x01000000) != 0 && bound_keys_.count(keysym) == 0) {
            KeySym both[2] = {keysym, keysym};
            if (const KeyCode code = EmptyKeycode(d); code != 0) {
                XChangeKeyboardMapping(d, code, 2, both, 1);
                bound_keys_[keysym] = code;
            }
        }
    }
    for (const KeySym keysym : keysyms) {
        const auto bound = bound_keys_.find(keysym);
        const KeyCode code =
            bound != bound_keys_.end() ? bound->second : XKeysymToKeycode(d, keysym);
        if (code != 0) {
            XTestFakeKeyEvent(d, code, True, CurrentTime);
            XTestFakeKeyEvent(d, code, False, CurrentTime);
            XSync(d, False);
        }
    }
    std::this_thread::sleep_for(50ms);
}

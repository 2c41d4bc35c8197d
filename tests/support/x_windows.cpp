#include "tests/support/x_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

// Where the innermost trap keeps its error code, and the handler from before the outermost.
int* innermost_error_code = nullptr;
XErrorHandler handler_before_traps = nullptr;

int RecordError(Display*, XErrorEvent* error) {
    if (innermost_error_code != nullptr) {
        *innermost_error_code = error->error_code;
    }
    return 0;
}

}  // namespace

XErrorTrap::XErrorTrap(Display* display)
    : display_(display), outer_error_code_(innermost_error_code) {
    XSync(display_, False);
    if (outer_error_code_ == nullptr) {
        handler_before_traps = XSetErrorHandler(RecordError);
    }
    innermost_error_code = &error_code_;
}

XErrorTrap::~XErrorTrap() {
    XSync(display_, False);
    innermost_error_code = outer_error_code_;
    if (outer_error_code_ == nullptr) {
        XSetErrorHandler(handler_before_traps);
    }
}

int XErrorTrap::ErrorCode() {
    XSync(display_, False);
    return error_code_;
}

std::vector<long> XProperty::Longs() const {
    std::vector<long> items;
    if (format != 32) {
        return items;
    }
    for (std::size_t at = 0; at + 4 <= data.size(); at += 4) {
        std::int32_t item = 0;
        std::memcpy(&item, data.data() + at, 4);
        items.push_back(item);  // sign-extended, as Xlib gives them
    }
    return items;
}

XProperty ReadProperty(Display* display, XWindow window, const char* name, long max_longs) {
    XProperty property;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, max_longs, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success) {
        property.type = type;
        property.format = format;
    }
    if (data != nullptr && format == 32) {
        // Xlib hands 32-bit items over as longs.
        for (unsigned long i = 0; i < count; ++i) {
            const auto item = static_cast<std::uint32_t>(reinterpret_cast<const long*>(data)[i]);
            property.data.append(reinterpret_cast<const char*>(&item), 4);
        }
    } else if (data != nullptr) {
        property.data.assign(reinterpret_cast<const char*>(data), count * (format / 8));
    }
    if (data != nullptr) {
        XFree(data);
    }
    return property;
}

void WriteProperty(Display* display, XWindow window, const char* name, const char* type, int format,
                   const std::string& data) {
    // Xlib takes 32-bit items as longs.
    std::vector<long> longs;
    const auto* items = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t item_size = static_cast<std::size_t>(format / 8);
    std::size_t total = data.size() / item_size;
    if (format == 32) {
        for (std::size_t at = 0; at + 4 <= data.size(); at += 4) {
            std::uint32_t item = 0;
            std::memcpy(&item, data.data() + at, 4);
            longs.push_back(static_cast<long>(item));
        }
        items = reinterpret_cast<const unsigned char*>(longs.data());
        item_size = sizeof(long);
        total = longs.size();
    }
    const Atom property = XInternAtom(display, name, False);
    const Atom property_type = XInternAtom(display, type, False);
    // The server copies the whole value at each append, so the pieces are as large as its
    // requests allow, up to 1 MiB (the request's own header takes 28 bytes at most).
    long max_units = XExtendedMaxRequestSize(display);
    if (max_units == 0) {
        max_units = XMaxRequestSize(display);
    }
    const std::size_t piece_bytes =
        std::min<std::size_t>(std::size_t{1} << 20, static_cast<std::size_t>(max_units) * 4 - 28);
    const std::size_t piece = piece_bytes / static_cast<std::size_t>(format / 8);
    std::size_t done = 0;
    do {
        const std::size_t n = std::min(piece, total - done);
        XChangeProperty(display, window, property, property_type, format,
                        done == 0 ? PropModeReplace : PropModeAppend, items + done * item_size,
                        static_cast<int>(n));
        done += n;
    } while (done < total);
}

std::vector<long> Property32(Display* display, XWindow window, const char* name) {
    return ReadProperty(display, window, name, 1L << 20).Longs();
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

std::vector<XWindow> ChildWindows(Display* display, XWindow window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<XWindow> windows;
    if (XQueryTree(display, window, &root, &parent, &children, &count) != 0 &&
        children != nullptr) {
        windows.assign(children, children + count);
    }
    if (children != nullptr) {
        XFree(children);
    }
    return windows;
}

XWindow FindClientOf(Display* display, pid_t pid) {
    XErrorTrap trap(display);
    const XWindow root = DefaultRootWindow(display);
    const XProperty list = ReadProperty(display, root, "_NET_CLIENT_LIST");
    std::vector<XWindow> clients;
    for (long window : list.Longs()) {
        clients.push_back(static_cast<XWindow>(window));
    }
    if (list.type == None) {
        for (XWindow window : ChildWindows(display, root)) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display, window, &attributes) != 0 &&
                attributes.map_state == IsViewable) {
                clients.push_back(window);
                // A frame: the client is inside.
                const std::vector<XWindow> inside = ChildWindows(display, window);
                clients.insert(clients.end(), inside.begin(), inside.end());
            }
        }
    }
    for (XWindow window : clients) {
        const std::vector<long> owner = Property32(display, window, "_NET_WM_PID");
        if (owner.size() == 1 && owner[0] == pid) {
            return window;
        }
    }
    return 0;
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

bool IsAbove(Display* display, XWindow window) {
    const std::vector<std::string> state = AtomNames(display, window, "_NET_WM_STATE");
    return std::find(state.begin(), state.end(), "_NET_WM_STATE_ABOVE") != state.end();
}

XWindow ActiveWindow(Display* display) {
    const auto active = Property32(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW");
    return active.size() == 1 ? static_cast<XWindow>(active[0]) : 0;
}

XWindow FrameWindow(Display* display, XWindow window) {
    Window w = window, root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    while (XQueryTree(display, w, &root, &parent, &children, &n) != 0 && parent != root) {
        XFree(children);
        w = parent;
    }
    XFree(children);
    return w;
}

XWindow CreateTitledWindow(Display* d, int x, int y, int width, int height,
                           const std::string& title, const char* type) {
    XSetWindowAttributes attributes{};
    attributes.background_pixel = WhitePixel(d, DefaultScreen(d));
    const Window w = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                                   static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                                   CopyFromParent, CWBackPixel, &attributes);
    // Ask the window manager to keep the requested position.
    XSizeHints hints{};
    hints.flags = USPosition | PPosition;
    hints.x = x;
    hints.y = y;
    XSetWMNormalHints(d, w, &hints);
    SetTitle(d, w, title);
    if (type != nullptr) {
        const Atom value = XInternAtom(d, type, False);
        XChangeProperty(d, w, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
    }
    XMapWindow(d, w);
    XSync(d, False);
    return w;
}

void SetTitle(Display* d, XWindow window, const std::string& title) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(title.data());
    const int length = static_cast<int>(title.size());
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    XChangeProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    bytes, length);
    XChangeProperty(d, window, XA_WM_NAME, utf8, 8, PropModeReplace, bytes, length);
    XFlush(d);
}

// A window manager for the tests, in one of two manners that real ones have and openbox has not:
//   --frameless  announces itself through EWMH (keeping windows above among what it supports)
//                but publishes no frame extents and frames nothing, as a tiling manager may;
//   --framed     knows no EWMH and puts each window into a frame with a title bar and an X
//                border of its own, placing the inside of that border where a configure request
//                asks the window to go, as twm does.
// It runs until it is stopped.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr int kTitleHeight = 20;
constexpr int kFrameBorder = 2;

Display* d = nullptr;
Window root = 0;
bool framed = false;
std::map<Window, Window> frames;  // client -> frame

int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

Atom A(const char* name) {
    return XInternAtom(d, name, False);
}

void SetAtoms(Window w, const char* property, const std::vector<Atom>& atoms) {
    XChangeProperty(d, w, A(property), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms.data()),
                    static_cast<int>(atoms.size()));
}

void SetWmState(Window w, long state) {
    const long value[2] = {state, None};
    XChangeProperty(d, w, A("WM_STATE"), A("WM_STATE"), 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(value), 2);
}

void Announce() {
    const Window check = XCreateSimpleWindow(d, root, -10, -10, 1, 1, 0, 0, 0);
    for (const Window w : {root, check}) {
        XChangeProperty(d, w, A("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&check), 1);
    }
    SetAtoms(root, "_NET_SUPPORTED",
             {A("_NET_WM_STATE"), A("_NET_WM_STATE_ABOVE"), A("_NET_ACTIVE_WINDOW")});
}

// Frames at the window's own position (north-west gravity), marks it managed last, as twm does.
void Manage(Window w) {
    if (!framed || frames.count(w) != 0) {
        XMapWindow(d, w);
        if (framed) {
            XMapWindow(d, frames[w]);
        }
        SetWmState(w, NormalState);
        return;
    }
    XWindowAttributes a{};
    if (XGetWindowAttributes(d, w, &a) == 0) {
        return;
    }
    const Window frame =
        XCreateSimpleWindow(d, root, a.x, a.y, static_cast<unsigned>(a.width),
                            static_cast<unsigned>(a.height + kTitleHeight), kFrameBorder, 0, 0);
    XSelectInput(d, frame, SubstructureRedirectMask | SubstructureNotifyMask);
    XAddToSaveSet(d, w);
    XSetWindowBorderWidth(d, w, 0);
    XReparentWindow(d, w, frame, 0, kTitleHeight);
    frames[w] = frame;
    XMapWindow(d, w);
    XMapWindow(d, frame);
    SetWmState(w, NormalState);
}

void Configure(const XConfigureRequestEvent& e) {
    const auto it = frames.find(e.window);
    if (it == frames.end()) {
        XWindowChanges changes{e.x, e.y, e.width, e.height, e.border_width, e.above, e.detail};
        XConfigureWindow(d, e.window, static_cast<unsigned>(e.value_mask), &changes);
        return;
    }
    XWindowChanges frame{};
    frame.x = e.x - kFrameBorder;
    frame.y = e.y - kFrameBorder;
    frame.width = e.width;
    frame.height = e.height + kTitleHeight;
    frame.stack_mode = e.detail;
    const unsigned mask =
        static_cast<unsigned>(e.value_mask) & (CWX | CWY | CWWidth | CWHeight | CWStackMode);
    XConfigureWindow(d, it->second, mask, &frame);
    XWindowChanges client{};
    client.width = e.width;
    client.height = e.height;
    XConfigureWindow(d, e.window, static_cast<unsigned>(e.value_mask) & (CWWidth | CWHeight),
                     &client);
}

void OnMessage(const XClientMessageEvent& e) {
    if (e.message_type == A("_NET_ACTIVE_WINDOW")) {
        XSetInputFocus(d, e.window, RevertToPointerRoot, CurrentTime);
        XChangeProperty(d, root, A("_NET_ACTIVE_WINDOW"), XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&e.window), 1);
    } else if (e.message_type == A("_NET_WM_STATE")) {
        std::vector<Atom> state;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, e.window, A("_NET_WM_STATE"), 0, 64, False, XA_ATOM, &type,
                               &format, &count, &after, &data) == Success &&
            data != nullptr) {
            state.assign(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + count);
            XFree(data);
        }
        const Atom changed = static_cast<Atom>(e.data.l[1]);
        state.erase(std::remove(state.begin(), state.end(), changed), state.end());
        if (e.data.l[0] == 1) {  // add
            state.push_back(changed);
        }
        SetAtoms(e.window, "_NET_WM_STATE", state);
    }
}

}  // namespace

int main(int argc, char** argv) {
    framed = argc > 1 && std::strcmp(argv[1], "--framed") == 0;
    d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        return 1;
    }
    XSetErrorHandler(&IgnoreErrors);
    root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureRedirectMask | SubstructureNotifyMask);
    if (!framed) {
        Announce();
    }
    XSync(d, False);
    for (;;) {
        XEvent event;
        XNextEvent(d, &event);
        switch (event.type) {
            case MapRequest:
                Manage(event.xmaprequest.window);
                break;
            case ConfigureRequest:
                Configure(event.xconfigurerequest);
                break;
            case ClientMessage:
                OnMessage(event.xclient);
                break;
            case UnmapNotify:
                if (const auto it = frames.find(event.xunmap.window); it != frames.end()) {
                    XUnmapWindow(d, it->second);
                }
                break;
            case DestroyNotify:
                if (const auto it = frames.find(event.xdestroywindow.window); it != frames.end()) {
                    XDestroyWindow(d, it->second);
                    frames.erase(it);
                }
                break;
            default:
                break;
        }
        XFlush(d);
    }
}

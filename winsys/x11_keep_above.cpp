#include "winsys/x11_keep_above.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "winsys/x11_protocol.h"

namespace {

constexpr int kMostRaises = 5;
constexpr auto kRaisePeriod = std::chrono::seconds(1);

}  // namespace

// A window the window manager knows is asked through it. Before that, the window's own
// _NET_WM_STATE is what the window manager reads when it takes the window on; the message goes
// too, in case it takes the window on in between (until then it ignores the message).
void KeepAbove::Ask(xcb_window_t w, const Placement& p, bool above, const WindowManager& wm,
                    X11Connection::Trap& trap) {
    const xcb_atom_t above_atom = x_.atom().net_wm_state_above;
    if (!p.managed && !p.mapped) {
        std::vector<xcb_atom_t> states = p.net_wm_state;
        const auto found = std::find(states.begin(), states.end(), above_atom);
        if (above && found == states.end()) {
            states.push_back(above_atom);
        } else if (!above && found != states.end()) {
            states.erase(found);
        }
        trap.Check(xcb_change_property_checked(
            x_.xcb(), XCB_PROP_MODE_REPLACE, w, x_.atom().net_wm_state, XCB_ATOM_ATOM, 32,
            static_cast<std::uint32_t>(states.size()), states.data()));
    }
    using namespace x11_protocol;
    trap.Check(x_.SendToRoot(w, x_.atom().net_wm_state,
                             {above ? kNetWmStateAdd : kNetWmStateRemove,
                              static_cast<long>(above_atom), 0, kSourceApplication, 0}));
    if (above) {
        Start(w, wm);
    } else if (w == window_) {
        window_ = XCB_NONE;
    }
}

// Keeps `w` above the other windows: through the window manager where it can, else by
// restacking it whenever another window comes over it. Asked again when a window manager
// starts or ends (it announces itself on the root window).
void KeepAbove::Start(xcb_window_t w, const WindowManager& wm) {
    const bool again = window_ == w;
    window_ = w;
    const bool before = by_window_manager_;
    by_window_manager_ = wm.running && wm.Supports(x_.atom().net_wm_state_above);
    if (by_window_manager_) {
        return;
    }
    X11Connection::Trap trap(x_);
    if (!wm.running) {
        // The state is the window's own to publish while no manager owns it, and a manager
        // that starts later reads it when it takes the window on.
        const xcb_atom_t state = x_.atom().net_wm_state_above;
        trap.Check(xcb_change_property_checked(x_.xcb(), XCB_PROP_MODE_REPLACE, w,
                                               x_.atom().net_wm_state, XCB_ATOM_ATOM, 32, 1,
                                               &state));
    }
    if (!again || before) {
        masks_.Add(EventMasks::Part::KeepAbove, x_.root(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        ReadStack();
    }
    trap.Failed();
}

// The root's children with their places and sizes, and which of them holds the window kept
// above. The events read after the tree keep it up to date.
void KeepAbove::ReadStack() {
    xcb_connection_t* c = x_.xcb();
    const auto tree_cookie = xcb_query_tree(c, x_.root());
    stack_sequence_ = tree_cookie.sequence;
    x_.Wait();
    const auto tree = x_.Get(xcb_query_tree_reply, tree_cookie);
    std::vector<RootStack::Child> children;
    if (tree) {
        const xcb_window_t* windows = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>>
            cookies;
        for (int i = 0; i < count; ++i) {
            cookies.emplace_back(xcb_get_window_attributes(c, windows[i]),
                                 xcb_get_geometry(c, windows[i]));
        }
        x_.Wait();
        for (int i = 0; i < count; ++i) {
            const auto attributes = x_.Get(xcb_get_window_attributes_reply, cookies[i].first);
            const auto geometry = x_.Get(xcb_get_geometry_reply, cookies[i].second);
            if (attributes && geometry) {
                const int border = 2 * geometry->border_width;
                children.push_back({windows[i], attributes->map_state != XCB_MAP_STATE_UNMAPPED,
                                    attributes->override_redirect != 0, geometry->x, geometry->y,
                                    geometry->width + border, geometry->height + border});
            }
        }
    }
    stack_.Reset(std::move(children));

    top_ = XCB_NONE;
    xcb_window_t w = window_;
    for (int depth = 0; depth < x11_protocol::kMaxFrameDepth && w != XCB_NONE; ++depth) {
        const auto cookie = xcb_query_tree(c, w);
        x_.Wait();
        const auto r = x_.Get(xcb_query_tree_reply, cookie);
        if (!r) {
            break;
        }
        if (r->parent == x_.root()) {
            top_ = w;
            break;
        }
        w = r->parent;
    }
    restack_ = true;
}

void KeepAbove::OnEvent(const XEvent& event) {
    if (window_ == XCB_NONE) {
        return;
    }
    // Events from before the stack was read are already part of it.
    if (!by_window_manager_ &&
        static_cast<std::int32_t>(static_cast<std::uint32_t>(event.xany.serial) -
                                  stack_sequence_) >= 0) {
        OnStackEvent(event);
    }
}

// The events of the root's SubstructureNotify, each told to the stacking model.
void KeepAbove::OnStackEvent(const XEvent& event) {
    const auto child = [](Window w, bool mapped, int popup, int x, int y, int width, int height,
                          int border) {
        return RootStack::Child{static_cast<std::uint32_t>(w),
                                mapped,
                                popup != 0,
                                x,
                                y,
                                width + 2 * border,
                                height + 2 * border};
    };
    const Window root = x_.root();
    switch (event.type) {
        case CreateNotify: {
            const XCreateWindowEvent& e = event.xcreatewindow;
            if (e.parent == root) {
                stack_.Created(child(e.window, false, e.override_redirect, e.x, e.y, e.width,
                                     e.height, e.border_width));
            }
            break;
        }
        case DestroyNotify:
            if (event.xdestroywindow.event == root) {
                stack_.Destroyed(static_cast<std::uint32_t>(event.xdestroywindow.window));
            }
            break;
        case MapNotify:
            if (event.xmap.event == root) {
                stack_.Mapped(static_cast<std::uint32_t>(event.xmap.window), true,
                              event.xmap.override_redirect != 0);
                restack_ = true;
            }
            break;
        case UnmapNotify:
            if (event.xunmap.event == root) {
                stack_.Mapped(static_cast<std::uint32_t>(event.xunmap.window), false, false);
                restack_ = true;
            }
            break;
        case ConfigureNotify: {
            const XConfigureEvent& e = event.xconfigure;
            if (e.event == root) {
                stack_.Configured(child(e.window, true, e.override_redirect, e.x, e.y, e.width,
                                        e.height, e.border_width),
                                  static_cast<std::uint32_t>(e.above));
                restack_ = true;
            }
            break;
        }
        case CirculateNotify:
            if (event.xcirculate.event == root) {
                stack_.Circulated(static_cast<std::uint32_t>(event.xcirculate.window),
                                  event.xcirculate.place == PlaceOnTop);
                restack_ = true;
            }
            break;
        case ReparentNotify: {
            const XReparentEvent& e = event.xreparent;
            if (e.event != root) {
                break;
            }
            if (e.parent == root) {
                // The event does not tell the size: it is learnt from the next ConfigureNotify.
                stack_.Created(child(e.window, false, e.override_redirect, e.x, e.y, 0, 0, 0));
            } else {
                stack_.Destroyed(static_cast<std::uint32_t>(e.window));
            }
            // A window manager framing our window, or letting it go: the stack is read afresh.
            if (e.window == window_) {
                ReadStack();
            }
            break;
        }
        default:
            break;
    }
}

// Raising the window itself, never its frame: without a window manager it is the window on the
// root; a reparenting one gets it as a request to restack the frame. Raising never moves the
// focus.
void KeepAbove::WindowManagerChanged(const WindowManager& wm) {
    if (window_ != XCB_NONE) {
        Start(window_, wm);
    }
}

void KeepAbove::RaiseIfCovered() {
    if (!restack_ || window_ == XCB_NONE || by_window_manager_) {
        return;
    }
    restack_ = false;
    if (!stack_.Covered(top_)) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - period_start_ >= kRaisePeriod) {
        period_start_ = now;
        raises_ = 0;
    }
    if (raises_ >= kMostRaises) {
        return;
    }
    ++raises_;
    X11Connection::Trap trap(x_);
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    trap.Check(
        xcb_configure_window_checked(x_.xcb(), window_, XCB_CONFIG_WINDOW_STACK_MODE, &above));
    trap.Failed();
}

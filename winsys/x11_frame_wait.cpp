#include "winsys/x11_frame_wait.h"

#include <X11/Xlib.h>

bool FrameWait::Start(xcb_window_t w, const WindowManager& wm) {
    Stop();
    window_ = w;
    // Watched from before the look, so that every later change comes as an event.
    masks_.Want(EventMasks::Part::FrameWait, w,
                XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE |
                    XCB_EVENT_MASK_VISIBILITY_CHANGE);
    const Atoms& atom = x_.atom();
    const auto attributes_cookie = xcb_get_window_attributes(x_.xcb(), w);
    const auto tree_cookie = xcb_query_tree(x_.xcb(), w);
    const auto state_cookie = x_.AskProperty(w, atom.wm_state, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
    const auto extents_cookie =
        x_.AskProperty(w, atom.net_frame_extents, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
    x_.Wait();
    const auto attributes = x_.Get(xcb_get_window_attributes_reply, attributes_cookie);
    const auto tree = x_.Get(xcb_query_tree_reply, tree_cookie);
    const auto state = x_.Get(xcb_get_property_reply, state_cookie);
    const auto extents = x_.Get(xcb_get_property_reply, extents_cookie);
    viewable_ = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    reparented_ = tree && tree->parent != x_.root();
    has_state_ = state && state->type != XCB_NONE;
    has_extents_ = extents && extents->type != XCB_NONE;
    if (!Placed(wm)) {
        return false;
    }
    Stop();
    return true;
}

bool FrameWait::Placed(const WindowManager& wm) const {
    if (!viewable_) {
        return false;
    }
    // A window manager that publishes no frame extents (i3) is not waited for to publish them;
    // one that knows no EWMH shows itself by reparenting the window, and marks it managed last.
    if (!wm.running) {
        return !reparented_ || has_state_;
    }
    return has_state_ && (has_extents_ || !wm.Supports(x_.atom().net_frame_extents));
}

void FrameWait::Stop() {
    if (window_ != XCB_NONE) {
        masks_.Want(EventMasks::Part::FrameWait, window_, 0);
        window_ = XCB_NONE;
    }
}

bool FrameWait::OnEvent(const XEvent& event, const WindowManager& wm, bool wm_changed) {
    if (window_ == XCB_NONE) {
        return false;
    }
    // A window manager that has started or ended may have made the window placed: looked at
    // anew below.
    if (!wm_changed && !Notes(event)) {
        return false;
    }
    if (!Placed(wm)) {
        return false;
    }
    Stop();
    return true;
}

// Takes what `event` tells of the awaited window; false if it tells nothing.
bool FrameWait::Notes(const XEvent& event) {
    const Atoms& atom = x_.atom();
    switch (event.type) {
        // The window is mapped inside a frame that is mapped after it: it shows once the server
        // tells of its visibility, in whatever state.
        case VisibilityNotify:
        case UnmapNotify:
            if (event.xany.window != window_) {
                return false;
            }
            viewable_ = event.type == VisibilityNotify;
            break;
        case ReparentNotify:
            if (event.xreparent.window != window_) {
                return false;
            }
            reparented_ = event.xreparent.parent != x_.root();
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == window_) {
                window_ = XCB_NONE;  // its masks went with it
            }
            return false;
        case PropertyNotify: {
            const XPropertyEvent& e = event.xproperty;
            const bool there = e.state == PropertyNewValue;
            if (e.window == window_ && e.atom == atom.wm_state) {
                has_state_ = there;
            } else if (e.window == window_ && e.atom == atom.net_frame_extents) {
                has_extents_ = there;
            } else {
                return false;
            }
            break;
        }
        default:
            return false;
    }
    return true;
}

#include "winsys/x11_window_manager.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <utility>

bool WindowManager::Supports(xcb_atom_t atom) const {
    return std::find(supported.begin(), supported.end(), atom) != supported.end();
}

void WindowManagerWatch::Read() {
    const xcb_atom_t check_atom = x_.atom().net_supporting_wm_check;
    const auto check_cookie = x_.AskProperty(x_.root(), check_atom, XCB_ATOM_WINDOW, 0, 1);
    const auto supported_cookie =
        x_.AskProperty(x_.root(), x_.atom().net_supported, XCB_ATOM_ATOM, 0, 4096);
    x_.Wait();
    const std::vector<std::uint32_t> check =
        Cardinals(x_.Get(xcb_get_property_reply, check_cookie).get());
    WindowManager wm;
    wm.supported = Cardinals(x_.Get(xcb_get_property_reply, supported_cookie).get());
    if (check.size() == 1) {
        const auto self_cookie = x_.AskProperty(check[0], check_atom, XCB_ATOM_WINDOW, 0, 1);
        x_.Wait();
        const std::vector<std::uint32_t> self =
            Cardinals(x_.Get(xcb_get_property_reply, self_cookie).get());
        wm.running = self.size() == 1 && self[0] == check[0];
    }
    wm_ = std::move(wm);
}

const WindowManager& WindowManagerWatch::Current() {
    if (!read_) {
        read_ = true;
        // Watched from before the read, so that a window manager that starts or ends later
        // tells it.
        masks_.Want(EventMasks::Part::WindowManager, x_.root(), XCB_EVENT_MASK_PROPERTY_CHANGE);
        Read();
    }
    return wm_;
}

bool WindowManagerWatch::OnEvent(const XEvent& event) {
    if (!read_ || event.type != PropertyNotify) {
        return false;
    }
    const XPropertyEvent& e = event.xproperty;
    if (e.window != x_.root() ||
        (e.atom != x_.atom().net_supporting_wm_check && e.atom != x_.atom().net_supported)) {
        return false;
    }
    Read();
    return true;
}

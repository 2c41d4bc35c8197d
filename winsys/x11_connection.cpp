#include "winsys/x11_connection.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The connections whose loss ends the program.
std::vector<Display*>& OurDisplays() {
    static std::vector<Display*> displays;
    return displays;
}

XIOErrorHandler previous_io_error_handler = nullptr;

int OnIoError(Display* display) {
    const auto& ours = OurDisplays();
    if (std::find(ours.begin(), ours.end(), display) != ours.end()) {
        X11Connection::LostConnection();
    }
    return previous_io_error_handler != nullptr ? previous_io_error_handler(display) : 0;
}

}  // namespace

void X11Connection::LostConnection() {
    static constexpr char kMessage[] = "velmo: lost the connection to the X server\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(1);
}

void X11Connection::PutLostConnectionHandlerFirst() {
    const XIOErrorHandler current = XSetIOErrorHandler(&OnIoError);
    if (current != &OnIoError) {
        previous_io_error_handler = current;
    }
}

void X11Connection::EndOnLostConnection(Display* display) {
    PutLostConnectionHandlerFirst();
    OurDisplays().push_back(display);
}

void X11Connection::EndIfAnyConnectionLost() {
    for (Display* display : OurDisplays()) {
        if (xcb_connection_has_error(XGetXCBConnection(display)) != 0) {
            LostConnection();
        }
    }
}

std::unique_ptr<X11Connection> X11Connection::Open(const char* display_name, std::string* error) {
    Display* display = XOpenDisplay(display_name);
    if (display == nullptr) {
        if (error != nullptr) {
            const char* name = display_name != nullptr ? display_name : std::getenv("DISPLAY");
            *error = name != nullptr && *name != '\0'
                         ? "cannot open the X display \"" + std::string(name) + "\""
                         : std::string("cannot open the X display: DISPLAY is not set");
        }
        return nullptr;
    }
    EndOnLostConnection(display);

    std::unique_ptr<X11Connection> x(new X11Connection);
    x->display_ = display;
    x->c_ = XGetXCBConnection(display);
    x->root_ = static_cast<xcb_window_t>(DefaultRootWindow(display));
    const long units = XExtendedMaxRequestSize(display) != 0 ? XExtendedMaxRequestSize(display)
                                                             : XMaxRequestSize(display);
    x->max_request_bytes_ = static_cast<std::size_t>(units) * 4;

    Atoms& a = x->atom_;
    const std::pair<const char*, xcb_atom_t*> names[] = {
        {"UTF8_STRING", &a.utf8_string},
        {"COMPOUND_TEXT", &a.compound_text},
        {"_NET_WM_NAME", &a.net_wm_name},
        {"WM_STATE", &a.wm_state},
        {"_NET_FRAME_EXTENTS", &a.net_frame_extents},
        {"_NET_WM_STATE", &a.net_wm_state},
        {"_NET_WM_STATE_ABOVE", &a.net_wm_state_above},
        {"_NET_ACTIVE_WINDOW", &a.net_active_window},
        {"_NET_SUPPORTED", &a.net_supported},
        {"_NET_MOVERESIZE_WINDOW", &a.net_moveresize_window},
        {"_NET_SUPPORTING_WM_CHECK", &a.net_supporting_wm_check},
        {"_NET_WM_PID", &a.net_wm_pid},
    };
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const auto& [name, atom] : names) {
        cookies.push_back(
            xcb_intern_atom(x->c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    }
    x->Wait();
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        const auto reply = x->Get(xcb_intern_atom_reply, cookies[i]);
        *names[i].second = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
    return x;
}

X11Connection::~X11Connection() {
    auto& ours = OurDisplays();
    ours.erase(std::remove(ours.begin(), ours.end(), display_), ours.end());
    XCloseDisplay(display_);
}

bool X11Connection::Exists(xcb_window_t w) {
    const auto cookie = xcb_get_window_attributes(c_, w);
    Wait();
    return Get(xcb_get_window_attributes_reply, cookie) != nullptr;
}

xcb_void_cookie_t X11Connection::SendToRoot(xcb_window_t w, xcb_atom_t type,
                                            std::array<long, 5> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = type;
    for (std::size_t i = 0; i < data.size(); ++i) {
        event.data.data32[i] = static_cast<std::uint32_t>(data[i]);
    }
    return xcb_send_event_checked(
        c_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&event));
}

X11Connection::Trap::~Trap() {
    // xcb would keep an unchecked request's error for good.
    for (const xcb_void_cookie_t cookie : cookies_) {
        xcb_discard_reply(connection_.c_, cookie.sequence);
    }
}

void X11Connection::Trap::Check(xcb_void_cookie_t cookie) {
    cookies_.push_back(cookie);
    ++connection_.changes_;
}

bool X11Connection::Trap::Failed() {
    if (cookies_.empty()) {
        return failed_;
    }
    // The first check sends one request that answers for all of them; the rest are known then.
    connection_.Wait();
    for (const xcb_void_cookie_t cookie : cookies_) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_.c_, cookie)) {
            failed_ = true;
            std::free(error);
        }
    }
    cookies_.clear();
    if (xcb_connection_has_error(connection_.c_) != 0) {
        LostConnection();
    }
    return failed_;
}

std::string_view Bytes(const xcb_get_property_reply_t* r) {
    return {static_cast<const char*>(xcb_get_property_value(r)),
            static_cast<std::size_t>(xcb_get_property_value_length(r))};
}

std::vector<std::uint32_t> Cardinals(const xcb_get_property_reply_t* r) {
    if (r == nullptr || r->format != 32) {
        return {};
    }
    const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(r));
    return {v, v + r->value_len};
}

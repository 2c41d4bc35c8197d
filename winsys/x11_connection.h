// The X11 backend's connection to the server: Xlib's display with the xcb connection beneath it,
// the atoms, replies counted as round trips, the trap that keeps a request's error for whoever
// sent it, and the end of the program when the server goes away.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

typedef struct _XDisplay Display;

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

// The atoms the backend names, interned once when the connection opens.
struct Atoms {
    xcb_atom_t utf8_string;
    xcb_atom_t compound_text;
    xcb_atom_t net_wm_name;
    xcb_atom_t wm_state;
    xcb_atom_t net_frame_extents;
    xcb_atom_t net_wm_state;
    xcb_atom_t net_wm_state_above;
    xcb_atom_t net_active_window;
    xcb_atom_t net_supported;
    xcb_atom_t net_moveresize_window;
    xcb_atom_t net_supporting_wm_check;
    xcb_atom_t net_wm_pid;
};

class X11Connection {
  public:
    // Opens a connection to `display_name` (nullptr: $DISPLAY); on failure nullptr, with a
    // one-line reason in `error`.
    static std::unique_ptr<X11Connection> Open(const char* display_name, std::string* error);
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return display_; }
    xcb_connection_t* xcb() const { return c_; }
    xcb_window_t root() const { return root_; }
    const Atoms& atom() const { return atom_; }
    std::size_t max_request_bytes() const { return max_request_bytes_; }
    unsigned long round_trips() const { return round_trips_; }
    // How many requests that change windows have been sent (each through a trap).
    unsigned long changes() const { return changes_; }

    // Called once before collecting the replies to the requests sent since the last wait: they
    // travel to the server and back together, as one round trip.
    void Wait() { ++round_trips_; }

    // The reply to `cookie`, or nullptr if the request failed (its error is dropped). A lost
    // connection ends the program.
    template <typename T, typename Cookie>
    Reply<T> Get(T* (*reply_function)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                 Cookie cookie) {
        xcb_generic_error_t* error = nullptr;
        Reply<T> reply(reply_function(c_, cookie, &error));
        std::free(error);
        if (!reply && xcb_connection_has_error(c_)) {
            LostConnection();
        }
        return reply;
    }

    xcb_get_property_cookie_t AskProperty(xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                                          std::uint32_t offset_units, std::uint32_t units) {
        return xcb_get_property(c_, 0, w, property, type, offset_units, units);
    }

    // Whether `w` exists, in one round trip.
    bool Exists(xcb_window_t w);
    // A message about `w` to the window manager, as EWMH has clients send them.
    xcb_void_cookie_t SendToRoot(xcb_window_t w, xcb_atom_t type, std::array<long, 5> data);

    // The requests of one operation that can name a vanished window, sent checked: each error
    // comes back to the trap that sent the request, however traps nest, and never reaches
    // Xlib's handler (whose default ends the process).
    class Trap {
      public:
        explicit Trap(X11Connection& connection) : connection_(connection) {}
        ~Trap();
        Trap(const Trap&) = delete;
        Trap& operator=(const Trap&) = delete;

        // Keeps the request's error, if any, for Failed.
        void Check(xcb_void_cookie_t cookie);
        // Waits until the server has handled this trap's requests (one round trip) and tells
        // whether any of them failed so far.
        bool Failed();

      private:
        X11Connection& connection_;
        std::vector<xcb_void_cookie_t> cookies_;
        bool failed_ = false;
    };

    // Xlib's handler of a lost connection is one for the whole process and may belong to
    // someone else by now (Qt installs its own when its application object is made): this puts
    // ours in front again, and keeps that one for connections that are not ours.
    static void PutLostConnectionHandlerFirst();
    // Another connection of this program to the same server (the toolkit's) ends the program as
    // this one does when the server goes away: one line on standard error, exit 1.
    static void EndOnLostConnection(Display* display);
    // Ends the program so, now, if any of those connections has broken.
    static void EndIfAnyConnectionLost();
    [[noreturn]] static void LostConnection();

  private:
    X11Connection() = default;

    Display* display_ = nullptr;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    std::size_t max_request_bytes_ = 0;
    unsigned long round_trips_ = 0;
    unsigned long changes_ = 0;
    Atoms atom_{};
};

// A property's bytes, and its 32-bit items (empty unless it has format 32).
std::string_view Bytes(const xcb_get_property_reply_t* r);
std::vector<std::uint32_t> Cardinals(const xcb_get_property_reply_t* r);

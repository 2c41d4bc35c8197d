// Window titles on X: read as UTF-8 from _NET_WM_NAME or WM_NAME in whatever encoding it
// carries, only as much as asked; encoded for writing into both; and both raw properties read
// and written as they are, for the keeping rules.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>

#include "winsys/x11_connection.h"

// A title property as read or written: its type (XCB_ATOM_NONE: absent), format and bytes.
struct RawProperty {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 8;
    std::string bytes;
    friend bool operator==(const RawProperty&, const RawProperty&) = default;
};
struct RawTitle {
    RawProperty net_wm_name;
    RawProperty wm_name;
    friend bool operator==(const RawTitle&, const RawTitle&) = default;
};

class Titles {
  public:
    explicit Titles(X11Connection& x) : x_(x) {}

    // The title as UTF-8, at least `max` bytes of it where there are that many, reading no
    // more of the properties than that needs.
    std::string Read(xcb_window_t w, std::size_t max);
    // The valid UTF-8 `utf8` as both properties: UTF8_STRING, and Latin-1 STRING where it fits,
    // else COMPOUND_TEXT; cut where a request could not carry it.
    RawTitle Encode(std::string utf8) const;

    // Both properties as they are, each cut to kMaxTitleBytes (a cut UTF-8 title at a
    // character's end); false when the window did not answer.
    bool ReadRaw(xcb_window_t w, RawTitle* title);
    bool WriteRaw(xcb_window_t w, const RawTitle& title);

  private:
    X11Connection& x_;
};

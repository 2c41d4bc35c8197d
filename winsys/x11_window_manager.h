// What the running window manager announces on the root window: read once, then kept up to
// date by the root's events, for the parts that place windows and keep one above.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

#include "winsys/x11_connection.h"
#include "winsys/x11_event_masks.h"

typedef union _XEvent XEvent;

struct WindowManager {
    bool running = false;  // an EWMH one: its check window exists and names itself
    std::vector<std::uint32_t> supported;
    bool Supports(xcb_atom_t atom) const;
};

class WindowManagerWatch {
  public:
    WindowManagerWatch(X11Connection& x, EventMasks& masks) : x_(x), masks_(masks) {}

    // Read at the first call; from then on the root's events keep it fresh.
    const WindowManager& Current();
    // True when `event` tells that a window manager started or ended; it has been read anew.
    bool OnEvent(const XEvent& event);

  private:
    void Read();

    X11Connection& x_;
    EventMasks& masks_;
    bool read_ = false;
    WindowManager wm_;
};

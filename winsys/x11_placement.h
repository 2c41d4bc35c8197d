// Where windows are and how the window manager frames them: a window's place read in one round
// trip, and moving and sizing it by its outer rectangle.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

#include "winsys/window_system.h"
#include "winsys/x11_connection.h"
#include "winsys/x11_window_manager.h"

// How far the frame reaches beyond a client window's border on each side.
struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

// Where to ask a framed window to go so that its frame's outer corner lands at `x`, `y`. The
// window manager places the frame by the window's gravity, with ICCCM's reference points: the
// frame's edge or centre on the gravity's side goes where the window's own would; static gravity
// keeps the inside in place.
POINT FrameOrigin(std::uint32_t gravity, const FrameExtents& frame, int x, int y);

// Where a window is and how the window manager frames it.
struct Placement {
    int x = 0;  // the inside of the window, in root coordinates
    int y = 0;
    int width = 0;
    int height = 0;
    int border = 0;
    bool managed = false;  // has WM_STATE Normal or Iconic
    bool mapped = false;
    FrameExtents frame;  // while managed
    // The X border of the frame window, where the extents were measured from it because the
    // window manager knows no EWMH (twm draws its frames with one).
    int frame_border = 0;
    std::uint32_t gravity = XCB_GRAVITY_NORTH_WEST;
    std::vector<xcb_atom_t> net_wm_state;
    bool wm_moves_windows = false;  // the window manager takes _NET_MOVERESIZE_WINDOW

    RECT Outer() const;
};

class Placer {
  public:
    explicit Placer(X11Connection& x) : x_(x) {}

    // One round trip, and one more a level for a frame the window manager tells nothing of.
    bool Read(xcb_window_t w, const WindowManager& wm, Placement* p);
    // Moves and sizes `w` so that its outer rectangle becomes x, y, cx, cy, as far as `flags`
    // (SWP_NOMOVE, SWP_NOSIZE) let it. A child window's position is relative to its parent.
    void Configure(xcb_window_t w, const Placement& p, int x, int y, int cx, int cy, UINT flags,
                   X11Connection::Trap& trap);
    void Show(xcb_window_t w, X11Connection::Trap& trap);
    void Activate(xcb_window_t w, X11Connection::Trap& trap);

  private:
    void MeasureFrame(xcb_window_t parent, Placement* p);

    X11Connection& x_;
};

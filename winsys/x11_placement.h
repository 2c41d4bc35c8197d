// Where windows are and how the window manager frames them: a window's place read in one round
// trip, moving and sizing it by its outer rectangle, and the wait until the window manager has
// placed a window of ours.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

#include "winsys/window_system.h"
#include "winsys/x11_connection.h"
#include "winsys/x11_event_masks.h"

typedef union _XEvent XEvent;

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
    bool Read(xcb_window_t w, Placement* p);
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

// Whether the window manager has placed a window of ours yet: viewable, and managed where a window
// manager runs (an EWMH one, or one that has reparented the window), with its frame extents
// published if it publishes any. Known from the window's events and the root's, after one look
// when the wait starts.
class FrameWait {
  public:
    FrameWait(X11Connection& x, EventMasks& masks) : x_(x), masks_(masks) {}

    // Waits for `w` (instead of any window awaited before); true if it is placed already, and
    // then it is not awaited.
    bool Start(xcb_window_t w);
    // True when `event` has completed the awaited window's placement; it is not awaited then.
    bool OnEvent(const XEvent& event);

  private:
    bool Placed() const;
    void Stop();

    X11Connection& x_;
    EventMasks& masks_;
    xcb_window_t window_ = XCB_NONE;
    bool viewable_ = false;
    bool reparented_ = false;
    bool has_state_ = false;
    bool has_extents_ = false;
    WindowManager wm_;
};

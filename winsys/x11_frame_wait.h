// The wait until the window manager has placed a window of ours where it stays.
#pragma once

#include <xcb/xcb.h>

#include "winsys/x11_connection.h"
#include "winsys/x11_event_masks.h"
#include "winsys/x11_window_manager.h"

typedef union _XEvent XEvent;

// Whether the window manager has placed a window of ours yet: viewable, and managed where a window
// manager runs (an EWMH one, or one that has reparented the window), with its frame extents
// published if it publishes any. Known from the window's events and the root's, after one look
// when the wait starts.
class FrameWait {
  public:
    FrameWait(X11Connection& x, EventMasks& masks) : x_(x), masks_(masks) {}

    // Waits for `w` (instead of any window awaited before) under the window manager `wm`; true
    // if it is placed already, and then it is not awaited.
    bool Start(xcb_window_t w, const WindowManager& wm);
    // True when `event`, or a window manager that started or ended (`wm_changed`), has
    // completed the awaited window's placement; it is not awaited then.
    bool OnEvent(const XEvent& event, const WindowManager& wm, bool wm_changed);
    bool Waiting() const { return window_ != XCB_NONE; }

  private:
    bool Notes(const XEvent& event);
    bool Placed(const WindowManager& wm) const;
    void Stop();

    X11Connection& x_;
    EventMasks& masks_;
    xcb_window_t window_ = XCB_NONE;
    bool viewable_ = false;
    bool reparented_ = false;
    bool has_state_ = false;
    bool has_extents_ = false;
};

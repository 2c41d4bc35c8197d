// Keeping a window above the others: through the window manager where it can (the window's
// _NET_WM_STATE_ABOVE), else by restacking the window whenever another one comes over it, which
// the root's stacking model, kept from events, tells without asking the server.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>

#include "winsys/x11_connection.h"
#include "winsys/x11_event_masks.h"
#include "winsys/x11_placement.h"
#include "winsys/x11_stacking.h"
#include "winsys/x11_window_manager.h"

typedef union _XEvent XEvent;

class KeepAbove {
  public:
    KeepAbove(X11Connection& x, EventMasks& masks) : x_(x), masks_(masks) {}

    // Asks for `w`, placed as `p` says, to stay above the other windows, or no longer.
    void Ask(xcb_window_t w, const Placement& p, bool above, const WindowManager& wm,
             X11Connection::Trap& trap);
    // Follows the stacking order.
    void OnEvent(const XEvent& event);
    // A window manager has started or ended: the window kept above is asked for again.
    void WindowManagerChanged(const WindowManager& wm);
    // Raises the window kept above if a window has come over it, at most kMostRaises times a
    // period, so that two programs that each keep their window on top stop after a few turns.
    void RaiseIfCovered();

  private:
    void Start(xcb_window_t w, const WindowManager& wm);
    void ReadStack();
    void OnStackEvent(const XEvent& event);

    X11Connection& x_;
    EventMasks& masks_;
    // The window kept above, while the window manager does not keep it so (or none runs): this
    // connection then restacks it over whatever covers it.
    xcb_window_t window_ = XCB_NONE;
    bool by_window_manager_ = false;
    xcb_window_t top_ = XCB_NONE;  // the root's child that holds it: itself or its frame
    RootStack stack_;
    std::uint32_t stack_sequence_ = 0;  // events from before the stack was read are in it
    bool restack_ = false;
    std::chrono::steady_clock::time_point period_start_{};
    int raises_ = 0;
};

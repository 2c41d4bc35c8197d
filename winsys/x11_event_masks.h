// The events the parts of the X11 backend want on each window. The server keeps one event mask
// per client and window, so the window gets the union of what the parts want.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <unordered_map>

#include "winsys/x11_connection.h"

class EventMasks {
  public:
    enum class Part { Finder, Keeping, KeepAbove, FrameWait, WindowManager, kCount };

    explicit EventMasks(X11Connection& x) : x_(x) {}

    // What `part` wants on `w` from now on (0: nothing); the server hears of a change to the
    // union. A window that has gone answers with an error, which xcb drops.
    void Want(Part part, xcb_window_t w, std::uint32_t events);
    // Adds to what `part` wants on `w`.
    void Add(Part part, xcb_window_t w, std::uint32_t events);
    std::uint32_t Wanted(Part part, xcb_window_t w) const;
    // The window has gone, and with it what was selected on it: nothing to send.
    void Forget(xcb_window_t w) { wanted_.erase(w); }

  private:
    using PerPart = std::array<std::uint32_t, static_cast<std::size_t>(Part::kCount)>;
    static std::uint32_t Union(const PerPart& parts);

    X11Connection& x_;
    std::unordered_map<xcb_window_t, PerPart> wanted_;
};

// Which window is where: the pointer, the client window at a point (the one that carries
// WM_STATE, whatever part of its frame the point is on), and the windows watched meanwhile, whose
// events keep the answer and their titles fresh without asking the server again.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "winsys/own_windows.h"
#include "winsys/window_system.h"
#include "winsys/x11_connection.h"
#include "winsys/x11_event_masks.h"

typedef union _XEvent XEvent;

class WindowFinder {
  public:
    // How much of a watched window's title is kept: enough for the tick's TitleBuffer, with room
    // for a cut-off character.
    static constexpr std::size_t kTitleKept = 255;

    WindowFinder(X11Connection& x, EventMasks& masks) : x_(x), masks_(masks) {}

    // Asks where the pointer is, in root coordinates; nothing if the server did not answer.
    // WindowAt then takes the top-level window under the pointer from the reply, as long as
    // this connection changes nothing in between.
    std::optional<POINT> QueryPointer();

    // The client window at a point on the screen (a top-level window that holds none answers
    // for itself), or XCB_NONE. At the pointer's point, the windows read are watched until the
    // pointer leaves that top-level window.
    xcb_window_t WindowAt(std::int16_t x, std::int16_t y);
    // The clients of every mapped top-level window at a point, uppermost first, at most `most`
    // of them; windows a compositor hides without unmapping them count too.
    std::vector<xcb_window_t> ClientsAt(std::int16_t x, std::int16_t y, std::size_t most);
    // Over one of our own windows, the deepest of `own` at the point; any other window answers
    // for itself.
    xcb_window_t DeepestOwnWindow(xcb_window_t client, std::int16_t x, std::int16_t y,
                                  const std::unordered_map<xcb_window_t, OwnWindow>& own);

    // A watched window lives until its DestroyNotify.
    bool Watches(xcb_window_t w) const { return watched_.count(w) != 0; }
    // The kept start of a watched window's title (kTitleKept bytes of it); nullptr until kept,
    // again once it changes, and for a window not watched.
    const std::string* KeptTitle(xcb_window_t w) const;
    // Keeps the start of a watched window's title, read after it was watched, so that any
    // later change comes as an event and drops it; a window not watched keeps nothing.
    void KeepTitle(xcb_window_t w, std::string title);

    // Keeps what the watched windows tell up to date.
    void OnEvent(const XEvent& event);

  private:
    using WatchNeeds = std::unordered_map<xcb_window_t, std::uint32_t>;
    struct Pointer {
        std::int16_t x;
        std::int16_t y;
        xcb_window_t top;
        unsigned long changes;  // the connection's count of changes when it was asked
    };
    struct Watched {
        std::uint32_t events = 0;
        std::optional<std::string> title;
    };

    xcb_window_t TopLevelAt(std::int16_t x, std::int16_t y);
    // Whether an unmanaged top-level window is Mutter's guard window; asked once a window.
    bool IsGuardWindow(xcb_window_t top);
    xcb_window_t ClientOf(xcb_window_t top_level, bool watch);
    xcb_window_t RememberedClient(xcb_window_t frame, WatchNeeds* needs);
    xcb_window_t SearchClient(xcb_window_t top_level, std::optional<WatchNeeds>& watch);
    void WatchBeforeReading(const std::vector<xcb_window_t>& level, std::uint32_t events,
                            std::optional<WatchNeeds>& watch);
    void Watch(xcb_window_t w, std::uint32_t events);
    void KeepWatching(const WatchNeeds& needs);
    void UnwatchAll();

    X11Connection& x_;
    EventMasks& masks_;
    std::optional<Pointer> pointer_;
    // The top-level window under the pointer and the window found for it (its client, else
    // itself), kept while the events of every window that search read show no change;
    // XCB_NONE: search again.
    xcb_window_t watched_top_ = XCB_NONE;
    xcb_window_t watched_client_ = XCB_NONE;
    // Those windows, watched until the pointer leaves `watched_top_`.
    std::unordered_map<xcb_window_t, Watched> watched_;
    // The client found in each frame, a child of it, to look at first when the pointer comes
    // back.
    std::unordered_map<xcb_window_t, xcb_window_t> clients_seen_;
    // The last unmanaged top-level window asked about, and whether it is the guard window.
    xcb_window_t guard_checked_ = XCB_NONE;
    bool is_guard_ = false;
};

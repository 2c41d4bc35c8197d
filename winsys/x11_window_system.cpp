#include "winsys/x11_window_system.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "winsys/x11_connection.h"
#include "winsys/x11_event_masks.h"
#include "winsys/x11_frame_wait.h"
#include "winsys/x11_global_keys.h"
#include "winsys/x11_keep_above.h"
#include "winsys/x11_placement.h"
#include "winsys/x11_text.h"
#include "winsys/x11_titles.h"
#include "winsys/x11_window_finder.h"
#include "winsys/x11_window_manager.h"

namespace {

// XIDs use 29 bits; anything else is not a window of any server.
bool ToWindow(HWND handle, xcb_window_t* window) {
    if (handle == 0 || handle > 0x1FFFFFFFu) {
        return false;
    }
    *window = static_cast<xcb_window_t>(handle);
    return true;
}

bool InProtocolRange(long v) {
    return v >= INT16_MIN && v <= INT16_MAX;
}

// Text from a window's own text callback, made valid and long enough for `max` bytes without
// looking at the rest of a long text.
std::string OwnText(const OwnWindow& own, std::size_t max) {
    if (!own.text) {
        return {};
    }
    const std::size_t look = max + 3;  // a cut-off character at the end is at most 3 bytes
    const std::string text = own.text(look);
    return x11_text::ValidUtf8(std::string_view(text).substr(0, look), text.size() > look);
}

}  // namespace

// The parts, each on the one connection, and what only the facade holds: the map of our own
// windows, where the keeping rules' notices go, and what waits for Pump to act on it.
struct X11WindowSystem::Parts final {
    explicit Parts(std::unique_ptr<X11Connection> connection)
        : owned(std::move(connection)), x(*owned) {}

    std::unique_ptr<X11Connection> owned;
    X11Connection& x;
    EventMasks masks{x};
    WindowManagerWatch wm{x, masks};
    WindowFinder finder{x, masks};
    Titles titles{x};
    Placer placer{x};
    KeepAbove keep_above{x, masks};
    FrameWait frame_wait{x, masks};
    std::unique_ptr<GlobalKeys> keys;
    std::unordered_map<xcb_window_t, OwnWindow> own;
    TitleNotices* notices = nullptr;
    std::function<void()> when_placed;
    bool placed = false;
    bool wm_changed_since = false;  // a window manager started or ended since the last Pump

    void OnEvent(const XEvent& event);
};

void X11WindowSystem::Parts::OnEvent(const XEvent& event) {
    // The keeping rules hear of windows that end and of titles that change.
    if (notices != nullptr) {
        if (event.type == DestroyNotify) {
            notices->OnWindowEnded(event.xdestroywindow.window);
        } else if (event.type == PropertyNotify && (event.xproperty.atom == x.atom().net_wm_name ||
                                                    event.xproperty.atom == XCB_ATOM_WM_NAME)) {
            notices->OnTitleChanged(event.xproperty.window);
        }
    }
    const bool wm_changed = wm.OnEvent(event);
    finder.OnEvent(event);
    keep_above.OnEvent(event);
    wm_changed_since = wm_changed_since || wm_changed;
    // The window manager was read when the wait started.
    if (frame_wait.Waiting()) {
        placed = frame_wait.OnEvent(event, wm.Current(), wm_changed) || placed;
    }
    if (keys) {
        keys->OnEvent(event);
    }
    if (event.type == DestroyNotify) {
        masks.Forget(static_cast<xcb_window_t>(event.xdestroywindow.window));
    }
}

X11WindowSystem::X11WindowSystem(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

X11WindowSystem::~X11WindowSystem() = default;

std::unique_ptr<X11WindowSystem> X11WindowSystem::Open(const char* display_name,
                                                       std::string* error) {
    std::unique_ptr<X11Connection> connection = X11Connection::Open(display_name, error);
    if (connection == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<X11WindowSystem>(
        new X11WindowSystem(std::make_unique<Parts>(std::move(connection))));
}

void X11WindowSystem::EndOnLostConnection(Display* display) {
    X11Connection::EndOnLostConnection(display);
}

void X11WindowSystem::EndIfAnyConnectionLost() {
    X11Connection::EndIfAnyConnectionLost();
}

void X11WindowSystem::DeclareOwnWindow(HWND window, OwnWindow own) {
    xcb_window_t w;
    if (ToWindow(window, &w)) {
        parts_->own[w] = std::move(own);
    }
}

void X11WindowSystem::WhenPlaced(HWND window, std::function<void()> placed) {
    Parts& p = *parts_;
    xcb_window_t w;
    p.when_placed = nullptr;
    p.placed = false;
    if (ToWindow(window, &w) && p.frame_wait.Start(w, p.wm.Current())) {
        placed();
    } else {
        p.when_placed = std::move(placed);
    }
}

void X11WindowSystem::BindGlobalKeys(std::vector<GlobalKey> keys) {
    parts_->keys.reset();
    parts_->keys = std::make_unique<GlobalKeys>(parts_->x, std::move(keys));
}

Display* X11WindowSystem::display() const {
    return parts_->x.display();
}

unsigned long X11WindowSystem::RoundTrips() const {
    return parts_->x.round_trips();
}

int X11WindowSystem::EventDescriptor() const {
    return XConnectionNumber(parts_->x.display());
}

void X11WindowSystem::Drain() {
    Parts& p = *parts_;
    // Reading may find the connection lost.
    X11Connection::PutLostConnectionHandlerFirst();
    // Xlib takes what xcb has already read before it reads the socket, which then costs one
    // read that finds nothing, never a round trip. XEventsQueued(QueuedAlready) would not do:
    // the events read along with a reply through xcb wait in xcb's queue, where it does not look.
    Display* display = p.x.display();
    while (XEventsQueued(display, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        p.OnEvent(event);
    }
}

void X11WindowSystem::Pump() {
    Drain();
    Parts& p = *parts_;
    if (p.notices != nullptr) {
        p.notices->AnswerChanges();
    }
    if (std::exchange(p.wm_changed_since, false)) {
        p.keep_above.WindowManagerChanged(p.wm.Current());
    }
    p.keep_above.RaiseIfCovered();
    if (std::exchange(p.placed, false)) {
        if (std::function<void()> placed = std::exchange(p.when_placed, nullptr)) {
            placed();
        }
    }
    if (p.keys) {
        p.keys->RunPressed();
    }
}

BOOL X11WindowSystem::GetCursorPos(POINT* point) {
    if (point == nullptr) {
        return 0;
    }
    *point = {};
    const std::optional<POINT> pointer = parts_->finder.QueryPointer();
    // The server sends events and replies in order: every change it made before the query has
    // now arrived, and once read, what the watched windows told is as fresh as the reply.
    Drain();
    if (!pointer) {
        return 0;
    }
    *point = *pointer;
    return 1;
}

HWND X11WindowSystem::WindowFromPoint(LONG x_in, LONG y_in) {
    if (!InProtocolRange(x_in) || !InProtocolRange(y_in)) {
        return 0;
    }
    const auto x = static_cast<std::int16_t>(x_in);
    const auto y = static_cast<std::int16_t>(y_in);
    WindowFinder& finder = parts_->finder;
    const xcb_window_t client = finder.WindowAt(x, y);
    return client != XCB_NONE ? finder.DeepestOwnWindow(client, x, y, parts_->own) : 0;
}

BOOL X11WindowSystem::IsWindow(HWND window) {
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    Parts& p = *parts_;
    // A watched window is there until its DestroyNotify; our own ones until forgotten.
    if (p.finder.Watches(w) || p.own.count(w) != 0) {
        return 1;
    }
    return p.x.Exists(w) ? 1 : 0;
}

int X11WindowSystem::GetWindowTextA(HWND window, char* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    buffer[0] = '\0';
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    Parts& p = *parts_;
    const auto max = static_cast<std::size_t>(capacity) - 1;
    std::string text;
    if (const auto own = p.own.find(w); own != p.own.end()) {
        text = OwnText(own->second, max);
    } else if (max == 0) {
        // Room for the terminating zero only.
    } else if (p.finder.Watches(w) && max <= WindowFinder::kTitleKept) {
        if (p.finder.KeptTitle(w) == nullptr) {
            p.finder.KeepTitle(w, p.titles.Read(w, WindowFinder::kTitleKept));
        }
        text = *p.finder.KeptTitle(w);
    } else {
        text = p.titles.Read(w, max);
    }
    const std::size_t n = x11_text::Utf8PrefixLength(text, max);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

BOOL X11WindowSystem::SetWindowTextA(HWND window, const char* text) {
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    Parts& p = *parts_;
    std::string utf8 = x11_text::ValidUtf8(text != nullptr ? text : "");
    if (const auto own = p.own.find(w); own != p.own.end()) {
        if (own->second.set_text) {
            own->second.set_text(utf8);
        }
        return 1;
    }
    return p.titles.WriteRaw(w, p.titles.Encode(std::move(utf8))) ? 1 : 0;
}

bool X11WindowSystem::ReadTitle(HWND window, RawTitle* title) {
    xcb_window_t w;
    return ToWindow(window, &w) && parts_->titles.ReadRaw(w, title);
}

bool X11WindowSystem::WriteTitle(HWND window, const RawTitle& title) {
    xcb_window_t w;
    return ToWindow(window, &w) && parts_->titles.WriteRaw(w, title);
}

bool X11WindowSystem::TitleOfText(const char* text, RawTitle* title) {
    *title = parts_->titles.Encode(x11_text::ValidUtf8(text));
    return true;
}

std::size_t X11WindowSystem::TitleBytes(const RawTitle& title) const {
    return std::max(title.net_wm_name.bytes.size(), title.wm_name.bytes.size());
}

bool X11WindowSystem::IsOwnWindow(HWND window) {
    xcb_window_t w;
    return ToWindow(window, &w) && parts_->own.count(w) != 0;
}

void X11WindowSystem::Listen(HWND window, Listening listening) {
    xcb_window_t w;
    if (ToWindow(window, &w)) {
        parts_->masks.Want(
            EventMasks::Part::Keeping, w,
            (listening.end ? std::uint32_t{XCB_EVENT_MASK_STRUCTURE_NOTIFY} : 0u) |
                (listening.changes ? std::uint32_t{XCB_EVENT_MASK_PROPERTY_CHANGE} : 0u));
    }
}

void X11WindowSystem::NotifyTo(TitleNotices* notices) {
    parts_->notices = notices;
}

BOOL X11WindowSystem::UpdateWindow(HWND window) {
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    Parts& p = *parts_;
    if (const auto own = p.own.find(w); own != p.own.end() && own->second.repaint) {
        own->second.repaint();
    }
    // The round trip of the existence check also makes sure that every change made so far has
    // reached the server and been handled.
    return p.x.Exists(w) ? 1 : 0;
}

unsigned long X11WindowSystem::DeclaredProcess(HWND window) {
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    X11Connection& x = parts_->x;
    const auto cookie = x.AskProperty(w, x.atom().net_wm_pid, XCB_ATOM_CARDINAL, 0, 1);
    x.Wait();
    const auto reply = x.Get(xcb_get_property_reply, cookie);
    const std::vector<std::uint32_t> pid = Cardinals(reply.get());
    return pid.empty() ? 0 : pid[0];
}

std::vector<HWND> X11WindowSystem::ClientsAt(LONG x, LONG y) {
    std::vector<HWND> clients;
    if (!InProtocolRange(x) || !InProtocolRange(y)) {
        return clients;
    }
    constexpr std::size_t kMost = 16;
    for (const xcb_window_t w : parts_->finder.ClientsAt(static_cast<std::int16_t>(x),
                                                         static_cast<std::int16_t>(y), kMost)) {
        clients.push_back(static_cast<HWND>(w));
    }
    return clients;
}

bool X11WindowSystem::RootSize(int* width, int* height) {
    X11Connection& x = parts_->x;
    const auto cookie = xcb_get_geometry(x.xcb(), x.root());
    x.Wait();
    const auto reply = x.Get(xcb_get_geometry_reply, cookie);
    if (!reply) {
        return false;
    }
    *width = reply->width;
    *height = reply->height;
    return true;
}

BOOL X11WindowSystem::GetWindowRect(HWND window, RECT* rect) {
    if (rect == nullptr) {
        return 0;
    }
    *rect = {};
    xcb_window_t w;
    Placement p;
    if (!ToWindow(window, &w) || !parts_->placer.Read(w, parts_->wm.Current(), &p)) {
        return 0;
    }
    *rect = p.Outer();
    return 1;
}

BOOL X11WindowSystem::SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                                   UINT flags) {
    xcb_window_t w;
    Placement place;
    Parts& p = *parts_;
    if (!ToWindow(window, &w) || !p.placer.Read(w, p.wm.Current(), &place)) {
        return 0;
    }
    X11Connection::Trap trap(p.x);
    // The window manager handles these in order: once the new state shows, so does the move.
    p.placer.Configure(w, place, x, y, cx, cy, flags, trap);
    if ((flags & SWP_NOZORDER) == 0 &&
        (insert_after == HWND_TOPMOST || insert_after == HWND_NOTOPMOST)) {
        p.keep_above.Ask(w, place, insert_after == HWND_TOPMOST, p.wm.Current(), trap);
    }
    if ((flags & SWP_SHOWWINDOW) != 0) {
        p.placer.Show(w, trap);
    }
    if ((flags & SWP_NOACTIVATE) == 0 && (place.managed || (flags & SWP_SHOWWINDOW) != 0)) {
        p.placer.Activate(w, trap);
    }
    return trap.Failed() ? 0 : 1;
}

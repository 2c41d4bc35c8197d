#include "winsys/x11_window_system.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "target/keeping.h"
#include "winsys/x11_stacking.h"
#include "winsys/x11_text.h"

namespace {

// The z-order values and flags of SetWindowPos that the boundary header leaves to Windows.
const HWND kHwndNoTopmost = static_cast<HWND>(-2);
constexpr UINT kSwpNoSize = 0x0001;
constexpr UINT kSwpNoMove = 0x0002;
constexpr UINT kSwpNoZOrder = 0x0004;

// How far WindowFromPoint looks below a top-level window for the client that carries WM_STATE,
// and how many windows it asks about at most: no window manager nests deeper than a few levels.
constexpr int kMaxDepth = 8;
constexpr std::size_t kMaxWindowsSearched = 4096;
// How many windows the backend watches at most (openbox's frame holds 57), and how much of each
// one's title it keeps: enough for the tick's TitleBuffer, with room for a cut-off character.
constexpr std::size_t kMaxWatched = 256;
constexpr std::size_t kTitleKept = 255;
constexpr std::size_t kMaxRemembered = 256;

// What is watched on a top-level window: its own end and WM_STATE, and its children's changes;
// on any other window read: its end, WM_STATE and title.
constexpr std::uint32_t kWindowEvents =
    XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
constexpr std::uint32_t kTopLevelEvents = kWindowEvents | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

// Bytes of a request that are not the property data (header and BIG-REQUESTS length).
constexpr std::size_t kRequestOverhead = 64;

// Raising a window kept above others, where no window manager does it, at most this often:
// two programs that each keep their window on top then stop after a few turns.
constexpr int kMostRaises = 5;
constexpr auto kRaisePeriod = std::chrono::seconds(1);

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

[[noreturn]] void LostConnection() {
    static constexpr char kMessage[] = "velmo: lost the connection to the X server\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(1);
}

// Xlib's handler of a lost connection is one for the whole process and may already belong to
// someone else (Qt installs its own): ours ends the program for our own connections and passes
// every other one on.
std::vector<Display*>& OurDisplays() {
    static std::vector<Display*> displays;
    return displays;
}

XIOErrorHandler previous_io_error_handler = nullptr;

int OnIoError(Display* display) {
    const auto& ours = OurDisplays();
    if (std::find(ours.begin(), ours.end(), display) != ours.end()) {
        LostConnection();
    }
    return previous_io_error_handler != nullptr ? previous_io_error_handler(display) : 0;
}

// Puts ours in front again when another has been installed after it, as Qt does when the
// application object is made, and keeps that one for the connections that are not ours.
void PutOurIoErrorHandlerFirst() {
    const XIOErrorHandler current = XSetIOErrorHandler(&OnIoError);
    if (current != &OnIoError) {
        previous_io_error_handler = current;
    }
}

void WatchForLostConnection(Display* display) {
    PutOurIoErrorHandlerFirst();
    OurDisplays().push_back(display);
}

// Keeps the X errors of one operation on our connection from reaching the handler in place
// (Xlib's default one prints and ends the process), and puts that handler back afterwards.
// Errors that concern other connections still go to it.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* display) : display_(display), outer_(innermost_) {
        innermost_ = this;
        previous_ = XSetErrorHandler(&ErrorTrap::OnError);
    }
    ~ErrorTrap() {
        XSetErrorHandler(previous_);
        innermost_ = outer_;
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    bool failed() const { return error_code_ != 0; }

  private:
    static int OnError(Display* display, XErrorEvent* event) {
        ErrorTrap* trap = innermost_;
        if (trap == nullptr) {
            return 0;
        }
        if (display == trap->display_) {
            trap->error_code_ = event->error_code;
            return 0;
        }
        while (trap->outer_ != nullptr) {
            trap = trap->outer_;
        }
        return trap->previous_ != nullptr ? trap->previous_(display, event) : 0;
    }

    static inline ErrorTrap* innermost_ = nullptr;
    Display* display_;
    ErrorTrap* outer_;
    XErrorHandler previous_ = nullptr;
    int error_code_ = 0;
};

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

std::int16_t Clamp16(long v) {
    return static_cast<std::int16_t>(std::clamp<long>(v, INT16_MIN, INT16_MAX));
}

std::string_view Bytes(const xcb_get_property_reply_t* r) {
    return {static_cast<const char*>(xcb_get_property_value(r)),
            static_cast<std::size_t>(xcb_get_property_value_length(r))};
}

std::vector<std::uint32_t> Cardinals(const xcb_get_property_reply_t* r) {
    if (r == nullptr || r->format != 32) {
        return {};
    }
    const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(r));
    return {v, v + r->value_len};
}

// Text from a window's own text callback, made valid and long enough for `max` bytes without
// looking at the rest of a long text.
std::string OwnText(const OwnWindow& own, std::size_t max) {
    if (!own.text) {
        return {};
    }
    const std::string text = own.text();
    const std::size_t look = max + 3;  // a cut-off character at the end is at most 3 bytes
    return x11_text::ValidUtf8(std::string_view(text).substr(0, look), text.size() > look);
}

// The last pointer query's answer: where the pointer was and the top-level window under it.
struct Pointer {
    std::int16_t x;
    std::int16_t y;
    xcb_window_t top;
    unsigned long next_request;  // the connection's request number right after the query
};

// A window whose changes the server reports to us: the events selected on it, and the first
// kTitleKept bytes of its title once read, until the title changes.
struct WatchedWindow {
    std::uint32_t events = 0;
    std::optional<std::string> title;
};
// The events that watching each window needs.
using WatchNeeds = std::unordered_map<xcb_window_t, std::uint32_t>;

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

// Where a window is and how the window manager frames it, read in one round trip.
struct Placement {
    int x = 0;  // the inside of the window, in root coordinates
    int y = 0;
    int width = 0;
    int height = 0;
    int border = 0;
    bool managed = false;  // has WM_STATE Normal or Iconic
    bool mapped = false;
    std::array<int, 4> frame{};  // left, right, top, bottom, while managed
    std::uint32_t gravity = XCB_GRAVITY_NORTH_WEST;
    std::vector<xcb_atom_t> net_wm_state;
    bool wm_moves_windows = false;  // the window manager takes _NET_MOVERESIZE_WINDOW

    RECT Outer() const {
        return {x - border - frame[0], y - border - frame[2], x + width + border + frame[1],
                y + height + border + frame[3]};
    }
};

}  // namespace

// The backend is the keeping rules' store of titles: it reads and writes both title properties
// as they are, and selects on each window the events the rules want passed on.
struct X11WindowSystem::State final : TitleStore<RawTitle> {
    Display* display = nullptr;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = XCB_NONE;
    std::size_t max_request_bytes = 0;
    unsigned long round_trips = 0;
    std::unordered_map<xcb_window_t, OwnWindow> own;
    std::optional<Pointer> pointer;
    // The top-level window under the pointer and the window found for it (its client, else
    // itself), kept while the events of every window that search read show no change;
    // XCB_NONE: search again.
    xcb_window_t watched_top = XCB_NONE;
    xcb_window_t watched_client = XCB_NONE;
    // Those windows, watched until the pointer leaves `watched_top`.
    std::unordered_map<xcb_window_t, WatchedWindow> watched;
    // The client found in each frame, a child of it, to look at first when the pointer comes
    // back.
    std::unordered_map<xcb_window_t, xcb_window_t> clients_seen;
    // Events that other parts of the backend select on a window. Masks are per client and
    // window, so a window's mask is these together with what watching it needs.
    std::unordered_map<xcb_window_t, std::uint32_t> selected;
    std::function<void(const XEvent&)> watcher;
    TitleKeeper<RawTitle> keeper{*this};

    // The window that SetWindowPos made topmost, while the window manager does not keep it
    // above (or none runs): this connection then restacks it over whatever covers it.
    struct {
        xcb_window_t window = XCB_NONE;
        bool by_window_manager = false;
        xcb_window_t top = XCB_NONE;  // the root's child that holds it: itself or its frame
        RootStack stack;
        std::uint32_t stack_sequence = 0;  // events from before the stack was read are in it
        bool restack = false;
        std::chrono::steady_clock::time_point period_start{};
        int raises = 0;
    } topmost;

    struct {
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
    } atom{};

    // Called once before collecting the replies to the requests sent since the last wait: they
    // travel to the server and back together, as one round trip.
    void Wait() { ++round_trips; }

    template <typename T, typename Cookie>
    Reply<T> Get(T* (*reply_function)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                 Cookie cookie) {
        xcb_generic_error_t* error = nullptr;
        Reply<T> reply(reply_function(c, cookie, &error));
        std::free(error);
        if (!reply && xcb_connection_has_error(c)) {
            LostConnection();
        }
        return reply;
    }

    // Waits until the server has handled every request so far, so that their errors have
    // reached the trap.
    void Sync() {
        XSync(display, False);
        Wait();
    }

    xcb_get_property_cookie_t AskProperty(xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                                          std::uint32_t offset_units, std::uint32_t units) {
        return xcb_get_property(c, 0, w, property, type, offset_units, units);
    }

    bool Exists(xcb_window_t w) {
        const auto cookie = xcb_get_window_attributes(c, w);
        Wait();
        return Get(xcb_get_window_attributes_reply, cookie) != nullptr;
    }

    void SendEventMask(xcb_window_t w);
    void Select(xcb_window_t w, std::uint32_t events);
    void Watch(xcb_window_t w, std::uint32_t events);
    void UnwatchAll();
    void OnWatchedEvent(const XEvent& event);
    xcb_window_t TopLevelAt(std::int16_t x, std::int16_t y);
    xcb_window_t ClientOf(xcb_window_t top_level, bool watch);
    xcb_window_t RememberedClient(xcb_window_t frame, WatchNeeds* needs);
    xcb_window_t SearchClient(xcb_window_t top_level, std::optional<WatchNeeds>& watch);
    void KeepWatching(const WatchNeeds& needs);
    HWND DeepestOwnWindow(xcb_window_t client, std::int16_t x, std::int16_t y);
    std::string ReadText(xcb_window_t w, std::size_t max);
    bool ReadPlacement(xcb_window_t w, Placement* p);
    void SendToRoot(xcb_window_t w, xcb_atom_t type, std::array<long, 5> data);
    void SetAbove(xcb_window_t w, const Placement& p, bool above);
    void KeepAbove(xcb_window_t w);
    bool WindowManagerKeepsAbove(bool* running);
    void ReadStack();
    void OnStackEvent(const XEvent& event);
    void RaiseIfCovered();
    void OnEvent(const XEvent& event);
    void OnTitleEvent(const XEvent& event);
    bool ReadTitle(HWND window, RawTitle* title) override;
    bool WriteTitle(HWND window, const RawTitle& title) override;
    // A write changes both properties, and the server tells of each.
    int NoticesPerWrite() const override { return 2; }
    std::size_t TitleBytes(const RawTitle& title) const override {
        return std::max(title.net_wm_name.bytes.size(), title.wm_name.bytes.size());
    }
    void ListeningChanged(HWND window) override {
        SendEventMask(static_cast<xcb_window_t>(window));
    }
    void Configure(xcb_window_t w, const Placement& p, int x, int y, int cx, int cy, UINT flags);
};

void X11WindowSystem::EndOnLostConnection(Display* display) {
    WatchForLostConnection(display);
}

void X11WindowSystem::EndIfConnectionLost(Display* display) {
    if (xcb_connection_has_error(XGetXCBConnection(display)) != 0) {
        LostConnection();
    }
}

X11WindowSystem::X11WindowSystem(std::unique_ptr<State> state) : state_(std::move(state)) {}

X11WindowSystem::~X11WindowSystem() {
    auto& ours = OurDisplays();
    ours.erase(std::remove(ours.begin(), ours.end(), state_->display), ours.end());
    XCloseDisplay(state_->display);
}

std::unique_ptr<X11WindowSystem> X11WindowSystem::Open(const char* display_name,
                                                       std::string* error) {
    Display* display = XOpenDisplay(display_name);
    if (display == nullptr) {
        if (error != nullptr) {
            const char* name = display_name != nullptr ? display_name : std::getenv("DISPLAY");
            *error = name != nullptr && *name != '\0'
                         ? "cannot open the X display \"" + std::string(name) + "\""
                         : std::string("cannot open the X display: DISPLAY is not set");
        }
        return nullptr;
    }
    WatchForLostConnection(display);

    auto s = std::make_unique<State>();
    s->display = display;
    s->c = XGetXCBConnection(display);
    s->root = static_cast<xcb_window_t>(DefaultRootWindow(display));
    const long units = XExtendedMaxRequestSize(display) != 0 ? XExtendedMaxRequestSize(display)
                                                             : XMaxRequestSize(display);
    s->max_request_bytes = static_cast<std::size_t>(units) * 4;

    const std::pair<const char*, xcb_atom_t*> names[] = {
        {"UTF8_STRING", &s->atom.utf8_string},
        {"COMPOUND_TEXT", &s->atom.compound_text},
        {"_NET_WM_NAME", &s->atom.net_wm_name},
        {"WM_STATE", &s->atom.wm_state},
        {"_NET_FRAME_EXTENTS", &s->atom.net_frame_extents},
        {"_NET_WM_STATE", &s->atom.net_wm_state},
        {"_NET_WM_STATE_ABOVE", &s->atom.net_wm_state_above},
        {"_NET_ACTIVE_WINDOW", &s->atom.net_active_window},
        {"_NET_SUPPORTED", &s->atom.net_supported},
        {"_NET_MOVERESIZE_WINDOW", &s->atom.net_moveresize_window},
        {"_NET_SUPPORTING_WM_CHECK", &s->atom.net_supporting_wm_check},
    };
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const auto& [name, atom] : names) {
        cookies.push_back(
            xcb_intern_atom(s->c, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    }
    s->Wait();
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        const auto reply = s->Get(xcb_intern_atom_reply, cookies[i]);
        *names[i].second = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
    return std::unique_ptr<X11WindowSystem>(new X11WindowSystem(std::move(s)));
}

void X11WindowSystem::DeclareOwnWindow(HWND window, OwnWindow own) {
    xcb_window_t w;
    if (ToWindow(window, &w)) {
        state_->own[w] = std::move(own);
    }
}

void X11WindowSystem::ForgetOwnWindow(HWND window) {
    xcb_window_t w;
    if (ToWindow(window, &w)) {
        state_->own.erase(w);
    }
}

Display* X11WindowSystem::display() const {
    return state_->display;
}

unsigned long X11WindowSystem::RoundTrips() const {
    return state_->round_trips;
}

int X11WindowSystem::connection_fd() const {
    return XConnectionNumber(state_->display);
}

void X11WindowSystem::HandleEvents() {
    State& s = *state_;
    // Reading may find the connection lost.
    PutOurIoErrorHandlerFirst();
    // Xlib takes what xcb has already read before it reads the socket, which then costs one
    // read that finds nothing, never a round trip. XEventsQueued(QueuedAlready) would not do:
    // the events read along with a reply through xcb wait in xcb's queue, where it does not look.
    while (XEventsQueued(s.display, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(s.display, &event);
        s.OnEvent(event);
        if (s.watcher) {
            s.watcher(event);
        }
    }
    s.keeper.AnswerChanges();
    s.RaiseIfCovered();
}

void X11WindowSystem::WatchEvents(std::function<void(const XEvent&)> watcher) {
    state_->watcher = std::move(watcher);
}

void X11WindowSystem::State::OnEvent(const XEvent& event) {
    OnTitleEvent(event);
    OnWatchedEvent(event);
    OnStackEvent(event);
}

// Sends the union of what is selected on `w`. A window that has gone answers with an error,
// which xcb drops: nothing of it reaches Xlib's error handler.
void X11WindowSystem::State::SendEventMask(xcb_window_t w) {
    std::uint32_t events = 0;
    if (const auto it = selected.find(w); it != selected.end()) {
        events |= it->second;
    }
    if (const auto it = watched.find(w); it != watched.end()) {
        events |= it->second.events;
    }
    const auto keeping = keeper.ListeningTo(w);
    events |= (keeping.end ? std::uint32_t{XCB_EVENT_MASK_STRUCTURE_NOTIFY} : 0u) |
              (keeping.changes ? std::uint32_t{XCB_EVENT_MASK_PROPERTY_CHANGE} : 0u);
    xcb_discard_reply(
        c, xcb_change_window_attributes_checked(c, w, XCB_CW_EVENT_MASK, &events).sequence);
}

void X11WindowSystem::State::Select(xcb_window_t w, std::uint32_t events) {
    std::uint32_t& mask = selected[w];
    if ((mask | events) != mask) {
        mask |= events;
        SendEventMask(w);
    }
}

void X11WindowSystem::State::Watch(xcb_window_t w, std::uint32_t events) {
    WatchedWindow& entry = watched[w];
    if ((entry.events | events) != entry.events) {
        entry.events |= events;
        SendEventMask(w);
    }
}

void X11WindowSystem::State::UnwatchAll() {
    for (auto it = watched.begin(); it != watched.end(); it = watched.begin()) {
        const xcb_window_t w = it->first;
        watched.erase(it);
        SendEventMask(w);
    }
    watched_client = XCB_NONE;
}

// Passes the ends of windows and the changes of their titles on to the keeping rules.
void X11WindowSystem::State::OnTitleEvent(const XEvent& event) {
    if (event.type == DestroyNotify) {
        keeper.OnWindowEnded(event.xdestroywindow.window);
    } else if (event.type == PropertyNotify && (event.xproperty.atom == atom.net_wm_name ||
                                                event.xproperty.atom == XCB_ATOM_WM_NAME)) {
        keeper.OnTitleChanged(event.xproperty.window);
    }
}

// Keeps what the watched windows tell up to date. What the search for the client read is
// WM_STATE and, of the windows it looked inside, their children in stacking order: a change to
// any of it makes WindowFromPoint search again.
void X11WindowSystem::State::OnWatchedEvent(const XEvent& event) {
    // The window the event was selected on, and the one it tells of: a child of it, when it
    // comes through the parent's SubstructureNotify.
    const xcb_window_t on = event.xany.window;
    xcb_window_t about = on;
    switch (event.type) {
        case PropertyNotify:
            if (const auto it = watched.find(on); it != watched.end()) {
                if (event.xproperty.atom == atom.wm_state) {
                    watched_client = XCB_NONE;
                } else if (event.xproperty.atom == atom.net_wm_name ||
                           event.xproperty.atom == XCB_ATOM_WM_NAME) {
                    it->second.title.reset();
                }
            }
            return;
        case DestroyNotify:
            about = event.xdestroywindow.window;
            selected.erase(about);
            if (watched.erase(about) != 0) {
                watched_client = XCB_NONE;
            }
            return;
        case CreateNotify:
            about = event.xcreatewindow.window;
            break;
        case ReparentNotify:
            about = event.xreparent.window;
            break;
        case ConfigureNotify:  // moved, resized or restacked
            about = event.xconfigure.window;
            break;
        case CirculateNotify:
            about = event.xcirculate.window;
            break;
        default:
            return;
    }
    if (about != on && watched.count(on) != 0) {
        watched_client = XCB_NONE;
    }
}

BOOL X11WindowSystem::GetCursorPos(POINT* point) {
    if (point == nullptr) {
        return 0;
    }
    *point = {};
    State& s = *state_;
    s.pointer.reset();
    const auto cookie = xcb_query_pointer(s.c, s.root);
    s.Wait();
    const auto reply = s.Get(xcb_query_pointer_reply, cookie);
    // The server sends events and replies in order: every change it made before the query has
    // now arrived, and once handled, what the watched windows told is as fresh as the reply.
    HandleEvents();
    if (!reply) {
        return 0;
    }
    *point = {reply->root_x, reply->root_y};
    if (reply->same_screen) {
        s.pointer = Pointer{reply->root_x, reply->root_y, reply->child, XNextRequest(s.display)};
    }
    return 1;
}

HWND X11WindowSystem::WindowFromPoint(LONG x_in, LONG y_in) {
    if (!InProtocolRange(x_in) || !InProtocolRange(y_in)) {
        return 0;
    }
    const auto x = static_cast<std::int16_t>(x_in);
    const auto y = static_cast<std::int16_t>(y_in);
    State& s = *state_;

    // Asked about the pointer's point before anything else was sent, GetCursorPos has the
    // top-level window there already. The windows searched below it are watched until the
    // pointer leaves it.
    const bool at_pointer = s.pointer && s.pointer->x == x && s.pointer->y == y &&
                            XNextRequest(s.display) == s.pointer->next_request;
    if (at_pointer && s.pointer->top != s.watched_top) {
        s.UnwatchAll();
        s.watched_top = s.pointer->top;
    }
    const xcb_window_t top = at_pointer ? s.pointer->top : s.TopLevelAt(x, y);
    if (top == XCB_NONE) {
        return 0;
    }
    xcb_window_t client = top == s.watched_top ? s.watched_client : XCB_NONE;
    if (client == XCB_NONE) {
        client = s.ClientOf(top, top == s.watched_top);
    }
    return client != XCB_NONE ? s.DeepestOwnWindow(client, x, y) : 0;
}

// The uppermost mapped top-level window at a point, if the point is on the screen.
xcb_window_t X11WindowSystem::State::TopLevelAt(std::int16_t x, std::int16_t y) {
    const auto at_root = xcb_translate_coordinates(c, root, root, x, y);
    const auto root_geometry = xcb_get_geometry(c, root);
    Wait();
    const auto at = Get(xcb_translate_coordinates_reply, at_root);
    const auto screen = Get(xcb_get_geometry_reply, root_geometry);
    if (!at || !screen || x < 0 || y < 0 || x >= screen->width || y >= screen->height) {
        return XCB_NONE;
    }
    return at->child;
}

// The window with WM_STATE nearest below a top-level window, else the top-level window itself
// (an unmanaged one, such as a popup menu, has no client inside); XCB_NONE if it has gone.
// With `watch`, the windows read are watched, from before they are read, so that any later
// change to what was read comes as an event; the answer is kept until then.
xcb_window_t X11WindowSystem::State::ClientOf(xcb_window_t top_level, bool watch) {
    std::optional<WatchNeeds> needs;
    if (watch) {
        needs.emplace();
    }
    xcb_window_t client = watch ? RememberedClient(top_level, &*needs) : XCB_NONE;
    if (client == XCB_NONE) {
        if (needs) {
            needs->clear();
        }
        client = SearchClient(top_level, needs);
    }
    if (watch) {
        if (client != XCB_NONE && needs) {
            KeepWatching(*needs);
            watched_client = client;
        } else {
            UnwatchAll();
        }
    }
    return client;
}

// The client the frame held when the pointer was there before, if it is still its child and
// still a client: one round trip, which also watches both again, instead of a search.
xcb_window_t X11WindowSystem::State::RememberedClient(xcb_window_t frame, WatchNeeds* needs) {
    const auto remembered = clients_seen.find(frame);
    if (remembered == clients_seen.end()) {
        return XCB_NONE;
    }
    const xcb_window_t client = remembered->second;
    clients_seen.erase(remembered);
    *needs = {{frame, kTopLevelEvents}, {client, kWindowEvents}};
    for (const auto& [w, events] : *needs) {
        Watch(w, events);
    }
    const auto frame_state = AskProperty(frame, atom.wm_state, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
    const auto client_state = AskProperty(client, atom.wm_state, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
    const auto client_tree = xcb_query_tree(c, client);
    Wait();
    const auto frame_has = Get(xcb_get_property_reply, frame_state);
    const auto client_has = Get(xcb_get_property_reply, client_state);
    const auto tree = Get(xcb_query_tree_reply, client_tree);
    const bool still = frame_has && frame_has->type == XCB_NONE && client_has &&
                       client_has->type != XCB_NONE && tree && tree->parent == frame;
    if (!still) {
        return XCB_NONE;
    }
    clients_seen[frame] = client;
    return client;
}

// Searches one level at a time, the uppermost client of the nearest level winning: each level
// costs a round trip, and one more to look inside it. With `watch`, each window is watched
// before it is read; windows beside the client found are let go again. More windows than
// kMaxWatched are not watched (`watch` is emptied).
xcb_window_t X11WindowSystem::State::SearchClient(xcb_window_t top_level,
                                                  std::optional<WatchNeeds>& watch) {
    auto watch_before_reading = [&](const std::vector<xcb_window_t>& level, std::uint32_t events) {
        if (watch && watch->size() + level.size() > kMaxWatched) {
            watch.reset();
        }
        for (const xcb_window_t w : level) {
            if (watch) {
                (*watch)[w] |= events;
                Watch(w, events);
            }
        }
    };
    std::vector<xcb_window_t> level{top_level};
    std::size_t searched = 0;
    for (int depth = 0; depth < kMaxDepth && !level.empty(); ++depth) {
        searched += level.size();
        if (searched > kMaxWindowsSearched) {
            break;
        }
        // The top-level window's children are asked for at once, as a frame seldom is a client.
        watch_before_reading(level, depth == 0 ? kTopLevelEvents : kWindowEvents);
        std::vector<xcb_get_property_cookie_t> states;
        for (const xcb_window_t w : level) {
            states.push_back(AskProperty(w, atom.wm_state, XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
        }
        std::vector<xcb_query_tree_cookie_t> trees;
        if (depth == 0) {
            trees.push_back(xcb_query_tree(c, top_level));
        }
        Wait();
        xcb_window_t found = XCB_NONE;
        bool gone = false;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const auto r = Get(xcb_get_property_reply, states[i]);
            gone = depth == 0 && !r;
            if (r && r->type != XCB_NONE) {
                found = level[i];  // children come lowest first, so the last one is uppermost
            }
        }
        if (found == XCB_NONE && !gone && trees.empty()) {
            watch_before_reading(level, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
            for (const xcb_window_t w : level) {
                trees.push_back(xcb_query_tree(c, w));
            }
            Wait();
        }
        std::vector<xcb_window_t> next;
        for (xcb_query_tree_cookie_t& cookie : trees) {
            if (const auto r = Get(xcb_query_tree_reply, cookie)) {
                const xcb_window_t* children = xcb_query_tree_children(r.get());
                next.insert(next.end(), children,
                            children + xcb_query_tree_children_length(r.get()));
            }
        }
        if (gone) {
            return XCB_NONE;
        }
        if (found != XCB_NONE) {
            for (const xcb_window_t w : level) {
                if (watch && w != found) {
                    watch->erase(w);
                }
            }
            if (depth == 1 && watch) {
                if (clients_seen.size() >= kMaxRemembered) {
                    clients_seen.clear();
                }
                clients_seen[top_level] = found;
            }
            return found;
        }
        level = std::move(next);
    }
    return top_level;
}

// Watches exactly the windows in `needs`, with the events given there.
void X11WindowSystem::State::KeepWatching(const WatchNeeds& needs) {
    for (auto it = watched.begin(); it != watched.end();) {
        const xcb_window_t w = it->first;
        const auto needed = needs.find(w);
        if (needed == needs.end()) {
            it = watched.erase(it);
            SendEventMask(w);
            continue;
        }
        if (it->second.events != needed->second) {
            it->second.events = needed->second;
            SendEventMask(w);
        }
        ++it;
    }
}

// Over one of our own windows, the deepest of our own windows at the point; any other window
// answers for itself.
HWND X11WindowSystem::State::DeepestOwnWindow(xcb_window_t client, std::int16_t x, std::int16_t y) {
    if (own.count(client) == 0) {
        return client;
    }
    // The child at the point inside each of our windows, all asked at once.
    std::vector<std::pair<xcb_window_t, xcb_translate_coordinates_cookie_t>> asked;
    for (const auto& entry : own) {
        asked.emplace_back(entry.first, xcb_translate_coordinates(c, root, entry.first, x, y));
    }
    Wait();
    std::unordered_map<xcb_window_t, xcb_window_t> child_at;
    for (const auto& [w, cookie] : asked) {
        if (const auto r = Get(xcb_translate_coordinates_reply, cookie)) {
            child_at[w] = r->child;
        }
    }
    xcb_window_t deepest = client;
    for (auto at = child_at.find(deepest); at != child_at.end() && own.count(at->second) != 0;
         at = child_at.find(deepest)) {
        deepest = at->second;
    }
    return deepest;
}

BOOL X11WindowSystem::IsWindow(HWND window) {
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    State& s = *state_;
    // A watched window is there until its DestroyNotify; our own ones until forgotten.
    if (s.watched.count(w) != 0 || s.own.count(w) != 0) {
        return 1;
    }
    return s.Exists(w) ? 1 : 0;
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
    State& s = *state_;
    const auto max = static_cast<std::size_t>(capacity) - 1;
    std::string text;
    if (const auto own = s.own.find(w); own != s.own.end()) {
        text = OwnText(own->second, max);
    } else if (max == 0) {
        // Room for the terminating zero only.
    } else if (const auto watch = s.watched.find(w);
               watch != s.watched.end() && max <= kTitleKept) {
        // Watched before it is read, so any later change comes as an event and drops it.
        std::optional<std::string>& title = watch->second.title;
        if (!title) {
            title = s.ReadText(w, kTitleKept);
        }
        text = *title;
    } else {
        text = s.ReadText(w, max);
    }
    const std::size_t n = x11_text::Utf8PrefixLength(text, max);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

// The title as UTF-8, at least `max` bytes of it where there are that many, reading no more
// of the properties than that needs.
std::string X11WindowSystem::State::ReadText(xcb_window_t w, std::size_t max) {
    // Each byte of a title gives at least one byte of UTF-8, except for COMPOUND_TEXT's escape
    // sequences, which are read further below if they took the room.
    const auto units = static_cast<std::uint32_t>(std::min<std::size_t>((max + 3) / 4, UINT32_MAX));
    const auto net_cookie = AskProperty(w, atom.net_wm_name, atom.utf8_string, 0, units);
    const auto wm_cookie = AskProperty(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, units);
    Wait();
    const auto net = Get(xcb_get_property_reply, net_cookie);
    const auto wm = Get(xcb_get_property_reply, wm_cookie);
    if (net && net->type == atom.utf8_string && net->format == 8) {
        return x11_text::ValidUtf8(Bytes(net.get()), net->bytes_after > 0);
    }
    if (!wm || wm->format != 8) {
        return {};
    }
    const bool more = wm->bytes_after > 0;
    if (wm->type == XCB_ATOM_STRING) {
        return x11_text::Latin1ToUtf8(Bytes(wm.get()));
    }
    if (wm->type == atom.utf8_string) {
        return x11_text::ValidUtf8(Bytes(wm.get()), more);
    }
    if (wm->type != atom.compound_text) {
        return {};
    }
    std::string ctext(Bytes(wm.get()));
    std::string text = x11_text::CompoundTextToUtf8(ctext, more);
    // Escape sequences take room without giving text; up to four times the room is read for
    // them, which real titles never need, so that a title made of nothing else stays cheap.
    std::uint32_t offset = units;
    bool rest = more;
    while (rest && text.size() < max && ctext.size() < 4 * max + 16) {
        const auto cookie = AskProperty(w, XCB_ATOM_WM_NAME, atom.compound_text, offset, units);
        Wait();
        const auto r = Get(xcb_get_property_reply, cookie);
        if (!r || r->type != atom.compound_text || r->format != 8) {
            break;
        }
        ctext.append(Bytes(r.get()));
        offset += units;
        rest = r->bytes_after > 0;
        text = x11_text::CompoundTextToUtf8(ctext, rest);
    }
    return text;
}

BOOL X11WindowSystem::SetWindowTextA(HWND window, const char* text) {
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    State& s = *state_;
    std::string utf8 = x11_text::ValidUtf8(text != nullptr ? text : "");
    if (const auto own = s.own.find(w); own != s.own.end()) {
        if (own->second.set_text) {
            own->second.set_text(utf8);
        }
        return 1;
    }

    // One request carries a property; a text longer than the largest request is cut to fit.
    const std::size_t limit = s.max_request_bytes - kRequestOverhead;
    utf8.resize(x11_text::Utf8PrefixLength(utf8, limit));
    std::string wm_name;
    xcb_atom_t wm_type = XCB_ATOM_STRING;
    if (std::optional<std::string> latin1 = x11_text::Utf8ToLatin1(utf8)) {
        wm_name = std::move(*latin1);
    } else {
        wm_type = s.atom.compound_text;
        std::string_view shorter = utf8;
        wm_name = x11_text::Utf8ToCompoundText(shorter);
        while (wm_name.size() > limit) {  // escape sequences made it longer than the UTF-8
            shorter =
                shorter.substr(0, x11_text::Utf8PrefixLength(shorter, shorter.size() / 4 * 3));
            wm_name = x11_text::Utf8ToCompoundText(shorter);
        }
    }

    RawTitle title{{s.atom.utf8_string, 8, std::move(utf8)}, {wm_type, 8, std::move(wm_name)}};
    // A plain write ends keeping; the first one records the title to give back.
    return s.keeper.Write(window, std::move(title)) ? 1 : 0;
}

bool X11WindowSystem::KeepTitle(HWND window) {
    return state_->keeper.KeepTitle(window);
}

bool X11WindowSystem::GiveTitleBack(HWND window) {
    return state_->keeper.GiveTitleBack(window);
}

bool X11WindowSystem::IsTitleKept(HWND window) const {
    return state_->keeper.IsTitleKept(window);
}

// Both title properties as they are, each cut to kMaxTitleBytes (a cut UTF-8 title at a
// character's end); false when the window did not answer.
bool X11WindowSystem::State::ReadTitle(HWND window, RawTitle* title) {
    const auto w = static_cast<xcb_window_t>(window);
    constexpr auto kUnits = static_cast<std::uint32_t>(kMaxTitleBytes / 4);
    const auto net_cookie = AskProperty(w, atom.net_wm_name, XCB_GET_PROPERTY_TYPE_ANY, 0, kUnits);
    const auto wm_cookie = AskProperty(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, kUnits);
    Wait();
    const auto net = Get(xcb_get_property_reply, net_cookie);
    const auto wm = Get(xcb_get_property_reply, wm_cookie);
    const auto raw = [this](const xcb_get_property_reply_t* r) {
        RawProperty p;
        if (r == nullptr || r->type == XCB_ATOM_NONE) {
            return p;
        }
        p.type = r->type;
        p.format = r->format;
        p.bytes = Bytes(r);
        if (r->bytes_after > 0 && r->type == atom.utf8_string) {
            p.bytes = x11_text::ValidUtf8(p.bytes, true);
        }
        return p;
    };
    *title = {raw(net.get()), raw(wm.get())};
    return net && wm;
}

bool X11WindowSystem::State::WriteTitle(HWND window, const RawTitle& title) {
    const auto w = static_cast<xcb_window_t>(window);
    ErrorTrap trap(display);
    for (const auto& [property, value] :
         {std::pair{atom.net_wm_name, &title.net_wm_name}, {XCB_ATOM_WM_NAME, &title.wm_name}}) {
        if (value->type == XCB_ATOM_NONE) {
            XDeleteProperty(display, w, property);
        } else {
            XChangeProperty(display, w, property, value->type, value->format, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(value->bytes.data()),
                            static_cast<int>(value->bytes.size() / (value->format / 8)));
        }
    }
    Sync();
    return !trap.failed();
}

BOOL X11WindowSystem::UpdateWindow(HWND window) {
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    State& s = *state_;
    if (const auto own = s.own.find(w); own != s.own.end() && own->second.repaint) {
        own->second.repaint();
    }
    // The round trip of the existence check also makes sure that every change made so far has
    // reached the server and been handled.
    return s.Exists(w) ? 1 : 0;
}

bool X11WindowSystem::State::ReadPlacement(xcb_window_t w, Placement* p) {
    const auto geometry_cookie = xcb_get_geometry(c, w);
    const auto origin_cookie = xcb_translate_coordinates(c, w, root, 0, 0);
    const auto attributes_cookie = xcb_get_window_attributes(c, w);
    const auto wm_state_cookie = AskProperty(w, atom.wm_state, atom.wm_state, 0, 1);
    const auto extents_cookie = AskProperty(w, atom.net_frame_extents, XCB_ATOM_CARDINAL, 0, 4);
    const auto hints_cookie =
        AskProperty(w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 0, 18);
    const auto net_state_cookie = AskProperty(w, atom.net_wm_state, XCB_ATOM_ATOM, 0, 256);
    const auto supported_cookie = AskProperty(root, atom.net_supported, XCB_ATOM_ATOM, 0, 4096);
    Wait();
    const auto geometry = Get(xcb_get_geometry_reply, geometry_cookie);
    const auto origin = Get(xcb_translate_coordinates_reply, origin_cookie);
    const auto attributes = Get(xcb_get_window_attributes_reply, attributes_cookie);
    const auto wm_state = Get(xcb_get_property_reply, wm_state_cookie);
    const auto extents = Get(xcb_get_property_reply, extents_cookie);
    const auto hints = Get(xcb_get_property_reply, hints_cookie);
    const auto net_state = Get(xcb_get_property_reply, net_state_cookie);
    const auto supported = Get(xcb_get_property_reply, supported_cookie);
    if (!geometry || !origin || !attributes) {
        return false;
    }
    p->x = origin->dst_x;
    p->y = origin->dst_y;
    p->width = geometry->width;
    p->height = geometry->height;
    p->border = geometry->border_width;
    p->mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    const std::vector<std::uint32_t> state = Cardinals(wm_state.get());
    p->managed = !state.empty() && (state[0] == 1 || state[0] == 3);  // Normal or Iconic
    if (const std::vector<std::uint32_t> e = Cardinals(extents.get());
        p->managed && e.size() == 4) {
        for (std::size_t i = 0; i < 4; ++i) {
            p->frame[i] = static_cast<int>(std::min<std::uint32_t>(e[i], INT16_MAX));
        }
    }
    // WM_NORMAL_HINTS: flags first, win_gravity last of 18 fields, present with PWinGravity.
    if (const std::vector<std::uint32_t> h = Cardinals(hints.get());
        h.size() == 18 && (h[0] & (1u << 9)) != 0) {
        p->gravity = h[17];
    }
    p->net_wm_state = Cardinals(net_state.get());
    const std::vector<std::uint32_t> features = Cardinals(supported.get());
    p->wm_moves_windows =
        std::find(features.begin(), features.end(), atom.net_moveresize_window) != features.end();
    return true;
}

BOOL X11WindowSystem::GetWindowRect(HWND window, RECT* rect) {
    if (rect == nullptr) {
        return 0;
    }
    *rect = {};
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    Placement p;
    if (!state_->ReadPlacement(w, &p)) {
        return 0;
    }
    *rect = p.Outer();
    return 1;
}

void X11WindowSystem::State::SendToRoot(xcb_window_t w, xcb_atom_t type, std::array<long, 5> data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    std::copy(data.begin(), data.end(), event.xclient.data.l);
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

// A window the window manager knows is asked through it. Before that, the window's own
// _NET_WM_STATE is what the window manager reads when it takes the window on; the message goes
// too, in case it takes the window on in between (until then it ignores the message).
void X11WindowSystem::State::SetAbove(xcb_window_t w, const Placement& p, bool above) {
    if (!p.managed && !p.mapped) {
        std::vector<xcb_atom_t> states = p.net_wm_state;
        const auto found = std::find(states.begin(), states.end(), atom.net_wm_state_above);
        if (above && found == states.end()) {
            states.push_back(atom.net_wm_state_above);
        } else if (!above && found != states.end()) {
            states.erase(found);
        }
        std::vector<long> longs(states.begin(), states.end());  // Xlib takes format 32 as longs
        XChangeProperty(display, w, atom.net_wm_state, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(longs.data()),
                        static_cast<int>(longs.size()));
    }
    constexpr long kRemove = 0;
    constexpr long kAdd = 1;
    constexpr long kFromApplication = 1;
    SendToRoot(w, atom.net_wm_state,
               {above ? kAdd : kRemove, static_cast<long>(atom.net_wm_state_above), 0,
                kFromApplication, 0});
    if (above) {
        KeepAbove(w);
    } else if (w == topmost.window) {
        topmost.window = XCB_NONE;
    }
}

// Whether a running EWMH window manager lists _NET_WM_STATE_ABOVE among what it supports;
// `running` tells whether one runs at all (its check window exists and names itself).
bool X11WindowSystem::State::WindowManagerKeepsAbove(bool* running) {
    const auto check_cookie =
        AskProperty(root, atom.net_supporting_wm_check, XCB_ATOM_WINDOW, 0, 1);
    const auto supported_cookie = AskProperty(root, atom.net_supported, XCB_ATOM_ATOM, 0, 4096);
    Wait();
    const std::vector<std::uint32_t> check =
        Cardinals(Get(xcb_get_property_reply, check_cookie).get());
    const std::vector<std::uint32_t> supported =
        Cardinals(Get(xcb_get_property_reply, supported_cookie).get());
    *running = false;
    if (check.size() == 1) {
        const auto self_cookie =
            AskProperty(check[0], atom.net_supporting_wm_check, XCB_ATOM_WINDOW, 0, 1);
        Wait();
        const std::vector<std::uint32_t> self =
            Cardinals(Get(xcb_get_property_reply, self_cookie).get());
        *running = self.size() == 1 && self[0] == check[0];
    }
    return *running && std::find(supported.begin(), supported.end(), atom.net_wm_state_above) !=
                           supported.end();
}

// Keeps `w` above the other windows: through the window manager where it can, else by
// restacking it whenever another window comes over it. Asked again when a window manager
// starts or ends (it announces itself on the root window).
void X11WindowSystem::State::KeepAbove(xcb_window_t w) {
    ErrorTrap trap(display);
    const bool again = topmost.window == w;
    topmost.window = w;
    Select(root, XCB_EVENT_MASK_PROPERTY_CHANGE);
    bool running = false;
    const bool before = topmost.by_window_manager;
    topmost.by_window_manager = WindowManagerKeepsAbove(&running);
    if (topmost.by_window_manager) {
        return;
    }
    if (!running) {
        // The state is the window's own to publish while no manager owns it, and a manager
        // that starts later reads it when it takes the window on.
        const long state = static_cast<long>(atom.net_wm_state_above);
        XChangeProperty(display, w, atom.net_wm_state, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&state), 1);
    }
    if (!again || before) {
        Select(root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        ReadStack();
    }
    Sync();
}

// The root's children with their places and sizes, and which of them holds the window kept
// above. The events read after the tree keep it up to date.
void X11WindowSystem::State::ReadStack() {
    const auto tree_cookie = xcb_query_tree(c, root);
    topmost.stack_sequence = tree_cookie.sequence;
    Wait();
    const auto tree = Get(xcb_query_tree_reply, tree_cookie);
    std::vector<RootStack::Child> children;
    if (tree) {
        const xcb_window_t* windows = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>>
            cookies;
        for (int i = 0; i < count; ++i) {
            cookies.emplace_back(xcb_get_window_attributes(c, windows[i]),
                                 xcb_get_geometry(c, windows[i]));
        }
        Wait();
        for (int i = 0; i < count; ++i) {
            const auto attributes = Get(xcb_get_window_attributes_reply, cookies[i].first);
            const auto geometry = Get(xcb_get_geometry_reply, cookies[i].second);
            if (attributes && geometry) {
                const int border = 2 * geometry->border_width;
                children.push_back({windows[i], attributes->map_state != XCB_MAP_STATE_UNMAPPED,
                                    attributes->override_redirect != 0, geometry->x, geometry->y,
                                    geometry->width + border, geometry->height + border});
            }
        }
    }
    topmost.stack.Reset(std::move(children));

    topmost.top = XCB_NONE;
    xcb_window_t w = topmost.window;
    for (int depth = 0; depth < kMaxDepth && w != XCB_NONE; ++depth) {
        const auto cookie = xcb_query_tree(c, w);
        Wait();
        const auto r = Get(xcb_query_tree_reply, cookie);
        if (!r) {
            break;
        }
        if (r->parent == root) {
            topmost.top = w;
            break;
        }
        w = r->parent;
    }
    topmost.restack = true;
}

void X11WindowSystem::State::OnStackEvent(const XEvent& event) {
    if (topmost.window == XCB_NONE) {
        return;
    }
    if (event.type == PropertyNotify) {
        const XPropertyEvent& e = event.xproperty;
        if (e.window == root &&
            (e.atom == atom.net_supporting_wm_check || e.atom == atom.net_supported)) {
            KeepAbove(topmost.window);
        }
        return;
    }
    // Events from before the stack was read are already part of it.
    if (topmost.by_window_manager ||
        static_cast<std::int32_t>(static_cast<std::uint32_t>(event.xany.serial) -
                                  topmost.stack_sequence) < 0) {
        return;
    }
    RootStack& stack = topmost.stack;
    switch (event.type) {
        case CreateNotify: {
            const XCreateWindowEvent& e = event.xcreatewindow;
            if (e.parent == root) {
                stack.Created({static_cast<std::uint32_t>(e.window), false,
                               e.override_redirect != 0, e.x, e.y, e.width + 2 * e.border_width,
                               e.height + 2 * e.border_width});
            }
            return;
        }
        case DestroyNotify:
            if (event.xdestroywindow.event == root) {
                stack.Destroyed(static_cast<std::uint32_t>(event.xdestroywindow.window));
            }
            return;
        case MapNotify:
        case UnmapNotify: {
            const bool mapped = event.type == MapNotify;
            const Window parent = mapped ? event.xmap.event : event.xunmap.event;
            const Window w = mapped ? event.xmap.window : event.xunmap.window;
            if (parent == root) {
                const bool popup = mapped ? event.xmap.override_redirect != 0 : false;
                stack.Mapped(static_cast<std::uint32_t>(w), mapped, popup);
                topmost.restack = true;
            }
            return;
        }
        case ConfigureNotify: {
            const XConfigureEvent& e = event.xconfigure;
            if (e.event == root) {
                stack.Configured(
                    {static_cast<std::uint32_t>(e.window), true, e.override_redirect != 0, e.x, e.y,
                     e.width + 2 * e.border_width, e.height + 2 * e.border_width},
                    static_cast<std::uint32_t>(e.above));
                topmost.restack = true;
            }
            return;
        }
        case CirculateNotify:
            if (event.xcirculate.event == root) {
                stack.Circulated(static_cast<std::uint32_t>(event.xcirculate.window),
                                 event.xcirculate.place == PlaceOnTop);
                topmost.restack = true;
            }
            return;
        case ReparentNotify: {
            const XReparentEvent& e = event.xreparent;
            if (e.event != root) {
                return;
            }
            if (e.parent == root) {
                stack.Created({static_cast<std::uint32_t>(e.window), false,
                               e.override_redirect != 0, e.x, e.y, 0, 0});
            } else {
                stack.Destroyed(static_cast<std::uint32_t>(e.window));
            }
            // A window manager framing our window, or letting it go: the stack is read afresh.
            if (e.window == topmost.window) {
                ErrorTrap trap(display);
                ReadStack();
            }
            return;
        }
        default:
            return;
    }
}

// Raising the window itself, never its frame: without a window manager it is the window on the
// root; a reparenting one gets it as a request to restack the frame. Raising never moves the
// focus.
void X11WindowSystem::State::RaiseIfCovered() {
    if (!topmost.restack || topmost.window == XCB_NONE || topmost.by_window_manager) {
        return;
    }
    topmost.restack = false;
    if (!topmost.stack.Covered(topmost.top)) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - topmost.period_start >= kRaisePeriod) {
        topmost.period_start = now;
        topmost.raises = 0;
    }
    if (topmost.raises >= kMostRaises) {
        return;
    }
    ++topmost.raises;
    ErrorTrap trap(display);
    XRaiseWindow(display, topmost.window);
    Sync();
}

// Moves and sizes a window so that its outer rectangle, as GetWindowRect reports it, becomes
// x, y, cx, cy.
void X11WindowSystem::State::Configure(xcb_window_t w, const Placement& p, int x, int y, int cx,
                                       int cy, UINT flags) {
    const bool move = (flags & kSwpNoMove) == 0;
    const bool size = (flags & kSwpNoSize) == 0;
    if (!move && !size) {
        return;
    }
    const int left = p.frame[0];
    const int right = p.frame[1];
    const int top = p.frame[2];
    const int bottom = p.frame[3];
    const int width = std::clamp(cx - 2 * p.border - left - right, 1, int{UINT16_MAX});
    const int height = std::clamp(cy - 2 * p.border - top - bottom, 1, int{UINT16_MAX});

    if (p.managed && p.wm_moves_windows) {
        // With north-west gravity named in the request, the position is the frame's corner,
        // whatever gravity the window itself asks for.
        constexpr long kFromApplication = 1L << 12;
        const long fields =
            (move ? (1L << 8) | (1L << 9) : 0) | (size ? (1L << 10) | (1L << 11) : 0);
        SendToRoot(w, atom.net_moveresize_window,
                   {XCB_GRAVITY_NORTH_WEST | fields | kFromApplication, Clamp16(x), Clamp16(y),
                    width, height});
        return;
    }
    if (p.managed && move) {
        // Otherwise the window manager places the frame by the window's gravity, with ICCCM's
        // reference points: the frame's edge or centre on the gravity's side goes where the
        // window's own would; static gravity keeps the inside in place.
        const int dx = left + right;
        const int dy = top + bottom;
        switch (p.gravity) {
            case XCB_GRAVITY_NORTH:
            case XCB_GRAVITY_CENTER:
            case XCB_GRAVITY_SOUTH:
                x += dx / 2;
                break;
            case XCB_GRAVITY_NORTH_EAST:
            case XCB_GRAVITY_EAST:
            case XCB_GRAVITY_SOUTH_EAST:
                x += dx;
                break;
            case XCB_GRAVITY_STATIC:
                x += left;
                break;
            default:
                break;
        }
        switch (p.gravity) {
            case XCB_GRAVITY_WEST:
            case XCB_GRAVITY_CENTER:
            case XCB_GRAVITY_EAST:
                y += dy / 2;
                break;
            case XCB_GRAVITY_SOUTH_WEST:
            case XCB_GRAVITY_SOUTH:
            case XCB_GRAVITY_SOUTH_EAST:
                y += dy;
                break;
            case XCB_GRAVITY_STATIC:
                y += top;
                break;
            default:
                break;
        }
    }
    // A child window's position is relative to its parent, as on Windows.
    XWindowChanges changes{};
    changes.x = Clamp16(x);
    changes.y = Clamp16(y);
    changes.width = width;
    changes.height = height;
    XConfigureWindow(display, w, (move ? CWX | CWY : 0) | (size ? CWWidth | CWHeight : 0),
                     &changes);
}

BOOL X11WindowSystem::SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                                   UINT flags) {
    xcb_window_t w;
    if (!ToWindow(window, &w)) {
        return 0;
    }
    State& s = *state_;
    ErrorTrap trap(s.display);
    Placement p;
    if (!s.ReadPlacement(w, &p)) {
        return 0;
    }
    // The window manager handles these in order: once the new state shows, so does the move.
    s.Configure(w, p, x, y, cx, cy, flags);
    if ((flags & kSwpNoZOrder) == 0 &&
        (insert_after == HWND_TOPMOST || insert_after == kHwndNoTopmost)) {
        s.SetAbove(w, p, insert_after == HWND_TOPMOST);
    }
    if ((flags & SWP_SHOWWINDOW) != 0) {
        XMapWindow(s.display, w);
    }
    if ((flags & SWP_NOACTIVATE) == 0 && (p.managed || (flags & SWP_SHOWWINDOW) != 0)) {
        constexpr long kFromApplication = 1;
        s.SendToRoot(w, s.atom.net_active_window, {kFromApplication, CurrentTime, 0, 0, 0});
    }
    s.Sync();
    return trap.failed() ? 0 : 1;
}

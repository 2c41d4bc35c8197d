#include "winsys/x11_window_finder.h"

#include <X11/Xlib.h>

#include <string_view>
#include <utility>
#include <vector>

#include "winsys/x11_protocol.h"

namespace {

// How many windows a search asks about at most, and how many it watches (openbox's frame holds
// 57); how many frames' clients are remembered.
constexpr std::size_t kMaxWindowsSearched = 4096;
constexpr std::size_t kMaxWatched = 256;
constexpr std::size_t kMaxRemembered = 256;

// What is watched on a top-level window: its own end and WM_STATE, and its children's changes;
// on any other window read: its end, WM_STATE and title.
constexpr std::uint32_t kWindowEvents =
    XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
constexpr std::uint32_t kTopLevelEvents = kWindowEvents | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

}  // namespace

std::optional<POINT> WindowFinder::QueryPointer() {
    pointer_.reset();
    const auto cookie = xcb_query_pointer(x_.xcb(), x_.root());
    x_.Wait();
    const auto reply = x_.Get(xcb_query_pointer_reply, cookie);
    if (!reply) {
        return std::nullopt;
    }
    if (reply->same_screen) {
        pointer_ = Pointer{reply->root_x, reply->root_y, reply->child, x_.changes()};
    }
    return POINT{reply->root_x, reply->root_y};
}

xcb_window_t WindowFinder::WindowAt(std::int16_t x, std::int16_t y) {
    // Asked about the pointer's point before this connection changed anything, the pointer's
    // reply has the top-level window there already. The windows searched below it are watched
    // until the pointer leaves it.
    const bool at_pointer =
        pointer_ && pointer_->x == x && pointer_->y == y && pointer_->changes == x_.changes();
    if (at_pointer && pointer_->top != watched_top_) {
        UnwatchAll();
        watched_top_ = pointer_->top;
    }
    const xcb_window_t top = at_pointer ? pointer_->top : TopLevelAt(x, y);
    if (top == XCB_NONE) {
        return XCB_NONE;
    }
    const xcb_window_t client = top == watched_top_ ? watched_client_ : XCB_NONE;
    const xcb_window_t found = client != XCB_NONE ? client : ClientOf(top, top == watched_top_);
    // Behind the windows, as the root is: no window.
    return found == top && IsGuardWindow(top) ? XCB_NONE : found;
}

bool WindowFinder::IsGuardWindow(xcb_window_t top) {
    if (guard_checked_ != top) {
        const auto cookie = x_.AskProperty(top, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 8);
        x_.Wait();
        const auto name = x_.Get(xcb_get_property_reply, cookie);
        const std::string_view guard = x11_protocol::kMutterGuardWindowName;
        is_guard_ =
            name && name->format == 8 &&
            std::string_view(static_cast<const char*>(xcb_get_property_value(name.get())),
                             static_cast<std::size_t>(xcb_get_property_value_length(name.get()))) ==
                guard;
        guard_checked_ = top;
    }
    return is_guard_;
}

std::vector<xcb_window_t> WindowFinder::ClientsAt(std::int16_t x, std::int16_t y,
                                                  std::size_t most) {
    std::vector<xcb_window_t> clients;
    const auto tree_cookie = xcb_query_tree(x_.xcb(), x_.root());
    x_.Wait();
    const auto tree = x_.Get(xcb_query_tree_reply, tree_cookie);
    if (!tree) {
        return clients;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_geometry_cookie_t> geometry;
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    for (int i = 0; i < count; ++i) {
        geometry.push_back(xcb_get_geometry(x_.xcb(), children[i]));
        attributes.push_back(xcb_get_window_attributes(x_.xcb(), children[i]));
    }
    x_.Wait();
    std::vector<xcb_window_t> tops;  // bottom to top
    for (int i = 0; i < count; ++i) {
        const auto g = x_.Get(xcb_get_geometry_reply, geometry[static_cast<std::size_t>(i)]);
        const auto a =
            x_.Get(xcb_get_window_attributes_reply, attributes[static_cast<std::size_t>(i)]);
        if (g && a && a->map_state == XCB_MAP_STATE_VIEWABLE && x >= g->x && y >= g->y &&
            x < g->x + g->width + 2 * g->border_width &&
            y < g->y + g->height + 2 * g->border_width) {
            tops.push_back(children[i]);
        }
    }
    for (auto it = tops.rbegin(); it != tops.rend() && clients.size() < most; ++it) {
        if (const xcb_window_t client = ClientOf(*it, false); client != XCB_NONE) {
            clients.push_back(client);
        }
    }
    return clients;
}

// The uppermost mapped top-level window at a point, if the point is on the screen.
xcb_window_t WindowFinder::TopLevelAt(std::int16_t x, std::int16_t y) {
    const auto at_root = xcb_translate_coordinates(x_.xcb(), x_.root(), x_.root(), x, y);
    const auto root_geometry = xcb_get_geometry(x_.xcb(), x_.root());
    x_.Wait();
    const auto at = x_.Get(xcb_translate_coordinates_reply, at_root);
    const auto screen = x_.Get(xcb_get_geometry_reply, root_geometry);
    if (!at || !screen || x < 0 || y < 0 || x >= screen->width || y >= screen->height) {
        return XCB_NONE;
    }
    return at->child;
}

// The window with WM_STATE nearest below a top-level window, else the top-level window itself
// (an unmanaged one, such as a popup menu, has no client inside); XCB_NONE if it has gone.
// With `watch`, the windows read are watched, from before they are read, so that any later
// change to what was read comes as an event; the answer is kept until then.
xcb_window_t WindowFinder::ClientOf(xcb_window_t top_level, bool watch) {
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
            watched_client_ = client;
        } else {
            UnwatchAll();
        }
    }
    return client;
}

// The client the frame held when the pointer was there before, if it is still its child and
// still a client: one round trip, which also watches both again, instead of a search.
xcb_window_t WindowFinder::RememberedClient(xcb_window_t frame, WatchNeeds* needs) {
    const auto remembered = clients_seen_.find(frame);
    if (remembered == clients_seen_.end()) {
        return XCB_NONE;
    }
    const xcb_window_t client = remembered->second;
    clients_seen_.erase(remembered);
    *needs = {{frame, kTopLevelEvents}, {client, kWindowEvents}};
    for (const auto& [w, events] : *needs) {
        Watch(w, events);
    }
    const xcb_atom_t wm_state = x_.atom().wm_state;
    const auto frame_state = x_.AskProperty(frame, wm_state, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
    const auto client_state = x_.AskProperty(client, wm_state, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
    const auto client_tree = xcb_query_tree(x_.xcb(), client);
    x_.Wait();
    const auto frame_has = x_.Get(xcb_get_property_reply, frame_state);
    const auto client_has = x_.Get(xcb_get_property_reply, client_state);
    const auto tree = x_.Get(xcb_query_tree_reply, client_tree);
    const bool still = frame_has && frame_has->type == XCB_NONE && client_has &&
                       client_has->type != XCB_NONE && tree && tree->parent == frame;
    if (!still) {
        return XCB_NONE;
    }
    clients_seen_[frame] = client;
    return client;
}

// With `watch`, each window of a level is watched before it is read. More windows than
// kMaxWatched are not watched (`watch` is emptied).
void WindowFinder::WatchBeforeReading(const std::vector<xcb_window_t>& level, std::uint32_t events,
                                      std::optional<WatchNeeds>& watch) {
    if (watch && watch->size() + level.size() > kMaxWatched) {
        watch.reset();
    }
    for (const xcb_window_t w : level) {
        if (watch) {
            (*watch)[w] |= events;
            Watch(w, events);
        }
    }
}

// Searches one level at a time, the uppermost client of the nearest level winning: each level
// costs a round trip, and one more to look inside it. Windows beside the client found are let
// go again.
xcb_window_t WindowFinder::SearchClient(xcb_window_t top_level, std::optional<WatchNeeds>& watch) {
    std::vector<xcb_window_t> level{top_level};
    std::size_t searched = 0;
    for (int depth = 0; depth < x11_protocol::kMaxFrameDepth && !level.empty(); ++depth) {
        searched += level.size();
        if (searched > kMaxWindowsSearched) {
            break;
        }
        // The top-level window's children are asked for at once, as a frame seldom is a client.
        WatchBeforeReading(level, depth == 0 ? kTopLevelEvents : kWindowEvents, watch);
        std::vector<xcb_get_property_cookie_t> states;
        for (const xcb_window_t w : level) {
            states.push_back(
                x_.AskProperty(w, x_.atom().wm_state, XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
        }
        std::vector<xcb_query_tree_cookie_t> trees;
        if (depth == 0) {
            trees.push_back(xcb_query_tree(x_.xcb(), top_level));
        }
        x_.Wait();
        xcb_window_t found = XCB_NONE;
        bool gone = false;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const auto r = x_.Get(xcb_get_property_reply, states[i]);
            gone = depth == 0 && !r;
            if (r && r->type != XCB_NONE) {
                found = level[i];  // children come lowest first, so the last one is uppermost
            }
        }
        if (found == XCB_NONE && !gone && trees.empty()) {
            WatchBeforeReading(level, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, watch);
            for (const xcb_window_t w : level) {
                trees.push_back(xcb_query_tree(x_.xcb(), w));
            }
            x_.Wait();
        }
        std::vector<xcb_window_t> next;
        for (xcb_query_tree_cookie_t& cookie : trees) {
            if (const auto r = x_.Get(xcb_query_tree_reply, cookie)) {
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
                if (clients_seen_.size() >= kMaxRemembered) {
                    clients_seen_.clear();
                }
                clients_seen_[top_level] = found;
            }
            return found;
        }
        level = std::move(next);
    }
    return top_level;
}

void WindowFinder::Watch(xcb_window_t w, std::uint32_t events) {
    Watched& entry = watched_[w];
    entry.events |= events;
    masks_.Want(EventMasks::Part::Finder, w, entry.events);
}

// Watches exactly the windows in `needs`, with the events given there.
void WindowFinder::KeepWatching(const WatchNeeds& needs) {
    for (auto it = watched_.begin(); it != watched_.end();) {
        const auto needed = needs.find(it->first);
        it->second.events = needed != needs.end() ? needed->second : 0;
        masks_.Want(EventMasks::Part::Finder, it->first, it->second.events);
        it = it->second.events == 0 ? watched_.erase(it) : std::next(it);
    }
}

void WindowFinder::UnwatchAll() {
    KeepWatching({});
    watched_client_ = XCB_NONE;
}

xcb_window_t WindowFinder::DeepestOwnWindow(
    xcb_window_t client, std::int16_t x, std::int16_t y,
    const std::unordered_map<xcb_window_t, OwnWindow>& own) {
    if (own.count(client) == 0) {
        return client;
    }
    // The child at the point inside each of our windows, all asked at once.
    std::vector<std::pair<xcb_window_t, xcb_translate_coordinates_cookie_t>> asked;
    for (const auto& entry : own) {
        asked.emplace_back(entry.first,
                           xcb_translate_coordinates(x_.xcb(), x_.root(), entry.first, x, y));
    }
    x_.Wait();
    std::unordered_map<xcb_window_t, xcb_window_t> child_at;
    for (const auto& [w, cookie] : asked) {
        if (const auto r = x_.Get(xcb_translate_coordinates_reply, cookie)) {
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

const std::string* WindowFinder::KeptTitle(xcb_window_t w) const {
    const auto it = watched_.find(w);
    return it != watched_.end() && it->second.title ? &*it->second.title : nullptr;
}

void WindowFinder::KeepTitle(xcb_window_t w, std::string title) {
    if (const auto it = watched_.find(w); it != watched_.end()) {
        it->second.title = std::move(title);
    }
}

// What the search for the client read is WM_STATE and, of the windows it looked inside, their
// children in stacking order: a change to any of it makes WindowAt search again.
void WindowFinder::OnEvent(const XEvent& event) {
    // The window the event was selected on, and the one it tells of: a child of it, when it
    // comes through the parent's SubstructureNotify.
    const xcb_window_t on = event.xany.window;
    xcb_window_t about = on;
    switch (event.type) {
        case PropertyNotify:
            if (const auto it = watched_.find(on); it != watched_.end()) {
                if (event.xproperty.atom == x_.atom().wm_state) {
                    watched_client_ = XCB_NONE;
                } else if (event.xproperty.atom == x_.atom().net_wm_name ||
                           event.xproperty.atom == XCB_ATOM_WM_NAME) {
                    it->second.title.reset();
                }
            }
            return;
        case DestroyNotify:
            if (watched_.erase(event.xdestroywindow.window) != 0) {
                watched_client_ = XCB_NONE;
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
    if (about != on && watched_.count(on) != 0) {
        watched_client_ = XCB_NONE;
    }
}

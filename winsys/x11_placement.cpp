#include "winsys/x11_placement.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <climits>

#include "winsys/x11_protocol.h"

namespace {

std::int16_t Clamp16(long v) {
    return static_cast<std::int16_t>(std::clamp<long>(v, INT16_MIN, INT16_MAX));
}

}  // namespace

POINT FrameOrigin(std::uint32_t gravity, const FrameExtents& frame, int x, int y) {
    const int dx = frame.left + frame.right;
    const int dy = frame.top + frame.bottom;
    switch (gravity) {
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
            x += frame.left;
            break;
        default:
            break;
    }
    switch (gravity) {
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
            y += frame.top;
            break;
        default:
            break;
    }
    return {x, y};
}

RECT Placement::Outer() const {
    return {x - border - frame.left, y - border - frame.top, x + width + border + frame.right,
            y + height + border + frame.bottom};
}

bool Placer::Read(xcb_window_t w, const WindowManager& wm, Placement* p) {
    xcb_connection_t* c = x_.xcb();
    const Atoms& atom = x_.atom();
    const auto geometry_cookie = xcb_get_geometry(c, w);
    const auto origin_cookie = xcb_translate_coordinates(c, w, x_.root(), 0, 0);
    const auto attributes_cookie = xcb_get_window_attributes(c, w);
    const auto tree_cookie = xcb_query_tree(c, w);
    const auto wm_state_cookie = x_.AskProperty(w, atom.wm_state, atom.wm_state, 0, 1);
    const auto extents_cookie = x_.AskProperty(w, atom.net_frame_extents, XCB_ATOM_CARDINAL, 0, 4);
    const auto hints_cookie = x_.AskProperty(w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 0,
                                             x11_protocol::kSizeHintsFields);
    const auto net_state_cookie = x_.AskProperty(w, atom.net_wm_state, XCB_ATOM_ATOM, 0, 256);
    x_.Wait();
    const auto geometry = x_.Get(xcb_get_geometry_reply, geometry_cookie);
    const auto origin = x_.Get(xcb_translate_coordinates_reply, origin_cookie);
    const auto attributes = x_.Get(xcb_get_window_attributes_reply, attributes_cookie);
    const auto tree = x_.Get(xcb_query_tree_reply, tree_cookie);
    const auto wm_state = x_.Get(xcb_get_property_reply, wm_state_cookie);
    const auto extents = x_.Get(xcb_get_property_reply, extents_cookie);
    const auto hints = x_.Get(xcb_get_property_reply, hints_cookie);
    const auto net_state = x_.Get(xcb_get_property_reply, net_state_cookie);
    if (!geometry || !origin || !attributes || !tree) {
        return false;
    }
    p->x = origin->dst_x;
    p->y = origin->dst_y;
    p->width = geometry->width;
    p->height = geometry->height;
    p->border = geometry->border_width;
    p->mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    const std::vector<std::uint32_t> state = Cardinals(wm_state.get());
    p->managed = !state.empty() && (state[0] == x11_protocol::kWmStateNormal ||
                                    state[0] == x11_protocol::kWmStateIconic);
    if (const std::vector<std::uint32_t> e = Cardinals(extents.get());
        p->managed && e.size() == 4) {
        const auto edge = [](std::uint32_t v) { return static_cast<int>(std::min(v, 32767u)); };
        p->frame = {edge(e[0]), edge(e[1]), edge(e[2]), edge(e[3])};
    } else if (p->managed && !wm.running && tree->parent != x_.root()) {
        // An EWMH window manager that publishes no extents (i3) places a window by its client,
        // as if it had no frame; one that knows no EWMH (twm) is read from its frame.
        MeasureFrame(tree->parent, p);
    }
    if (const std::vector<std::uint32_t> h = Cardinals(hints.get());
        h.size() == x11_protocol::kSizeHintsFields &&
        (h[0] & x11_protocol::kSizeHintsWinGravity) != 0) {
        p->gravity = h[x11_protocol::kSizeHintsWinGravityField];
    }
    p->net_wm_state = Cardinals(net_state.get());
    p->wm_moves_windows = wm.Supports(atom.net_moveresize_window);
    return true;
}

// A window manager of the time before EWMH has put the window into a frame of its own, the
// root's child that holds it: the extents are measured from that window.
void Placer::MeasureFrame(xcb_window_t parent, Placement* p) {
    for (int depth = 0; depth < x11_protocol::kMaxFrameDepth; ++depth) {
        const auto tree_cookie = xcb_query_tree(x_.xcb(), parent);
        const auto geometry_cookie = xcb_get_geometry(x_.xcb(), parent);
        const auto origin_cookie = xcb_translate_coordinates(x_.xcb(), parent, x_.root(), 0, 0);
        x_.Wait();
        const auto tree = x_.Get(xcb_query_tree_reply, tree_cookie);
        const auto geometry = x_.Get(xcb_get_geometry_reply, geometry_cookie);
        const auto origin = x_.Get(xcb_translate_coordinates_reply, origin_cookie);
        if (!tree || !geometry || !origin) {
            return;
        }
        if (tree->parent == x_.root()) {
            const int b = geometry->border_width;
            const RECT client = p->Outer();
            p->frame = {.left = client.left - (origin->dst_x - b),
                        .right = origin->dst_x + geometry->width + b - client.right,
                        .top = client.top - (origin->dst_y - b),
                        .bottom = origin->dst_y + geometry->height + b - client.bottom};
            p->frame_border = b;
            return;
        }
        parent = tree->parent;
    }
}

void Placer::Configure(xcb_window_t w, const Placement& p, int x, int y, int cx, int cy, UINT flags,
                       X11Connection::Trap& trap) {
    const bool move = (flags & SWP_NOMOVE) == 0;
    const bool size = (flags & SWP_NOSIZE) == 0;
    if (!move && !size) {
        return;
    }
    const FrameExtents& f = p.frame;
    const int width = std::clamp(cx - 2 * p.border - f.left - f.right, 1, int{UINT16_MAX});
    const int height = std::clamp(cy - 2 * p.border - f.top - f.bottom, 1, int{UINT16_MAX});

    if (p.managed && p.wm_moves_windows) {
        // With north-west gravity named in the request, the position is the frame's corner,
        // whatever gravity the window itself asks for.
        using namespace x11_protocol;
        const long fields = (move ? kMoveResizeX | kMoveResizeY : 0) |
                            (size ? kMoveResizeWidth | kMoveResizeHeight : 0);
        trap.Check(x_.SendToRoot(w, x_.atom().net_moveresize_window,
                                 {XCB_GRAVITY_NORTH_WEST | fields | kMoveResizeSource, Clamp16(x),
                                  Clamp16(y), width, height}));
        return;
    }
    if (p.managed && move) {
        // A frame's own X border is kept as the client's border would be: the window manager
        // places the frame by the inside of it.
        const int b = p.frame_border;
        const POINT origin = FrameOrigin(
            p.gravity, {f.left - b, f.right - b, f.top - b, f.bottom - b}, x + b, y + b);
        x = origin.x;
        y = origin.y;
    }
    // The values go in the order of their bits: x, y, width, height.
    std::uint32_t values[4];
    std::uint16_t mask = 0;
    int n = 0;
    if (move) {
        mask |= XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
        values[n++] = static_cast<std::uint32_t>(Clamp16(x));
        values[n++] = static_cast<std::uint32_t>(Clamp16(y));
    }
    if (size) {
        mask |= XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
        values[n++] = static_cast<std::uint32_t>(width);
        values[n++] = static_cast<std::uint32_t>(height);
    }
    trap.Check(xcb_configure_window_checked(x_.xcb(), w, mask, values));
}

void Placer::Show(xcb_window_t w, X11Connection::Trap& trap) {
    trap.Check(xcb_map_window_checked(x_.xcb(), w));
}

void Placer::Activate(xcb_window_t w, X11Connection::Trap& trap) {
    trap.Check(x_.SendToRoot(w, x_.atom().net_active_window,
                             {x11_protocol::kSourceApplication, XCB_CURRENT_TIME, 0, 0, 0}));
}

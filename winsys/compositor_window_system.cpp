#include "winsys/compositor_window_system.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "winsys/x11_text.h"
#include "winsys/x11_window_system.h"

CompositorWindowSystem::CompositorWindowSystem(X11WindowSystem& x11,
                                               std::unique_ptr<CompositorReader> reader)
    : x11_(x11), reader_(std::move(reader)) {}

CompositorWindowSystem::~CompositorWindowSystem() = default;

HWND CompositorWindowSystem::NativeHandle(const std::string& id) {
    const auto [it, added] = handles_.try_emplace(id, next_handle_);
    if (added) {
        ids_.emplace(next_handle_++, id);
    }
    return it->second;
}

const std::string* CompositorWindowSystem::NativeId(HWND window) const {
    const auto it = ids_.find(window);
    return it == ids_.end() ? nullptr : &it->second;
}

int CompositorWindowSystem::EventDescriptor() const {
    return x11_.EventDescriptor();
}

bool CompositorWindowSystem::Reading() const {
    return reader_->notice().empty();
}

void CompositorWindowSystem::Pump() {
    x11_.Pump();
    if (reader_->notice() != told_) {
        told_ = reader_->notice();
        if (!told_.empty()) {
            TellUser(told_);
        }
    }
    for (auto it = ids_.begin(); it != ids_.end();) {
        if (Reading() && reader_->IsWindow(it->second)) {
            ++it;
        } else {
            handles_.erase(it->second);
            it = ids_.erase(it);
        }
    }
    std::erase_if(matches_, [this](const auto& m) { return !reader_->IsWindow(m.first); });
}

POINT CompositorWindowSystem::ToX11(POINT logical) {
    const std::optional<POINT> screen = reader_->state().screen();
    if (!screen || screen->x <= 0 || screen->y <= 0) {
        return logical;
    }
    if (screen->x != root_for_.x || screen->y != root_for_.y) {
        int width = 0;
        int height = 0;
        if (!x11_.RootSize(&width, &height)) {
            return logical;
        }
        root_for_ = *screen;
        root_ = {width, height};
    }
    return {static_cast<LONG>(std::lround(static_cast<double>(logical.x) * root_.x / screen->x)),
            static_cast<LONG>(std::lround(static_cast<double>(logical.y) * root_.y / screen->y))};
}

HWND CompositorWindowSystem::MatchX11(const CompositorWindow& w, HWND found) {
    if (found == 0) {
        return 0;
    }
    // This program's own windows: Form1 is KWin's window, a control the deepest at the point.
    if (x11_.IsOwnWindow(found)) {
        return w.pid == getpid() ? found : 0;
    }
    const auto cached = matches_.find(w.id);
    if (cached != matches_.end() && cached->second.found == found &&
        std::memcmp(&cached->second.frame, &w.frame, sizeof(RECT)) == 0) {
        return cached->second.x11;
    }
    // KWin's logical frame in Xwayland's pixels; scaling rounds each edge, by a pixel either
    // way or what one logical pixel makes.
    const POINT top_left = ToX11({w.frame.left, w.frame.top});
    const POINT bottom_right = ToX11({w.frame.right, w.frame.bottom});
    const LONG slack = std::max<LONG>(1, ToX11({1, 1}).x);
    const auto near = [slack](LONG a, LONG b) { return std::abs(a - b) <= slack; };
    const auto same = [&](HWND client) {
        RECT outer{};
        if (!x11_.GetWindowRect(client, &outer) || !near(outer.left, top_left.x) ||
            !near(outer.top, top_left.y) || !near(outer.right, bottom_right.x) ||
            !near(outer.bottom, bottom_right.y)) {
            return false;
        }
        const unsigned long pid = w.pid != 0 ? x11_.DeclaredProcess(client) : 0;
        return pid == 0 || pid == static_cast<unsigned long>(w.pid);
    };
    HWND x11 = same(found) ? found : 0;
    // KWin 6 hides the windows over the desktop it shows without unmapping them: the window it
    // names may lie beneath the uppermost X11 one at the point.
    if (x11 == 0) {
        const POINT at =
            ToX11({(w.frame.left + w.frame.right) / 2, (w.frame.top + w.frame.bottom) / 2});
        for (const HWND client : x11_.ClientsAt(at.x, at.y)) {
            if (client != found && !x11_.IsOwnWindow(client) && same(client)) {
                x11 = client;
                break;
            }
        }
    }
    matches_[w.id] = {w.frame, found, x11};
    return x11;
}

void CompositorWindowSystem::BindGlobalKeys(std::vector<GlobalKey> keys) {
    x11_.BindGlobalKeys(std::move(keys));
}

void CompositorWindowSystem::DeclareOwnWindow(HWND window, OwnWindow own) {
    x11_.DeclareOwnWindow(window, std::move(own));
}

void CompositorWindowSystem::WhenPlaced(HWND window, std::function<void()> placed) {
    x11_.WhenPlaced(window, std::move(placed));
}

bool CompositorWindowSystem::ReadTitle(HWND window, RawTitle* title) {
    return x11_.ReadTitle(window, title);
}

bool CompositorWindowSystem::WriteTitle(HWND window, const RawTitle& title) {
    return x11_.WriteTitle(window, title);
}

bool CompositorWindowSystem::TitleOfText(const char* text, RawTitle* title) {
    return x11_.TitleOfText(text, title);
}

std::size_t CompositorWindowSystem::TitleBytes(const RawTitle& title) const {
    return x11_.TitleBytes(title);
}

int CompositorWindowSystem::NoticesPerWrite() const {
    return x11_.NoticesPerWrite();
}

bool CompositorWindowSystem::IsOwnWindow(HWND window) {
    return x11_.IsOwnWindow(window);
}

void CompositorWindowSystem::Listen(HWND window, Listening listening) {
    x11_.Listen(window, listening);
}

void CompositorWindowSystem::NotifyTo(TitleNotices* notices) {
    x11_.NotifyTo(notices);
}

bool CompositorWindowSystem::CanWriteTitle(HWND window) {
    return !IsNativeHandle(window) || NativeId(window) == nullptr;
}

BOOL CompositorWindowSystem::GetCursorPos(POINT* point) {
    if (point == nullptr) {
        return 0;
    }
    // The X server is still asked: its reply brings the X11 side's state up to date.
    const BOOL x11 = x11_.GetCursorPos(point);
    const CompositorState& state = reader_->state();
    if (!Reading() || !state.has_pointer()) {
        return x11;
    }
    *point = state.pointer();
    return 1;
}

HWND CompositorWindowSystem::WindowFromPoint(LONG x, LONG y) {
    const CompositorState& state = reader_->state();
    // The reader tells only what lies under the pointer; until it has, or while it cannot, X11
    // answers alone.
    if (!Reading() || !state.has_pointer()) {
        return x11_.WindowFromPoint(x, y);
    }
    if (state.pointer().x != x || state.pointer().y != y) {
        return 0;
    }
    const CompositorWindow* under = state.under();
    if (under == nullptr) {
        return 0;
    }
    const POINT at = ToX11({x, y});
    const HWND found = x11_.WindowFromPoint(at.x, at.y);
    const HWND xid = under->xid != 0 ? static_cast<HWND>(under->xid) : MatchX11(*under, found);
    if (xid == 0) {
        return NativeHandle(under->id);
    }
    // Over an X11 window, X11 finds the same one, or the deepest of our own windows in ours.
    if (found == xid || (found != 0 && x11_.IsOwnWindow(found) && x11_.IsOwnWindow(xid))) {
        return found;
    }
    return xid;
}

BOOL CompositorWindowSystem::IsWindow(HWND window) {
    if (!IsNativeHandle(window)) {
        return x11_.IsWindow(window);
    }
    const std::string* id = NativeId(window);
    return id != nullptr && reader_->IsWindow(*id) ? 1 : 0;
}

int CompositorWindowSystem::GetWindowTextA(HWND window, char* buffer, int capacity) {
    if (!IsNativeHandle(window)) {
        return x11_.GetWindowTextA(window, buffer, capacity);
    }
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    buffer[0] = '\0';
    const std::string* id = NativeId(window);
    const CompositorWindow* w = id != nullptr ? reader_->state().Find(*id) : nullptr;
    if (w == nullptr) {
        return 0;
    }
    // The caption came through JSON as valid UTF-8; cut at a character boundary.
    const std::size_t n =
        x11_text::Utf8PrefixLength(w->caption, static_cast<std::size_t>(capacity) - 1);
    std::memcpy(buffer, w->caption.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

BOOL CompositorWindowSystem::SetWindowTextA(HWND window, const char* text) {
    if (IsNativeHandle(window)) {
        return 0;
    }
    return x11_.SetWindowTextA(window, text);
}

BOOL CompositorWindowSystem::UpdateWindow(HWND window) {
    if (IsNativeHandle(window)) {
        return IsWindow(window);
    }
    return x11_.UpdateWindow(window);
}

BOOL CompositorWindowSystem::GetWindowRect(HWND window, RECT* rect) {
    if (!IsNativeHandle(window)) {
        return x11_.GetWindowRect(window, rect);
    }
    if (rect == nullptr) {
        return 0;
    }
    *rect = {};
    const std::string* id = NativeId(window);
    const CompositorWindow* w = id != nullptr ? reader_->state().Find(*id) : nullptr;
    if (w == nullptr) {
        return 0;
    }
    *rect = w->frame;
    return 1;
}

BOOL CompositorWindowSystem::SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx,
                                          int cy, UINT flags) {
    // A native window is placed by its compositor alone.
    if (IsNativeHandle(window)) {
        return 0;
    }
    return x11_.SetWindowPos(window, insert_after, x, y, cx, cy, flags);
}

#include "tests/fake_desktop.h"

#include <algorithm>
#include <cstring>

namespace {

bool Contains(const RECT& r, LONG x, LONG y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace

HWND FakeDesktop::Create(RECT rect, std::string text, HWND parent, bool visible) {
    const HWND window = next_handle_;
    next_handle_ += 4;
    windows_[window] = Window{parent, rect, std::move(text), visible, false};
    order_.push_back(window);
    return window;
}

void FakeDesktop::Destroy(HWND window) {
    if (!Exists(window)) {
        return;
    }
    std::vector<HWND> children;
    for (const auto& [handle, w] : windows_) {
        if (w.parent == window) {
            children.push_back(handle);
        }
    }
    for (HWND child : children) {
        Destroy(child);
    }
    windows_.erase(window);
    order_.erase(std::remove(order_.begin(), order_.end(), window), order_.end());
    if (active_ == window) {
        active_ = 0;
    }
}

void FakeDesktop::Restack(HWND window) {
    order_.erase(std::remove(order_.begin(), order_.end(), window), order_.end());
    order_.push_back(window);
}

void FakeDesktop::Activate(HWND window) {
    if (!Exists(window)) {
        return;
    }
    Restack(window);
    if (Get(window).parent == 0) {
        active_ = window;
    }
}

std::vector<HWND> FakeDesktop::Stacking() const {
    std::vector<HWND> result;
    for (bool topmost : {true, false}) {
        for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
            const Window& w = windows_.at(*it);
            if (w.parent == 0 && w.topmost == topmost) {
                result.push_back(*it);
            }
        }
    }
    return result;
}

HWND FakeDesktop::DeepestAt(HWND window, LONG x, LONG y) const {
    for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
        const Window& w = windows_.at(*it);
        if (w.parent == window && w.visible && Contains(w.rect, x, y)) {
            return DeepestAt(*it, x, y);
        }
    }
    return window;
}

void FakeDesktop::Record(Call call) {
    if (before_call) {
        before_call(call);
    }
    calls.push_back(std::move(call));
}

BOOL FakeDesktop::GetCursorPos(POINT* point) {
    Record({"GetCursorPos", {}, {}});
    *point = pointer_;
    return 1;
}

HWND FakeDesktop::WindowFromPoint(LONG x, LONG y) {
    Record({"WindowFromPoint", {x, y}, {}});
    for (HWND top : Stacking()) {
        const Window& w = windows_.at(top);
        if (w.visible && Contains(w.rect, x, y)) {
            return DeepestAt(top, x, y);
        }
    }
    return 0;
}

BOOL FakeDesktop::IsWindow(HWND window) {
    Record({"IsWindow", {Arg(window)}, {}});
    return Exists(window) ? 1 : 0;
}

int FakeDesktop::GetWindowTextA(HWND window, char* buffer, int capacity) {
    Record({"GetWindowTextA", {Arg(window), capacity}, {}});
    if (capacity <= 0) {
        return 0;
    }
    if (!Exists(window)) {
        buffer[0] = '\0';
        return 0;
    }
    const std::string& text = Get(window).text;
    const size_t count = std::min(text.size(), static_cast<size_t>(capacity) - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

BOOL FakeDesktop::SetWindowTextA(HWND window, const char* text) {
    Record({"SetWindowTextA", {Arg(window)}, text});
    if (!Exists(window)) {
        return 0;
    }
    windows_[window].text = text;
    return 1;
}

BOOL FakeDesktop::UpdateWindow(HWND window) {
    Record({"UpdateWindow", {Arg(window)}, {}});
    return Exists(window) ? 1 : 0;
}

BOOL FakeDesktop::GetWindowRect(HWND window, RECT* rect) {
    Record({"GetWindowRect", {Arg(window)}, {}});
    if (!Exists(window)) {
        return 0;
    }
    *rect = Get(window).rect;
    return 1;
}

BOOL FakeDesktop::SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                               UINT flags) {
    Record({"SetWindowPos", {Arg(window), Arg(insert_after), x, y, cx, cy, flags}, {}});
    if (!Exists(window)) {
        return 0;
    }
    Window& w = windows_[window];
    w.rect = {x, y, x + cx, y + cy};
    if (insert_after == HWND_TOPMOST) {
        w.topmost = true;
        Restack(window);
    }
    if (flags & SWP_SHOWWINDOW) {
        w.visible = true;
    }
    if (!(flags & SWP_NOACTIVATE) && w.parent == 0) {
        active_ = window;
    }
    return 1;
}

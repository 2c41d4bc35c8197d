#include "winsys/x11_stacking.h"

#include <algorithm>
#include <utility>

void RootStack::Reset(std::vector<Child> bottom_to_top) {
    children_ = std::move(bottom_to_top);
}

std::vector<RootStack::Child>::iterator RootStack::Find(std::uint32_t window) {
    return std::find_if(children_.begin(), children_.end(),
                        [window](const Child& c) { return c.window == window; });
}

std::vector<RootStack::Child>::const_iterator RootStack::Find(std::uint32_t window) const {
    return std::find_if(children_.begin(), children_.end(),
                        [window](const Child& c) { return c.window == window; });
}

bool RootStack::Contains(std::uint32_t window) const {
    return Find(window) != children_.end();
}

void RootStack::Created(const Child& child) {
    if (!Contains(child.window)) {
        children_.push_back(child);
    }
}

void RootStack::Destroyed(std::uint32_t window) {
    if (const auto it = Find(window); it != children_.end()) {
        children_.erase(it);
    }
}

void RootStack::Mapped(std::uint32_t window, bool mapped, bool override_redirect) {
    if (const auto it = Find(window); it != children_.end()) {
        it->mapped = mapped;
        it->override_redirect = override_redirect;
    }
}

void RootStack::Configured(const Child& child, std::uint32_t sibling) {
    auto it = Find(child.window);
    if (it == children_.end()) {
        return;
    }
    Child moved = *it;
    moved.x = child.x;
    moved.y = child.y;
    moved.width = child.width;
    moved.height = child.height;
    moved.override_redirect = child.override_redirect;
    children_.erase(it);
    if (sibling == 0) {
        children_.insert(children_.begin(), moved);
    } else {
        // Above a sibling these events never showed: on top, the place that can cover.
        const auto below = Find(sibling);
        children_.insert(below == children_.end() ? children_.end() : below + 1, moved);
    }
}

void RootStack::Circulated(std::uint32_t window, bool to_top) {
    auto it = Find(window);
    if (it == children_.end()) {
        return;
    }
    const Child moved = *it;
    children_.erase(it);
    children_.insert(to_top ? children_.end() : children_.begin(), moved);
}

bool RootStack::Covered(std::uint32_t window) const {
    const auto it = Find(window);
    if (it == children_.end() || !it->mapped) {
        return false;
    }
    // An empty rectangle (a window whose size no event has told yet) overlaps nothing.
    const auto empty = [](const Child& c) { return c.width <= 0 || c.height <= 0; };
    return !empty(*it) && std::any_of(it + 1, children_.end(), [&](const Child& c) {
        return c.mapped && !c.override_redirect && !empty(c) && c.x < it->x + it->width &&
               it->x < c.x + c.width && c.y < it->y + it->height && it->y < c.y + c.height;
    });
}

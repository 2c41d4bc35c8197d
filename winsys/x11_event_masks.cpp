#include "winsys/x11_event_masks.h"

std::uint32_t EventMasks::Union(const PerPart& parts) {
    std::uint32_t events = 0;
    for (const std::uint32_t wanted : parts) {
        events |= wanted;
    }
    return events;
}

void EventMasks::Want(Part part, xcb_window_t w, std::uint32_t events) {
    auto it = wanted_.find(w);
    if (it == wanted_.end()) {
        if (events == 0) {
            return;
        }
        it = wanted_.emplace(w, PerPart{}).first;
    }
    PerPart& parts = it->second;
    const std::uint32_t before = Union(parts);
    parts[static_cast<std::size_t>(part)] = events;
    std::uint32_t after = Union(parts);
    if (after == 0) {
        wanted_.erase(it);
    }
    if (after != before) {
        xcb_discard_reply(
            x_.xcb(),
            xcb_change_window_attributes_checked(x_.xcb(), w, XCB_CW_EVENT_MASK, &after).sequence);
    }
}

void EventMasks::Add(Part part, xcb_window_t w, std::uint32_t events) {
    Want(part, w, Wanted(part, w) | events);
}

std::uint32_t EventMasks::Wanted(Part part, xcb_window_t w) const {
    const auto it = wanted_.find(w);
    return it != wanted_.end() ? it->second[static_cast<std::size_t>(part)] : 0;
}

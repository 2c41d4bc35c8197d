// The stacking order of the root window's children, kept from the events that report each
// change (SubstructureNotify on the root), so that whether a window is covered is known without
// asking the server.
#pragma once

#include <cstdint>
#include <vector>

class RootStack {
  public:
    struct Child {
        std::uint32_t window = 0;
        bool mapped = false;
        bool override_redirect = false;  // a popup menu or a tooltip
        int x = 0;                       // the outer rectangle, border included
        int y = 0;
        int width = 0;
        int height = 0;
    };

    // The children as the server lists them, bottom to top.
    void Reset(std::vector<Child> bottom_to_top);
    bool Contains(std::uint32_t window) const;

    // A new child goes on top, unmapped; one reparented away from the root leaves like a
    // destroyed one.
    void Created(const Child& child);
    void Destroyed(std::uint32_t window);
    void Mapped(std::uint32_t window, bool mapped, bool override_redirect);
    // Moved, resized or restacked: it now lies directly above `sibling`, or lowest when
    // `sibling` is 0.
    void Configured(const Child& child, std::uint32_t sibling);
    void Circulated(std::uint32_t window, bool to_top);

    // Whether a mapped window above `window` overlaps it. Popups (override-redirect windows)
    // come and go over everything and do not count, nor does a window of no size.
    bool Covered(std::uint32_t window) const;

  private:
    std::vector<Child>::iterator Find(std::uint32_t window);
    std::vector<Child>::const_iterator Find(std::uint32_t window) const;

    std::vector<Child> children_;  // bottom to top
};

// The values of the window-manager conventions the X11 backend speaks: the ICCCM's WM_STATE and
// WM_NORMAL_HINTS, and the EWMH client messages.
#pragma once

#include <cstdint>

namespace x11_protocol {

// How far below a child of the root a client window may lie: no window manager nests its
// frames deeper than a few levels.
inline constexpr int kMaxFrameDepth = 8;

// WM_STATE's first field.
inline constexpr std::uint32_t kWmStateNormal = 1;
inline constexpr std::uint32_t kWmStateIconic = 3;

// WM_NORMAL_HINTS (type WM_SIZE_HINTS): 18 fields, the flags first, the window's gravity last,
// present when the flags hold PWinGravity.
inline constexpr std::uint32_t kSizeHintsFields = 18;
inline constexpr std::uint32_t kSizeHintsWinGravity = 1u << 9;
inline constexpr std::uint32_t kSizeHintsWinGravityField = 17;

// Who sends a message to the window manager: an application (a pager would be 2).
inline constexpr long kSourceApplication = 1;

// The first field of a _NET_WM_STATE message.
inline constexpr long kNetWmStateRemove = 0;
inline constexpr long kNetWmStateAdd = 1;

// The first field of a _NET_MOVERESIZE_WINDOW message: the gravity in the low byte, then which
// of x, y, width and height follow, then the source.
inline constexpr long kMoveResizeX = 1L << 8;
inline constexpr long kMoveResizeY = 1L << 9;
inline constexpr long kMoveResizeWidth = 1L << 10;
inline constexpr long kMoveResizeHeight = 1L << 11;
inline constexpr long kMoveResizeSource = kSourceApplication << 12;

// Mutter, GNOME's window manager, keeps a window of its own, unmanaged and over the whole
// screen, beneath the windows it shows; Xwayland reports the pointer over it until the pointer
// first reaches an X11 window.
inline constexpr char kMutterGuardWindowName[] = "mutter guard window";

}  // namespace x11_protocol

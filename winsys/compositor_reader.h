// What a compositor tells a reader of ours (a KWin script, a GNOME Shell extension) about where
// the pointer is and which window lies under it, native Wayland windows and X11 ones alike. Each
// reader sends the same reports; they are parsed by a pure function and kept in a plain state
// object, so both are tested without a bus. The window system over X11 takes any reader.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winsys/window_system.h"

struct CompositorWindow {
    std::string id;       // KWin's internal id, stable for the window's life
    std::string caption;  // UTF-8, at most kMaxCaptionBytes
    RECT frame{};         // the outer rectangle, decoration included, in KWin's logical pixels
    // The X window of an X11 client where KWin tells it (5.27); 0 for a native window and for
    // every window on KWin 6, whose scripts no longer see X ids.
    unsigned long xid = 0;
    long pid = 0;  // the process KWin names for the window, 0 if none
};

// One report of the script. Every part is optional.
struct CompositorReport {
    std::optional<POINT> pointer;
    std::optional<std::string> under;       // "" where no window lies under the pointer
    std::vector<CompositorWindow> windows;  // new or changed descriptions
    std::vector<std::string> removed;       // windows that have ended
    std::optional<POINT> screen;            // the size of the whole desktop, in logical pixels
    std::optional<std::string> failed;      // the script has stopped, and why
};

// Longer captions are cut (at a character boundary); no report is read past kMaxReportBytes.
inline constexpr std::size_t kMaxCaptionBytes = 4096;
inline constexpr std::size_t kMaxReportBytes = 64 * 1024;

// Parses one report; nothing if it is not a report (not JSON, not an object, a part of the
// wrong type, too long).
std::optional<CompositorReport> ParseCompositorReport(std::string_view json);

// The latest answer, built from the reports in the order they came. It holds at most
// kMaxWindows descriptions: past that, the oldest not under the pointer is forgotten.
class CompositorState {
  public:
    static constexpr std::size_t kMaxWindows = 256;

    void Apply(const CompositorReport& report);

    bool has_pointer() const { return has_pointer_; }
    POINT pointer() const { return pointer_; }
    std::optional<POINT> screen() const { return screen_; }
    std::size_t window_count() const { return windows_.size(); }
    // The window under the pointer, or nullptr.
    const CompositorWindow* under() const { return Find(under_); }
    // A window the script has described and not yet reported ended, or nullptr.
    const CompositorWindow* Find(const std::string& id) const;
    bool IsWindow(const std::string& id) const { return Find(id) != nullptr; }

  private:
    bool has_pointer_ = false;
    POINT pointer_{};
    std::optional<POINT> screen_;
    std::string under_;
    std::map<std::string, CompositorWindow> windows_;
    std::vector<std::string> arrival_;  // the ids of windows_, oldest first
};

// One reader of a compositor's windows, as the window system over X11 reads it.
class CompositorReader {
  public:
    virtual ~CompositorReader() = default;

    virtual const CompositorState& state() const = 0;
    bool IsWindow(const std::string& id) const { return state().IsWindow(id); }
    // Why native windows cannot be read now, as the user is told it, or "" while they can.
    virtual const std::string& notice() const = 0;
};

// Tells the user `line` once: on standard error, prefixed "velmo: ", and as a notification of
// the desktop, for a velmo started from the desktop's menu, whose standard error no one reads.
void TellUser(const std::string& line);

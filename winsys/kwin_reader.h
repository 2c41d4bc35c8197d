// Reading the windows of a Plasma Wayland session through KWin: a script of ours, loaded into
// KWin over the session bus, reports where the pointer is and which window lies under it, native
// Wayland windows and X11 ones alike. What it sends is parsed by a pure function and kept in a
// plain state object, so both are tested without a bus.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winsys/window_system.h"

struct KWinWindow {
    std::string id;       // KWin's internal id, stable for the window's life
    std::string caption;  // UTF-8, at most kMaxCaptionBytes
    RECT frame{};         // the outer rectangle, decoration included, in KWin's logical pixels
    // The X window of an X11 client where KWin tells it (5.27); 0 for a native window and for
    // every window on KWin 6, whose scripts no longer see X ids.
    unsigned long xid = 0;
    long pid = 0;  // the process KWin names for the window, 0 if none
};

// One report of the script. Every part is optional.
struct KWinReport {
    std::optional<POINT> pointer;
    std::optional<std::string> under;   // "" where no window lies under the pointer
    std::vector<KWinWindow> windows;    // new or changed descriptions
    std::vector<std::string> removed;   // windows that have ended
    std::optional<POINT> screen;        // the size of the whole desktop, in logical pixels
    std::optional<std::string> failed;  // the script has stopped, and why
};

// Longer captions are cut (at a character boundary); no report is read past kMaxReportBytes.
inline constexpr std::size_t kMaxCaptionBytes = 4096;
inline constexpr std::size_t kMaxReportBytes = 64 * 1024;

// Parses one report; nothing if it is not a report (not JSON, not an object, a part of the
// wrong type, too long).
std::optional<KWinReport> ParseKWinReport(std::string_view json);

// The latest answer, built from the reports in the order they came. It holds at most
// kMaxWindows descriptions: past that, the oldest not under the pointer is forgotten.
class KWinReaderState {
  public:
    static constexpr std::size_t kMaxWindows = 256;

    void Apply(const KWinReport& report);

    bool has_pointer() const { return has_pointer_; }
    POINT pointer() const { return pointer_; }
    std::optional<POINT> screen() const { return screen_; }
    std::size_t window_count() const { return windows_.size(); }
    // The window under the pointer, or nullptr.
    const KWinWindow* under() const { return Find(under_); }
    // A window the script has described and not yet reported ended, or nullptr.
    const KWinWindow* Find(const std::string& id) const;
    bool IsWindow(const std::string& id) const { return Find(id) != nullptr; }

  private:
    bool has_pointer_ = false;
    POINT pointer_{};
    std::optional<POINT> screen_;
    std::string under_;
    std::map<std::string, KWinWindow> windows_;
    std::vector<std::string> arrival_;  // the ids of windows_, oldest first
};

class KWinReader : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vellomar.KWinReader")

  public:
    // Writes the script into the runtime directory, loads and runs it in the KWin of the
    // session bus, after unloading the scripts of earlier velmo processes that ended without
    // unloading theirs, and waits for its first report. Returns nullptr with a reason in
    // `error` where there is no runtime directory, no KWin on the bus, or KWin refuses the
    // script or runs it without a report.
    static std::unique_ptr<KWinReader> Start(std::string* error);
    ~KWinReader() override;  // unloads the script

    const KWinReaderState& state() const { return state_; }
    bool IsWindow(const std::string& id) const { return state_.IsWindow(id); }
    const QString& script_name() const { return name_; }
    // Why the reports have stopped (the script was unloaded or failed, KWin left the bus), or
    // "" while they come. Once stopped, they never come again.
    const std::string& stopped() const { return stopped_; }

    // The directory of the script files ("" without a runtime directory), and the script name
    // of a process.
    static QString ScriptDirectory();
    static QString ScriptName(long pid);

  public slots:
    // Called by the script over the bus; a call from anyone but KWin is ignored.
    Q_SCRIPTABLE void Report(const QString& json);

  signals:
    void Changed();
    void Stopped();

  private:
    KWinReader() = default;
    void Apply(const QString& json);
    // Asks KWin, without waiting, whether the script is still loaded.
    void CheckLoaded();
    void Stop(const std::string& why);

    KWinReaderState state_;
    QString name_;
    QString file_;
    QString kwin_owner_;  // the unique bus name that owned org.kde.KWin when the script loaded
    std::string stopped_;
    bool registered_ = false;
    bool check_pending_ = false;
};

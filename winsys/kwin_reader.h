// Reading the windows of a Plasma Wayland session through KWin: a script of ours, loaded into
// KWin over the session bus, reports where the pointer is and which window lies under it, native
// Wayland windows and X11 ones alike. What it sends is parsed by a pure function and kept in a
// plain state object, so both are tested without a bus.
#pragma once

#include <QDBusMessage>
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
    std::string id;         // KWin's internal id, stable for the window's life
    std::string caption;    // UTF-8
    RECT frame{};           // the outer rectangle, decoration included
    unsigned long xid = 0;  // the X window of an X11 client; 0 for a native window
};

// One report of the script. Every part is optional.
struct KWinReport {
    std::optional<POINT> pointer;
    std::optional<std::string> under;  // "" where no window lies under the pointer
    std::vector<KWinWindow> windows;   // new or changed descriptions
    std::vector<std::string> removed;  // windows that have ended
};

// Parses one report; nothing if it is not a report (not JSON, not an object, a part of the
// wrong type).
std::optional<KWinReport> ParseKWinReport(std::string_view json);

// The latest answer, built from the reports in the order they came.
class KWinReaderState {
  public:
    void Apply(const KWinReport& report);

    bool has_pointer() const { return has_pointer_; }
    POINT pointer() const { return pointer_; }
    // The window under the pointer, or nullptr.
    const KWinWindow* under() const { return Find(under_); }
    // A window the script has described and not yet reported ended, or nullptr.
    const KWinWindow* Find(const std::string& id) const;
    bool IsWindow(const std::string& id) const { return Find(id) != nullptr; }

  private:
    bool has_pointer_ = false;
    POINT pointer_{};
    std::string under_;
    std::map<std::string, KWinWindow> windows_;
};

class KWinReader : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vellomar.KWinReader")

  public:
    enum class Mode {
        Push,  // the script reports when KWin signals a change
        Poll,  // the script answers each time the reader asks, ten times a second
    };

    // Loads and runs the script in the KWin of the session bus, after unloading the scripts of
    // earlier velmo processes that ended without unloading theirs. Returns nullptr with a
    // reason in `error` where there is no KWin on the bus or it refuses the script.
    static std::unique_ptr<KWinReader> Start(Mode mode, std::string* error);
    ~KWinReader() override;  // unloads the script

    const KWinReaderState& state() const { return state_; }
    bool IsWindow(const std::string& id) const { return state_.IsWindow(id); }
    const QString& script_name() const { return name_; }

    // The file name and script name of this process's script.
    static QString ScriptDirectory();
    static QString ScriptName(long pid);

  public slots:
    // Called by the script over the bus.
    Q_SCRIPTABLE void Report(const QString& json);
    Q_SCRIPTABLE void Ask(const QDBusMessage& message);

  signals:
    void Changed();

  private:
    KWinReader() = default;
    void Answer();

    KWinReaderState state_;
    QString name_;
    QString file_;
    bool registered_ = false;
    std::vector<QDBusMessage> asks_;
};

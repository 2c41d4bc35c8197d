// Reading the windows of a Plasma Wayland session through KWin: a script of ours, loaded into
// KWin over the session bus, reports where the pointer is and which window lies under it.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

#include <memory>
#include <string>

#include "winsys/compositor_reader.h"

class KWinReader : public QObject, public CompositorReader, protected QDBusContext {
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

    const CompositorState& state() const override { return state_; }
    const std::string& notice() const override { return notice_; }
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

    CompositorState state_;
    QString name_;
    QString file_;
    QString kwin_owner_;  // the unique bus name that owned org.kde.KWin when the script loaded
    std::string stopped_;
    std::string notice_;
    bool registered_ = false;
    bool check_pending_ = false;
};

// Reading the windows of GNOME Shell's Wayland session through velmo's Shell extension: once the
// user has enabled it, it tells subscribers over the session bus where the pointer is and which
// window lies under it. The reader subscribes, hears the shell alone, follows the extension
// being disabled and enabled again, and says what keeps it from reading. It never enables the
// extension itself: that is the user's choice.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <string>

#include "winsys/compositor_reader.h"

class GnomeReader : public QObject, public CompositorReader, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vellomar.GnomeReader")

  public:
    // Whether GNOME Shell is on the session bus.
    static bool ShellOnBus();
    // Subscribes to the extension and waits for its first report. Returns nullptr with a reason
    // in `error` where there is no session bus or no GNOME Shell on it; otherwise a reader,
    // whose notice() tells what keeps it from reading where the extension does not answer.
    static std::unique_ptr<GnomeReader> Start(std::string* error);
    ~GnomeReader() override;  // unsubscribes

    const CompositorState& state() const override { return state_; }
    const std::string& notice() const override { return notice_; }

    // The uuid of velmo's extension for GNOME Shell `major`: 43 and 44 load extensions of
    // another form than 45 and later. 0, a version not known, takes the newer form.
    static QString Uuid(int major);
    // What the user is told of the extension `uuid`, given what GNOME Shell says of it
    // (GetExtensionInfo: nothing where the shell does not know it) and whether it is installed
    // where the shell looks; "" where it is enabled.
    static std::string NoticeFor(const QString& uuid, const QVariantMap& info, bool installed);

  public slots:
    // Called by the extension over the bus; a call from anyone but GNOME Shell is ignored.
    Q_SCRIPTABLE void Report(const QString& json);

  private slots:
    void OnExtensionStateChanged(const QString& uuid, const QVariantMap& info);
    void OnShellOwnerChanged(const QString& name, const QString& old_owner,
                             const QString& new_owner);

  signals:
    void Changed();

  private:
    GnomeReader() = default;
    // Asks the shell for its version and the extension's state, and subscribes where it is
    // enabled.
    void Examine();
    // Subscribes; on failure the notice tells why.
    bool Subscribe();
    void Stop(std::string notice);

    CompositorState state_;
    std::string notice_;
    QString uuid_;
    QString shell_;  // the unique bus name that owns org.gnome.Shell
    bool subscribed_ = false;
    bool registered_ = false;
};

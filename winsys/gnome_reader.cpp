#include "winsys/gnome_reader.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <cstdlib>
#include <optional>

namespace {

const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kShellPath = QStringLiteral("/org/gnome/Shell");
const QString kExtensions = QStringLiteral("org.gnome.Shell.Extensions");
const QString kExtensionPath = QStringLiteral("/org/vellomar/Reader");
const QString kExtensionInterface = QStringLiteral("org.vellomar.ShellReader");
const QString kReceiverPath = QStringLiteral("/Reader");
const QString kReceiverInterface = QStringLiteral("org.vellomar.GnomeReader");
constexpr int kCallTimeoutMs = 2000;
constexpr int kFirstReportMs = 2000;

// GNOME Shell's extension states; 43 and 48 name them differently, with the same numbers.
constexpr int kEnabled = 1;
constexpr int kError = 3;
constexpr int kOutOfDate = 4;
constexpr int kEnabling = 8;

const std::string kCannot = "native Wayland windows cannot be seen: ";

QDBusMessage CallShell(const QString& path, const QString& interface, const QString& method,
                       const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(kShell, path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
}

// The shell's major version, 0 if it does not tell.
int ShellMajorVersion() {
    const QDBusMessage reply =
        CallShell(kShellPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                  QStringLiteral("Get"), {kShell, QStringLiteral("ShellVersion")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return 0;
    }
    const QString version =
        qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toString();
    return version.section(QLatin1Char('.'), 0, 0).toInt();
}

// Whether the extension's directory lies where GNOME Shell looks for extensions: the user's
// data directory, then the system's.
bool Installed(const QString& uuid) {
    const char* home = std::getenv("XDG_DATA_HOME");
    QStringList roots = {home != nullptr && home[0] == '/'
                             ? QFile::decodeName(home)
                             : QDir::homePath() + QStringLiteral("/.local/share")};
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    roots +=
        QFile::decodeName(dirs != nullptr && dirs[0] != '\0' ? dirs : "/usr/local/share:/usr/share")
            .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& root : roots) {
        if (QFileInfo::exists(root + QStringLiteral("/gnome-shell/extensions/") + uuid +
                              QStringLiteral("/metadata.json"))) {
            return true;
        }
    }
    return false;
}

}  // namespace

QString GnomeReader::Uuid(int major) {
    return major == 43 || major == 44 ? QStringLiteral("velmo43@vellomar.invalid")
                                      : QStringLiteral("velmo@vellomar.invalid");
}

std::string GnomeReader::NoticeFor(const QString& uuid, const QVariantMap& info, bool installed) {
    const std::string name = uuid.toStdString();
    if (info.isEmpty()) {
        // The shell reads its extensions' directories once, at its start.
        return installed ? "native Wayland windows cannot be seen until you log out and log in "
                           "again: velmo's GNOME Shell extension " +
                               name + " was installed after GNOME Shell started"
                         : kCannot + "velmo's GNOME Shell extension " + name +
                               " is not installed; install velmo's package";
    }
    const int state = info.value(QStringLiteral("state")).toInt();
    if (state == kEnabled || state == kEnabling) {
        return "";
    }
    if (state == kError || state == kOutOfDate) {
        const QString why = info.value(QStringLiteral("error")).toString();
        return kCannot + "velmo's GNOME Shell extension " + name + " does not answer (" +
               (state == kOutOfDate ? std::string("it is not made for this GNOME Shell")
                                    : why.left(200).toStdString()) +
               ")";
    }
    return kCannot +
           "velmo's GNOME Shell extension is not enabled; enable it with: "
           "gnome-extensions enable " +
           name;
}

bool GnomeReader::ShellOnBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(kShell).value();
}

std::unique_ptr<GnomeReader> GnomeReader::Start(std::string* error) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusReply<QString> owner =
        bus.isConnected() ? bus.interface()->serviceOwner(kShell) : QDBusReply<QString>();
    if (!owner.isValid() || owner.value().isEmpty()) {
        *error = "GNOME Shell is not on the session bus";
        return nullptr;
    }
    std::unique_ptr<GnomeReader> reader(new GnomeReader);
    reader->shell_ = owner.value();
    if (!bus.registerObject(kReceiverPath, reader.get(), QDBusConnection::ExportScriptableSlots)) {
        *error = "cannot register the receiver on the session bus";
        return nullptr;
    }
    reader->registered_ = true;
    // The extension being enabled or disabled, and the shell coming or going.
    bus.connect(kShell, kShellPath, kExtensions, QStringLiteral("ExtensionStateChanged"),
                reader.get(), SLOT(OnExtensionStateChanged(QString, QVariantMap)));
    auto* watcher = new QDBusServiceWatcher(kShell, bus, QDBusServiceWatcher::WatchForOwnerChange,
                                            reader.get());
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, reader.get(),
            &GnomeReader::OnShellOwnerChanged);

    reader->Examine();
    if (reader->subscribed_ && !reader->state_.has_pointer()) {
        // The extension reports at once to a new subscriber.
        QEventLoop first_report;
        connect(reader.get(), &GnomeReader::Changed, &first_report, &QEventLoop::quit);
        QTimer::singleShot(kFirstReportMs, &first_report, &QEventLoop::quit);
        first_report.exec();
    }
    return reader;
}

GnomeReader::~GnomeReader() {
    if (subscribed_) {
        CallShell(kExtensionPath, kExtensionInterface, QStringLiteral("Unsubscribe"), {});
    }
    if (registered_) {
        QDBusConnection::sessionBus().unregisterObject(kReceiverPath);
    }
}

void GnomeReader::Examine() {
    uuid_ = Uuid(ShellMajorVersion());
    const QDBusReply<QVariantMap> info =
        CallShell(kShellPath, kExtensions, QStringLiteral("GetExtensionInfo"), {uuid_});
    const std::string why =
        NoticeFor(uuid_, info.isValid() ? info.value() : QVariantMap(), Installed(uuid_));
    if (!why.empty()) {
        Stop(why);
        return;
    }
    Subscribe();
}

bool GnomeReader::Subscribe() {
    state_ = {};
    const QDBusMessage reply =
        CallShell(kExtensionPath, kExtensionInterface, QStringLiteral("Subscribe"),
                  {QVariant::fromValue(QDBusObjectPath(kReceiverPath)), kReceiverInterface});
    subscribed_ = reply.type() == QDBusMessage::ReplyMessage;
    if (!subscribed_) {
        Stop(kCannot + "velmo's GNOME Shell extension " + uuid_.toStdString() +
             " is enabled but does not answer (" + reply.errorMessage().left(200).toStdString() +
             "); log out and log in again");
        return false;
    }
    notice_.clear();
    return true;
}

void GnomeReader::Stop(std::string notice) {
    subscribed_ = false;
    state_ = {};
    notice_ = std::move(notice);
}

void GnomeReader::Report(const QString& json) {
    // Anyone on the session bus can call; only the shell, where the extension runs, is heard.
    if (!subscribed_ || !calledFromDBus() || message().service() != shell_) {
        return;
    }
    const QByteArray utf8 = json.toUtf8();
    if (const std::optional<CompositorReport> report = ParseCompositorReport(
            std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())))) {
        state_.Apply(*report);
        emit Changed();
    }
}

void GnomeReader::OnExtensionStateChanged(const QString& uuid, const QVariantMap& info) {
    if (uuid != uuid_) {
        return;
    }
    const int state = info.value(QStringLiteral("state")).toInt();
    if (state == kEnabled && !subscribed_) {
        Subscribe();
    } else if (state != kEnabled && state != kEnabling && subscribed_) {
        // Disabling the extension drops its subscribers without a word.
        Stop(
            "GNOME Shell's extension stopped reporting (it was disabled); native Wayland "
            "windows cannot be seen until it is enabled again: gnome-extensions enable " +
            uuid_.toStdString());
    }
}

void GnomeReader::OnShellOwnerChanged(const QString&, const QString&, const QString& new_owner) {
    shell_ = new_owner;
    if (new_owner.isEmpty()) {
        Stop("GNOME Shell left the session bus; native Wayland windows cannot be seen any more");
    } else {
        // A shell started anew (GNOME on X11 restarts it in place) knows no subscriber.
        Examine();
    }
}

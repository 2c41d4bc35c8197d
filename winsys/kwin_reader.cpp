#include "winsys/kwin_reader.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include "winsys/x11_text.h"

// The script's text, compiled in from kwin_reader.js.
extern const char* const kKWinReaderScript;

namespace {

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kScripting = QStringLiteral("org.kde.kwin.Scripting");
const QString kScript = QStringLiteral("org.kde.kwin.Script");
const QString kReaderPath = QStringLiteral("/Reader");
const QString kReaderInterface = QStringLiteral("org.vellomar.KWinReader");
const QString kScriptPrefix = QStringLiteral("velmo-kwin-");
constexpr int kCallTimeoutMs = 2000;
// The script's first report comes at once after it runs; later ones only on a change. Whether
// the script is still loaded is asked at this pace, so that reports that stop are noticed
// within two seconds.
constexpr int kFirstReportMs = 2000;
constexpr int kCheckMs = 1000;

QByteArray ReadProcFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the velmo that had process id `pid` has ended: no process has that id, or one that
// has ended and waits for its parent to collect it, or another program has taken the id since.
bool Ended(long pid) {
    if (pid <= 0) {
        return false;
    }
    if (kill(static_cast<pid_t>(pid), 0) != 0) {
        return errno == ESRCH;  // else a process of another user
    }
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    const QByteArray stat = ReadProcFile(proc + QStringLiteral("stat"));
    const qsizetype state = stat.lastIndexOf(')') + 2;
    if (state >= 2 && state < stat.size() && stat[state] == 'Z') {
        return true;
    }
    const QByteArray comm = ReadProcFile(proc + QStringLiteral("comm"));
    return !comm.isEmpty() && comm != ReadProcFile(QStringLiteral("/proc/self/comm"));
}

QDBusMessage CallScripting(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kKWin, QStringLiteral("/Scripting"), kScripting, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
}

void Unload(const QString& name) {
    CallScripting(QStringLiteral("unloadScript"), {name});
}

// Unloads the scripts, and removes the files, of velmo processes that have ended.
void UnloadStale(const QString& directory) {
    const QDir dir(directory);
    const QStringList files = dir.entryList({kScriptPrefix + QStringLiteral("*.js")}, QDir::Files);
    for (const QString& file : files) {
        bool ok = false;
        const long pid = file.mid(kScriptPrefix.size()).chopped(3).toLong(&ok);
        if (ok && pid != getpid() && Ended(pid)) {
            Unload(KWinReader::ScriptName(pid));
            QFile::remove(dir.filePath(file));
        }
    }
}

}  // namespace

QString KWinReader::ScriptDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return {};
    }
    return QFile::decodeName(runtime) + QStringLiteral("/velmo-kwin");
}

QString KWinReader::ScriptName(long pid) {
    return kScriptPrefix + QString::number(pid);
}

namespace {

// Whether `path` is a directory of this user's that no one else may enter, itself and not a
// link to one.
bool IsPrivateDirectory(const QByteArray& path) {
    struct stat s {};
    return lstat(path.constData(), &s) == 0 && S_ISDIR(s.st_mode) && s.st_uid == getuid() &&
           (s.st_mode & 077) == 0;
}

// Writes the script to `file`, which only this user can read or replace: the runtime
// directory and ours in it are private, and the file is made anew, never through a link.
bool WriteScript(const QString& directory, const QString& file, const QByteArray& text,
                 std::string* error) {
    const QByteArray dir = QFile::encodeName(directory);
    const QByteArray runtime = QFile::encodeName(QFileInfo(directory).path());
    if (!IsPrivateDirectory(runtime)) {
        *error = "the runtime directory " + runtime.toStdString() + " is not private";
        return false;
    }
    if (mkdir(dir.constData(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make " + dir.toStdString();
        return false;
    }
    if (!IsPrivateDirectory(dir)) {
        *error = dir.toStdString() + " is not a private directory";
        return false;
    }
    const QByteArray path = QFile::encodeName(file);
    unlink(path.constData());  // a file of an earlier process that had this process's id
    const int fd =
        open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot make the script file " + path.toStdString();
        return false;
    }
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n =
            write(fd, text.constData() + done, static_cast<size_t>(text.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += n;
    }
    close(fd);
    if (done != text.size()) {
        *error = "cannot write the script file " + path.toStdString();
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<KWinReader> KWinReader::Start(std::string* error) {
    const QString directory = ScriptDirectory();
    if (directory.isEmpty()) {
        *error = "no runtime directory (XDG_RUNTIME_DIR) for KWin's script";
        return nullptr;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *error = "no session bus";
        return nullptr;
    }
    const QDBusReply<QString> owner = bus.interface()->serviceOwner(kKWin);
    if (!owner.isValid() || owner.value().isEmpty()) {
        // GNOME Shell was looked for first.
        *error = "neither KWin nor GNOME Shell is on the session bus";
        return nullptr;
    }

    std::unique_ptr<KWinReader> reader(new KWinReader);
    reader->kwin_owner_ = owner.value();
    if (!bus.registerObject(kReaderPath, reader.get(), QDBusConnection::ExportScriptableSlots)) {
        *error = "cannot register the receiver on the session bus";
        return nullptr;
    }
    reader->registered_ = true;

    UnloadStale(directory);
    reader->name_ = ScriptName(getpid());
    // A script of an earlier process that had this process's id.
    Unload(reader->name_);

    const QJsonObject settings{
        {QStringLiteral("service"), bus.baseService()},
        {QStringLiteral("path"), kReaderPath},
        {QStringLiteral("iface"), kReaderInterface},
        {QStringLiteral("name"), reader->name_},
        {QStringLiteral("pid"), static_cast<qint64>(getpid())},
    };
    const QString file = directory + QStringLiteral("/") + reader->name_ + QStringLiteral(".js");
    if (!WriteScript(directory, file,
                     "var velmo = " + QJsonDocument(settings).toJson(QJsonDocument::Compact) +
                         ";\n" + kKWinReaderScript,
                     error)) {
        return nullptr;
    }
    reader->file_ = file;

    const QDBusReply<int> id = CallScripting(QStringLiteral("loadScript"), {file, reader->name_});
    if (!id.isValid() || id.value() < 0) {
        *error = "KWin did not load the script";
        return nullptr;
    }
    // KWin answers run even when the script fails; its first report tells that it runs.
    QEventLoop first_report;
    QObject::connect(reader.get(), &KWinReader::Changed, &first_report, &QEventLoop::quit);
    QTimer::singleShot(kFirstReportMs, &first_report, &QEventLoop::quit);
    // KWin 6 puts a loaded script at /Scripting/Script<id>, 5.27 at /<id>.
    const QString paths[] = {QStringLiteral("/Scripting/Script%1").arg(id.value()),
                             QStringLiteral("/%1").arg(id.value())};
    bool ran = false;
    for (const QString& path : paths) {
        const QDBusMessage run =
            bus.call(QDBusMessage::createMethodCall(kKWin, path, kScript, QStringLiteral("run")),
                     QDBus::Block, kCallTimeoutMs);
        if (run.type() == QDBusMessage::ReplyMessage) {
            ran = true;
            break;
        }
    }
    if (!ran) {
        *error = "KWin did not run the script";
        return nullptr;
    }
    if (!reader->state_.has_pointer()) {
        first_report.exec();
    }
    if (!reader->stopped_.empty() || !reader->state_.has_pointer()) {
        *error = reader->stopped_.empty() ? "KWin ran the script, but it did not report"
                                          : reader->stopped_;
        return nullptr;
    }

    // Reports stop when KWin leaves the bus, when the script fails (it says so) or when it is
    // unloaded (asked at a steady pace, as KWin tells no one).
    auto* watcher =
        new QDBusServiceWatcher(kKWin, bus, QDBusServiceWatcher::WatchForOwnerChange, reader.get());
    QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, reader.get(),
                     [r = reader.get()] { r->Stop("KWin left the session bus"); });
    auto* check = new QTimer(reader.get());
    QObject::connect(check, &QTimer::timeout, reader.get(), &KWinReader::CheckLoaded);
    check->start(kCheckMs);
    return reader;
}

KWinReader::~KWinReader() {
    if (!name_.isEmpty() && stopped_.empty()) {
        Unload(name_);
    }
    if (!file_.isEmpty()) {
        QFile::remove(file_);
    }
    if (registered_) {
        QDBusConnection::sessionBus().unregisterObject(kReaderPath);
    }
}

void KWinReader::Report(const QString& json) {
    // Anyone on the session bus can call; only KWin, which runs the script, is heard.
    if (!calledFromDBus() || message().service() != kwin_owner_) {
        return;
    }
    Apply(json);
}

void KWinReader::Apply(const QString& json) {
    if (!stopped_.empty()) {
        return;
    }
    const QByteArray utf8 = json.toUtf8();
    if (const std::optional<CompositorReport> report = ParseCompositorReport(
            std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())))) {
        if (report->failed) {
            Stop("the script failed: " + *report->failed);
            return;
        }
        state_.Apply(*report);
        emit Changed();
    }
}

void KWinReader::CheckLoaded() {
    if (check_pending_ || !stopped_.empty()) {
        return;
    }
    check_pending_ = true;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kKWin, QStringLiteral("/Scripting"), kScripting, QStringLiteral("isScriptLoaded"));
    call.setArguments({name_});
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        check_pending_ = false;
        const QDBusPendingReply<bool> loaded = *w;
        w->deleteLater();
        // A KWin too busy to answer in time is asked again; only a clear no counts.
        if (loaded.isValid() && !loaded.value()) {
            Stop("KWin unloaded the script");
        }
    });
}

void KWinReader::Stop(const std::string& why) {
    if (!stopped_.empty()) {
        return;
    }
    stopped_ = why;
    notice_ =
        "KWin stopped reporting (" + why + "); native Wayland windows cannot be seen any more";
    // A script that failed stays loaded; it goes now, so that KWin has no part of it left.
    Unload(name_);
    emit Stopped();
}

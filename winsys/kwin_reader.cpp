#include "winsys/kwin_reader.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTimer>

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

bool IsInteger(const QJsonValue& v) {
    return v.isDouble() &&
           v.toDouble() == static_cast<double>(static_cast<long long>(v.toDouble()));
}

std::optional<KWinWindow> ParseWindow(const QJsonValue& value) {
    const QJsonObject o = value.toObject();
    const QJsonArray frame = o.value(QStringLiteral("frame")).toArray();
    if (!value.isObject() || !o.value(QStringLiteral("id")).isString() ||
        !o.value(QStringLiteral("caption")).isString() || frame.size() != 4) {
        return std::nullopt;
    }
    for (const QJsonValue& n : frame) {
        if (!IsInteger(n)) {
            return std::nullopt;
        }
    }
    const QJsonValue xid = o.value(QStringLiteral("xid"));
    if (!xid.isUndefined() && (!IsInteger(xid) || xid.toDouble() < 0)) {
        return std::nullopt;
    }
    KWinWindow w;
    w.id = o.value(QStringLiteral("id")).toString().toStdString();
    w.caption = o.value(QStringLiteral("caption")).toString().toStdString();
    const int x = frame[0].toInt();
    const int y = frame[1].toInt();
    w.frame = RECT{x, y, x + frame[2].toInt(), y + frame[3].toInt()};
    w.xid = static_cast<unsigned long>(xid.toDouble());
    return w;
}

bool ParseIds(const QJsonValue& value, std::vector<std::string>* ids) {
    if (!value.isArray()) {
        return false;
    }
    for (const QJsonValue& id : value.toArray()) {
        if (!id.isString()) {
            return false;
        }
        ids->push_back(id.toString().toStdString());
    }
    return true;
}

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

std::optional<KWinReport> ParseKWinReport(std::string_view json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    KWinReport report;
    const QJsonValue pointer = o.value(QStringLiteral("pointer"));
    if (!pointer.isUndefined()) {
        const QJsonArray p = pointer.toArray();
        if (p.size() != 2 || !IsInteger(p[0]) || !IsInteger(p[1])) {
            return std::nullopt;
        }
        report.pointer = POINT{p[0].toInt(), p[1].toInt()};
    }
    const QJsonValue under = o.value(QStringLiteral("under"));
    if (!under.isUndefined()) {
        if (!under.isString()) {
            return std::nullopt;
        }
        report.under = under.toString().toStdString();
    }
    const QJsonValue windows = o.value(QStringLiteral("windows"));
    if (!windows.isUndefined()) {
        if (!windows.isArray()) {
            return std::nullopt;
        }
        for (const QJsonValue& w : windows.toArray()) {
            std::optional<KWinWindow> window = ParseWindow(w);
            if (!window) {
                return std::nullopt;
            }
            report.windows.push_back(std::move(*window));
        }
    }
    const QJsonValue removed = o.value(QStringLiteral("removed"));
    if (!removed.isUndefined() && !ParseIds(removed, &report.removed)) {
        return std::nullopt;
    }
    return report;
}

void KWinReaderState::Apply(const KWinReport& report) {
    for (const KWinWindow& w : report.windows) {
        windows_[w.id] = w;
    }
    for (const std::string& id : report.removed) {
        windows_.erase(id);
        if (under_ == id) {
            under_.clear();
        }
    }
    if (report.pointer) {
        has_pointer_ = true;
        pointer_ = *report.pointer;
    }
    if (report.under) {
        under_ = *report.under;
    }
}

const KWinWindow* KWinReaderState::Find(const std::string& id) const {
    const auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : &it->second;
}

QString KWinReader::ScriptDirectory() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty()) {
        base = QDir::tempPath();
    }
    return base + QStringLiteral("/velmo-kwin");
}

QString KWinReader::ScriptName(long pid) {
    return kScriptPrefix + QString::number(pid);
}

std::unique_ptr<KWinReader> KWinReader::Start(Mode mode, std::string* error) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *error = "no session bus";
        return nullptr;
    }
    if (!bus.interface()->isServiceRegistered(kKWin).value()) {
        *error = "KWin is not on the session bus";
        return nullptr;
    }

    std::unique_ptr<KWinReader> reader(new KWinReader);
    if (!bus.registerObject(kReaderPath, reader.get(), QDBusConnection::ExportScriptableSlots)) {
        *error = "cannot register the receiver on the session bus";
        return nullptr;
    }
    reader->registered_ = true;

    const QString directory = ScriptDirectory();
    QDir().mkpath(directory);
    UnloadStale(directory);

    reader->name_ = ScriptName(getpid());
    reader->file_ = directory + QStringLiteral("/") + reader->name_ + QStringLiteral(".js");
    // A script of an earlier process that had this process's id.
    Unload(reader->name_);

    const QJsonObject settings{
        {QStringLiteral("service"), bus.baseService()},
        {QStringLiteral("path"), kReaderPath},
        {QStringLiteral("iface"), kReaderInterface},
        {QStringLiteral("name"), reader->name_},
        {QStringLiteral("mode"),
         mode == Mode::Push ? QStringLiteral("push") : QStringLiteral("poll")},
    };
    QFile file(reader->file_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = "cannot write the script to " + reader->file_.toStdString();
        return nullptr;
    }
    file.write("var velmo = " + QJsonDocument(settings).toJson(QJsonDocument::Compact) + ";\n");
    file.write(kKWinReaderScript);
    file.close();

    const QDBusReply<int> id =
        CallScripting(QStringLiteral("loadScript"), {reader->file_, reader->name_});
    if (!id.isValid() || id.value() < 0) {
        *error = "KWin did not load the script";
        return nullptr;
    }
    // KWin 6 puts a loaded script at /Scripting/Script<id>, 5.27 at /<id>.
    const QString paths[] = {QStringLiteral("/Scripting/Script%1").arg(id.value()),
                             QStringLiteral("/%1").arg(id.value())};
    for (const QString& path : paths) {
        const QDBusMessage run =
            bus.call(QDBusMessage::createMethodCall(kKWin, path, kScript, QStringLiteral("run")),
                     QDBus::Block, kCallTimeoutMs);
        if (run.type() == QDBusMessage::ReplyMessage) {
            if (mode == Mode::Poll) {
                auto* timer = new QTimer(reader.get());
                QObject::connect(timer, &QTimer::timeout, reader.get(), &KWinReader::Answer);
                timer->start(100);
            }
            return reader;
        }
    }
    *error = "KWin did not run the script";
    return nullptr;
}

KWinReader::~KWinReader() {
    if (!name_.isEmpty()) {
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
    const QByteArray utf8 = json.toUtf8();
    if (const std::optional<KWinReport> report =
            ParseKWinReport(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())))) {
        state_.Apply(*report);
        emit Changed();
    }
}

void KWinReader::Ask(const QDBusMessage& message) {
    message.setDelayedReply(true);
    asks_.push_back(message);
}

void KWinReader::Answer() {
    for (const QDBusMessage& ask : asks_) {
        QDBusConnection::sessionBus().send(ask.createReply());
    }
    asks_.clear();
}

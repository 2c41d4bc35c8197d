#include "winsys/compositor_reader.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantMap>

#include <cstdio>

#include "winsys/x11_text.h"

namespace {

bool IsInteger(const QJsonValue& v) {
    return v.isDouble() &&
           v.toDouble() == static_cast<double>(static_cast<long long>(v.toDouble()));
}

std::optional<CompositorWindow> ParseWindow(const QJsonValue& value) {
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
    const QJsonValue pid = o.value(QStringLiteral("pid"));
    if (!pid.isUndefined() && (!IsInteger(pid) || pid.toDouble() < 0 || pid.toDouble() > 1e9)) {
        return std::nullopt;
    }
    CompositorWindow w;
    w.id = o.value(QStringLiteral("id")).toString().toStdString();
    w.caption = o.value(QStringLiteral("caption")).toString().toStdString();
    w.caption.resize(x11_text::Utf8PrefixLength(w.caption, kMaxCaptionBytes));
    w.pid = static_cast<long>(pid.toDouble());
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

}  // namespace

std::optional<CompositorReport> ParseCompositorReport(std::string_view json) {
    if (json.size() > kMaxReportBytes) {
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    CompositorReport report;
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
            std::optional<CompositorWindow> window = ParseWindow(w);
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
    const QJsonValue screen = o.value(QStringLiteral("screen"));
    if (!screen.isUndefined()) {
        const QJsonArray size = screen.toArray();
        if (size.size() != 2 || !IsInteger(size[0]) || !IsInteger(size[1])) {
            return std::nullopt;
        }
        report.screen = POINT{size[0].toInt(), size[1].toInt()};
    }
    const QJsonValue failed = o.value(QStringLiteral("failed"));
    if (!failed.isUndefined()) {
        if (!failed.isString()) {
            return std::nullopt;
        }
        const std::string why = failed.toString().toStdString();
        report.failed = why.substr(0, x11_text::Utf8PrefixLength(why, 200));
    }
    return report;
}

void CompositorState::Apply(const CompositorReport& report) {
    const auto forget = [this](const std::string& id) {
        windows_.erase(id);
        std::erase(arrival_, id);
    };
    for (const std::string& id : report.removed) {
        forget(id);
        if (under_ == id) {
            under_.clear();
        }
    }
    if (report.under) {
        under_ = *report.under;
    }
    for (const CompositorWindow& w : report.windows) {
        if (windows_.insert_or_assign(w.id, w).second) {
            arrival_.push_back(w.id);
        }
    }
    for (std::size_t i = 0; windows_.size() > kMaxWindows && i < arrival_.size();) {
        if (arrival_[i] == under_) {
            ++i;
        } else {
            forget(std::string(arrival_[i]));
        }
    }
    if (report.screen) {
        screen_ = *report.screen;
    }
    if (report.pointer) {
        has_pointer_ = true;
        pointer_ = *report.pointer;
    }
}

const CompositorWindow* CompositorState::Find(const std::string& id) const {
    const auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : &it->second;
}

void TellUser(const std::string& line) {
    std::fprintf(stderr, "velmo: %s\n", line.c_str());
    // Sent without waiting: a desktop without a notification service only misses it.
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify.setArguments({QStringLiteral("velmo"), 0u, QStringLiteral("velmo"),
                         QStringLiteral("Vellomar"), QString::fromStdString(line), QStringList(),
                         QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("velmo")}},
                         -1});
    QDBusConnection::sessionBus().send(notify);
}

#include "FleetJob.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>

namespace fleet {

namespace {
// The program's own System Log texts that mark where an upgrade is.
const QString LoginSent = QStringLiteral("send login PKT");
const QString ModePrefix = QStringLiteral("Unsing ");
const QString ModeSuffix = QStringLiteral(" upgrade mode to : ");
} // namespace

QString FleetJob::stateName(JobState state) {
    switch (state) {
    case JobState::Waiting:
        return QStringLiteral("waiting");
    case JobState::Searching:
        return QStringLiteral("searching");
    case JobState::LoggingIn:
        return QStringLiteral("logging in");
    case JobState::Sending:
        return QStringLiteral("sending");
    case JobState::Done:
        return QStringLiteral("done");
    case JobState::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

void FleetJob::started() {
    state_ = JobState::Searching;
}

void FleetJob::onLog(const QString& text) {
    if (log_.size() < MaxLogLines)
        log_.append(text);
    if (text.startsWith(LoginSent)) {
        state_ = JobState::LoggingIn;
        return;
    }
    // "Unsing HTTP upgrade mode to : ADDRESS": HTTP and TFTP send next, FTP logs in first.
    if (text.startsWith(ModePrefix) && text.contains(ModeSuffix)) {
        method_ = text.mid(ModePrefix.size(), text.indexOf(ModeSuffix) - ModePrefix.size());
        state_ = method_ == QLatin1String("FTP") ? JobState::LoggingIn : JobState::Sending;
    }
}

bool FleetJob::feedLine(const QByteArray& line) {
    if (line.size() > MaxLineBytes)
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    const QString kind = o.value(QStringLiteral("kind")).toString();
    const QString text = o.value(QStringLiteral("text")).toString();
    if (kind == QLatin1String("log")) {
        onLog(text);
    } else if (kind == QLatin1String("box")) {
        lastBox_ = {o.value(QStringLiteral("caption")).toString(), text};
    } else if (kind == QLatin1String("progress")) {
        const qint64 maximum = o.value(QStringLiteral("maximum")).toInteger();
        const qint64 position = o.value(QStringLiteral("position")).toInteger();
        if (maximum != maximum_ || position < position_)
            bytesSent_ += position_; // a new transfer: the last one's bytes stay counted
        maximum_ = std::max<qint64>(maximum, 0);
        position_ = std::clamp<qint64>(position, 0, maximum_);
        if (position_ > 0 && state_ != JobState::Done && state_ != JobState::Failed)
            state_ = JobState::Sending;
    } else if (kind == QLatin1String("exit")) {
        exitStatus_ = o.value(QStringLiteral("status")).toInt(-1);
    } else if (kind.isEmpty()) {
        return false;
    }
    return true;
}

void FleetJob::finished(int fallbackStatus, double seconds) {
    if (!exitStatus_)
        exitStatus_ = fallbackStatus;
    seconds_ = seconds;
    state_ = *exitStatus_ == 0 ? JobState::Done : JobState::Failed;
}

int FleetJob::percent() const {
    if (maximum_ <= 0)
        return -1;
    return int(position_ * 100 / maximum_);
}

QJsonObject FleetJob::reportEntry() const {
    QJsonObject e{{QStringLiteral("address"), router_.address},
                  {QStringLiteral("romId"), router_.romId},
                  {QStringLiteral("line"), router_.lineNumber},
                  {QStringLiteral("state"), stateName(state_)},
                  {QStringLiteral("method"), method_},
                  {QStringLiteral("bytesSent"), bytesSent_ + position_},
                  {QStringLiteral("seconds"), qRound(seconds_ * 1000) / 1000.0},
                  {QStringLiteral("log"), QJsonArray::fromStringList(log_)}};
    e.insert(QStringLiteral("exitStatus"),
             exitStatus_ ? QJsonValue(*exitStatus_) : QJsonValue(QJsonValue::Null));
    e.insert(QStringLiteral("lastBox"),
             lastBox_ ? QJsonValue(QJsonObject{{QStringLiteral("caption"), lastBox_->first},
                                               {QStringLiteral("text"), lastBox_->second}})
                      : QJsonValue(QJsonValue::Null));
    return e;
}

} // namespace fleet

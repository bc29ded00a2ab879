#include "FleetJob.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>

namespace fleet {

namespace {
QString key(const char* name) {
    return QString::fromLatin1(name);
}

// A detail from the child, bounded; the display makes its control characters visible.
std::optional<QString> detail(const QJsonValue& v) {
    if (!v.isString())
        return std::nullopt;
    return v.toString().left(FleetJob::MaxDetailChars);
}

QJsonValue orNull(const std::optional<QString>& v) {
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}
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
    case JobState::Verifying:
        return QStringLiteral("verifying");
    case JobState::Upgraded:
        return QStringLiteral("upgraded");
    case JobState::Verified:
        return QStringLiteral("verified");
    case JobState::UpToDate:
        return QStringLiteral("up-to-date");
    case JobState::WouldUpgrade:
        return QStringLiteral("would-upgrade");
    case JobState::Unverified:
        return QStringLiteral("unverified");
    case JobState::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

bool FleetJob::isSuccess(JobState state) {
    return state == JobState::Upgraded || state == JobState::Verified ||
           state == JobState::UpToDate || state == JobState::WouldUpgrade;
}

void FleetJob::started() {
    state_ = JobState::Searching;
}

void FleetJob::addLog(const QString& text) {
    if (log_.size() < MaxLogLines)
        log_.append(text);
}

void FleetJob::setMethod(const QJsonValue& v) {
    // Only the program's own names: the display shows the method as it is.
    const QString m = v.toString();
    if (m == QLatin1String("HTTP") || m == QLatin1String("FTP") || m == QLatin1String("TFTP"))
        method_ = m;
}

// The bytes of the bar so far stay counted; a new bar starts at nothing.
void FleetJob::newTransfer() {
    bytesSent_ += position_;
    position_ = maximum_ = 0;
}

void FleetJob::onPhase(const QJsonObject& o) {
    const QString phase = o.value(key("phase")).toString();
    if (phase == QLatin1String("searching")) {
        state_ = JobState::Searching;
    } else if (phase == QLatin1String("logging in")) {
        state_ = JobState::LoggingIn;
    } else if (phase == QLatin1String("sending")) {
        state_ = JobState::Sending;
        setMethod(o.value(key("method")));
        newTransfer();
    } else if (phase == QLatin1String("verifying")) {
        state_ = JobState::Verifying;
    }
}

void FleetJob::onVerify(const QJsonObject& o) {
    const QString state = o.value(key("state")).toString();
    if (state != QLatin1String("back") && state != QLatin1String("timeout") &&
        state != QLatin1String("mismatch"))
        return;
    verifyState_ = state;
    if (const auto b = detail(o.value(key("before"))))
        before_ = b;
    after_ = detail(o.value(key("after")));
}

bool FleetJob::feedLine(const QByteArray& line) {
    if (line.size() > MaxLineBytes)
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    const QString kind = o.value(key("kind")).toString();
    if (kind.isEmpty())
        return false;
    // Nothing after the exit object, nor after the child ended, changes the outcome.
    if (exitStatus_ || isOutcome(state_))
        return true;
    const QString text = o.value(key("text")).toString();
    if (kind == QLatin1String("log")) {
        addLog(text);
    } else if (kind == QLatin1String("box")) {
        lastBox_ = {o.value(key("caption")).toString(), text};
    } else if (kind == QLatin1String("phase")) {
        onPhase(o);
    } else if (kind == QLatin1String("router")) {
        before_ = detail(o.value(key("detail")));
    } else if (kind == QLatin1String("verify")) {
        onVerify(o);
    } else if (kind == QLatin1String("skip")) {
        skipped_ = true;
        after_ = detail(o.value(key("detail")));
        if (!before_)
            before_ = after_;
    } else if (kind == QLatin1String("plan")) {
        setMethod(o.value(key("method")));
        plannedBytes_ = std::max<qint64>(o.value(key("bytes")).toInteger(), 0);
    } else if (kind == QLatin1String("progress")) {
        // Positions are file bytes. A bar that starts again (a second file, another method)
        // without a phase object between is a new transfer too.
        const qint64 maximum = std::max<qint64>(o.value(key("maximum")).toInteger(), 0);
        const qint64 position = std::clamp<qint64>(o.value(key("position")).toInteger(), 0, maximum);
        if (maximum != maximum_ || position < position_)
            newTransfer();
        maximum_ = maximum;
        position_ = position;
        if (position_ > 0)
            state_ = JobState::Sending;
    } else if (kind == QLatin1String("exit")) {
        exitStatus_ = o.value(key("status")).toInt(-1);
    }
    return true;
}

void FleetJob::finished(int fallbackStatus, double seconds) {
    if (!exitStatus_)
        exitStatus_ = fallbackStatus;
    seconds_ = seconds;
    const bool confirmed = verifyState_.isEmpty() || verifyState_ == QLatin1String("back");
    if (*exitStatus_ == UnconfirmedStatus || (*exitStatus_ == 0 && !confirmed))
        state_ = JobState::Unverified;
    else if (*exitStatus_ != 0)
        state_ = JobState::Failed;
    else if (skipped_)
        state_ = JobState::UpToDate;
    else if (plannedBytes_)
        state_ = JobState::WouldUpgrade;
    else if (verifyState_ == QLatin1String("back"))
        state_ = JobState::Verified;
    else
        state_ = JobState::Upgraded;
}

int FleetJob::percent() const {
    if (maximum_ <= 0)
        return -1;
    return int(position_ * 100 / maximum_);
}

QJsonObject FleetJob::reportEntry() const {
    QJsonObject e{{key("address"), router_.address},
                  {key("romId"), router_.romId},
                  {key("line"), router_.lineNumber},
                  {key("state"), stateName(state_)},
                  {key("method"), method_},
                  {key("bytesSent"), bytesSent()},
                  {key("seconds"), qRound(seconds_ * 1000) / 1000.0},
                  {key("before"), orNull(before_)},
                  {key("after"), orNull(after_)},
                  {key("log"), QJsonArray::fromStringList(log_)}};
    e.insert(key("exitStatus"), exitStatus_ ? QJsonValue(*exitStatus_) : QJsonValue(QJsonValue::Null));
    e.insert(key("lastBox"),
             lastBox_ ? QJsonValue(QJsonObject{{key("caption"), lastBox_->first},
                                               {key("text"), lastBox_->second}})
                      : QJsonValue(QJsonValue::Null));
    if (plannedBytes_)
        e.insert(key("plannedBytes"), *plannedBytes_);
    return e;
}

} // namespace fleet

#include "ui/RunEvents.h"

#include <QJsonArray>
#include <QJsonValue>

namespace fw::RunEvents {

void phase(const Sinks& sinks, const QString& name, const QString& method) {
    QJsonObject o{{QStringLiteral("phase"), name}};
    if (!method.isEmpty())
        o.insert(QStringLiteral("method"), method);
    sinks.event(QStringLiteral("phase"), o);
}

void router(const Sinks& sinks, const QString& address, const QString& romId,
            const QString& detail) {
    sinks.event(QStringLiteral("router"), {{QStringLiteral("address"), address},
                                           {QStringLiteral("romId"), romId},
                                           {QStringLiteral("detail"), detail}});
}

void verify(const Sinks& sinks, const QString& state, const QString& before,
            const std::optional<QString>& after, int seconds) {
    sinks.event(QStringLiteral("verify"),
                {{QStringLiteral("state"), state},
                 {QStringLiteral("before"), before},
                 {QStringLiteral("after"), after ? QJsonValue(*after) : QJsonValue()},
                 {QStringLiteral("seconds"), seconds}});
}

void skip(const Sinks& sinks, const QString& detail) {
    sinks.event(QStringLiteral("skip"), {{QStringLiteral("detail"), detail}});
}

void plan(const Sinks& sinks, const QString& method, const QList<PlannedFile>& files) {
    QJsonArray list;
    qint64 total = 0;
    for (const PlannedFile& f : files) {
        list.append(
            QJsonObject{{QStringLiteral("name"), f.name}, {QStringLiteral("bytes"), f.bytes}});
        total += f.bytes;
    }
    sinks.event(QStringLiteral("plan"), {{QStringLiteral("method"), method},
                                         {QStringLiteral("files"), list},
                                         {QStringLiteral("bytes"), total}});
}

} // namespace fw::RunEvents

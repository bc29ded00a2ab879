#pragma once
// The run's structured reports, built in one place so every front and fwfleet read the same
// fields: the phase as the run moves, the router to upgrade, the verification's outcome, a
// router left alone because it is current, and a dry run's plan. Sent through Sinks::events.

#include "ui/Sinks.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace fw::RunEvents {

// Phase names of the "phase" object.
inline const QString Searching = QStringLiteral("searching");
inline const QString LoggingIn = QStringLiteral("logging in");
inline const QString Sending = QStringLiteral("sending");
inline const QString Verifying = QStringLiteral("verifying");

// States of the "verify" object.
inline const QString Back = QStringLiteral("back");
inline const QString Timeout = QStringLiteral("timeout");
inline const QString Mismatch = QStringLiteral("mismatch");

struct PlannedFile {
    QString name;
    qint64 bytes = 0;
};

// `method` ("HTTP", "FTP", "TFTP") only for the sending phase.
void phase(const Sinks& sinks, const QString& name, const QString& method = {});
void router(const Sinks& sinks, const QString& address, const QString& romId,
            const QString& detail);
void verify(const Sinks& sinks, const QString& state, const QString& before,
            const std::optional<QString>& after, int seconds);
void skip(const Sinks& sinks, const QString& detail);
void plan(const Sinks& sinks, const QString& method, const QList<PlannedFile>& files);

} // namespace fw::RunEvents

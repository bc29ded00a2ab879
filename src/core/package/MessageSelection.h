#pragma once
// Which message files are shown where: the selection rules by mode, attribute, mode bytes,
// message name and ROM identifier.

#include "ui/Sinks.h"

#include <QByteArray>
#include <QString>

namespace fw {

enum class MessageMode : qint32 { Menu = 100, Ftp = 101, Tftp = 102 };

// Parses `fileBytes` as a message record and shows it through `window` (modally, returning when
// it has closed) when the rules select it; writes the reasons for skipping it to `log` (may be
// null). A record that cannot be parsed is never shown; `log` says why.
void SelectAndShow(const QByteArray& fileBytes, quint16 attribute, MessageMode mode,
                   const QString& romId, const QString& path, LogSink* log,
                   MessageWindowSink* window);

} // namespace fw

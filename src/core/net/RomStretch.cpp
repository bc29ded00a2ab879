#include "net/RomStretch.h"

namespace fw {

QString RomStretch::cutShortText(qint64 received, qint64 length) {
    return QStringLiteral("ROM data cut short: %1 of %2 bytes").arg(received).arg(length);
}

QString RomStretch::offeredMoreText(qint64 extra, qint64 length) {
    return QStringLiteral("ROM data stopped at the %1 bytes asked for; the router offered %2 more, "
                          "not written")
        .arg(length)
        .arg(extra);
}

} // namespace fw

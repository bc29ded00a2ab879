#include "transfer/TftpUpgradeService.h"

#include "transfer/Phase.h"

namespace fw {

const QString UnavailableTftpUpgrade::NotAvailableText =
    QStringLiteral("TFTP upgrade is not available in this build");

int UnavailableTftpUpgrade::TftpUpgrade(StopCounter& stopCounter, std::atomic<qint16>& phase,
                                        const Sinks& sinks, const ExtractionList&, const QString&,
                                        const QString&, qint32, qint32& fileOpenFlag) {
    sinks.logLine(NotAvailableText);
    fileOpenFlag = 0;
    phase = Phase::TftpFailed;
    stopCounter = StopCode::TftpRejected;
    return -1;
}

} // namespace fw

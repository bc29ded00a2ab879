#include "transfer/FtpUpgradeService.h"

namespace fw {

const QString UnavailableFtpUpgrade::NotAvailableText =
    QStringLiteral("FTP upgrade is not available in this build");

int UnavailableFtpUpgrade::FtpUpgrade(StopCounter&, const Sinks&, const ExtractionList&,
                                      const QString&, const QString&, qint32, const QString&) {
    // -1 is "any other failure": the controller falls back to HTTP.
    resultText_ = NotAvailableText;
    return -1;
}

} // namespace fw

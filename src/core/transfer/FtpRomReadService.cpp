#include "transfer/FtpRomReadService.h"

namespace fw {

const QString UnavailableFtpRomRead::NotAvailableText =
    QStringLiteral("FTP ROM read is not available in this build");

int UnavailableFtpRomRead::FtpGetRom(const Sinks&, const QString&, const QString&, const QString&,
                                     const QString&) {
    resultText_ = NotAvailableText;
    return -1;
}

} // namespace fw

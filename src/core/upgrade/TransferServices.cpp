#include "upgrade/TransferServices.h"

#include "upgrade/MainView.h"
#include "upgrade/UpgradeForm.h"

namespace fw {

const QString UnavailableFtpUpgrade::NotAvailableText =
    QStringLiteral("FTP upgrade is not available in this build");
const QString UnavailableTftpUpgrade::NotAvailableText =
    QStringLiteral("TFTP upgrade is not available in this build");
const QString UnavailableFtpRomRead::NotAvailableText =
    QStringLiteral("FTP ROM read is not available in this build");
const QString UnavailableRomReadBack::NotAvailableText =
    QStringLiteral("ROM read-back is not available in this build");

int UnavailableFtpUpgrade::FtpUpgrade(StopCounter&, const Sinks&, const ExtractionList&,
                                      const QString&, const QString&, qint32, const QString&) {
    // -1 is "any other failure": the controller falls back to HTTP.
    resultText_ = NotAvailableText;
    return -1;
}

int UnavailableTftpUpgrade::TftpUpgrade(StopCounter& stopCounter, std::atomic<qint16>& phase,
                                        const Sinks& sinks, const ExtractionList&, const QString&,
                                        const QString&, qint32, qint32& fileOpenFlag) {
    sinks.logLine(NotAvailableText);
    fileOpenFlag = 0;
    phase = Phase::TftpFailed;
    stopCounter = StopCode::TftpRejected;
    return -1;
}

int UnavailableFtpRomRead::FtpGetRom(const Sinks&, const QString&, const QString&, const QString&,
                                     const QString&) {
    resultText_ = NotAvailableText;
    return -1;
}

void UnavailableRomReadBack::RomReadBack(UpgradeForm& form) {
    MainView& view = form.view();
    view.stopStopTimer();
    form.GetMode = false;
    const Sinks sinks = view.sinks();
    sinks.logLine(NotAvailableText);
    form.exitStatus = ExitStatus::Failed;
    sinks.showBox(NotAvailableText, QStringLiteral("Failure"), BoxButtons::Ok);
    view.closeWindow();
}

} // namespace fw

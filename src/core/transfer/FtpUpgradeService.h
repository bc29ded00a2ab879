#pragma once
// The FTP upgrade engine as the controller sees it (FtpUpgradeEngine implements it), and the stand-in
// used when the engine is missing. Blocks its caller but keeps the event loop turning. GUI thread.

#include "transfer/ExtractionList.h"
#include "transfer/StopCounter.h"
#include "ui/Sinks.h"

#include <QString>
#include <QtGlobal>

namespace fw {

class FtpUpgradeService {
public:
    virtual ~FtpUpgradeService() = default;
    // 1 every chosen file stored; -2 password refused; -4 upgrade file error; -1 other failure.
    virtual int FtpUpgrade(StopCounter& stopCounter, const Sinks& sinks,
                           const ExtractionList& files, const QString& routerIp,
                           const QString& romId, qint32 routerType, const QString& password) = 0;
    // The dry run's login: connects, logs in with the password and leaves, storing nothing.
    // 1 logged in; -2 password refused; -1 other failure (resultText says which). An engine
    // without it fails, as the upgrade would.
    virtual int FtpLoginCheck(const Sinks&, const QString&, const QString&) { return -1; }
    virtual QString resultText() const = 0;
    virtual QString sentSections() const = 0;
    // Ends a call in progress at its next wait (the watchdog is ending the program).
    virtual void cancel() {}
};

// Says plainly that the engine is missing and never reports success.
class UnavailableFtpUpgrade final : public FtpUpgradeService {
public:
    static const QString NotAvailableText; // "FTP upgrade is not available in this build"
    int FtpUpgrade(StopCounter& stopCounter, const Sinks& sinks, const ExtractionList& files,
                   const QString& routerIp, const QString& romId, qint32 routerType,
                   const QString& password) override;
    QString resultText() const override { return resultText_; }
    QString sentSections() const override { return {}; }

private:
    QString resultText_;
};

} // namespace fw

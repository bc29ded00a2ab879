#pragma once
// The TFTP recovery engine as the controller sees it (TftpRecoveryEngine implements it), and the stand-in
// used when the engine is missing. Returns at once; reports through the stop counter (1000
// finished, 1001 rebooting, 1002 rejected) and the phase (12 succeeded, 13 failed). GUI thread.

#include "transfer/ExtractionList.h"
#include "transfer/StopCounter.h"
#include "ui/Sinks.h"

#include <QString>
#include <QtGlobal>
#include <atomic>

namespace fw {

class TftpUpgradeService {
public:
    virtual ~TftpUpgradeService() = default;
    // 1 the first write request was sent; -1 nothing could be started (the failure path ran).
    virtual int TftpUpgrade(StopCounter& stopCounter, std::atomic<qint16>& phase,
                            const Sinks& sinks, const ExtractionList& files,
                            const QString& routerIp, const QString& romId, qint32 routerType,
                            qint32& fileOpenFlag) = 0;
    virtual QString sentSections() const = 0;
    // Stops a transfer in progress at once (the program is closing); it reports nothing more.
    virtual void cancel() {}
};

// Follows the engine's own failure path: phase 13, stop counter 1002, result -1.
class UnavailableTftpUpgrade final : public TftpUpgradeService {
public:
    static const QString NotAvailableText; // "TFTP upgrade is not available in this build"
    int TftpUpgrade(StopCounter& stopCounter, std::atomic<qint16>& phase, const Sinks& sinks,
                    const ExtractionList& files, const QString& routerIp, const QString& romId,
                    qint32 routerType, qint32& fileOpenFlag) override;
    QString sentSections() const override { return {}; }
};

} // namespace fw

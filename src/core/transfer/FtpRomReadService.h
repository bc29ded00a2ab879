#pragma once
// The FTP ROM read (FtpUpgradeEngine's FtpGetRom) that the read-back tries before HTTP, and the stand-in
// used when the engine is missing. Blocks its caller but keeps the event loop turning. GUI thread.

#include "ui/Sinks.h"

#include <QString>

namespace fw {

class FtpRomReadService {
public:
    virtual ~FtpRomReadService() = default;
    // The data ended short of the length asked for; the bytes received are kept.
    static constexpr int CutShort = -5;
    // 1 file received; -2 password refused; -3 unexpected failure during the retrieval;
    // CutShort; -1 any other failure. resultText() is set on every failure.
    virtual int FtpGetRom(const Sinks& sinks, const QString& routerIp, const QString& password,
                          const QString& remoteName, const QString& localPath) = 0;
    virtual QString resultText() const = 0;
};

// -1 ("any other failure"): the read-back goes on with HTTP.
class UnavailableFtpRomRead final : public FtpRomReadService {
public:
    static const QString NotAvailableText; // "FTP ROM read is not available in this build"
    int FtpGetRom(const Sinks& sinks, const QString& routerIp, const QString& password,
                  const QString& remoteName, const QString& localPath) override;
    QString resultText() const override { return resultText_; }

private:
    QString resultText_;
};

} // namespace fw

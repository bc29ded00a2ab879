#pragma once
// The transfer engines the upgrade controller calls besides HTTP: the FTP upgrade, the TFTP
// recovery start and the ROM read-back. Each is an interface with a stand-in that says plainly
// that the engine is missing and can never report success. GUI thread.

#include "ProcessState.h"
#include "package/ExtractionList.h"
#include "ui/Sinks.h"

#include <QString>
#include <QtGlobal>
#include <atomic>

namespace fw {

class UpgradeForm;

// The FTP upgrade engine (the FTP window). Blocks its caller but keeps the event loop turning.
class FtpUpgradeService {
public:
    virtual ~FtpUpgradeService() = default;
    // 1 every chosen file stored; -2 password refused; -4 upgrade file error; -1 other failure.
    virtual int FtpUpgrade(StopCounter& stopCounter, const Sinks& sinks,
                           const ExtractionList& files, const QString& routerIp,
                           const QString& romId, qint32 routerType, const QString& password) = 0;
    virtual QString resultText() const = 0;
    virtual QString sentSections() const = 0;
    // Ends a call in progress at its next wait (the watchdog is ending the program).
    virtual void cancel() {}
};

// The TFTP recovery engine (the TFTP window). Returns at once; reports through the stop counter
// (1000 finished, 1001 rebooting, 1002 rejected) and the phase (12 succeeded, 13 failed).
class TftpUpgradeService {
public:
    virtual ~TftpUpgradeService() = default;
    // 1 the first write request was sent; -1 nothing could be started (the failure path ran).
    virtual int TftpUpgrade(StopCounter& stopCounter, std::atomic<qint16>& phase,
                            const Sinks& sinks, const ExtractionList& files,
                            const QString& routerIp, const QString& romId, qint32 routerType,
                            qint32& fileOpenFlag) = 0;
    virtual QString sentSections() const = 0;
};

// The FTP ROM read (the FTP window's FtpGetRom) that the read-back tries before HTTP. Blocks its
// caller but keeps the event loop turning. GUI thread.
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

// The ROM read-back run from the first StopTimer tick while GetMode is set.
class RomReadBackService {
public:
    virtual ~RomReadBackService() = default;
    virtual void RomReadBack(UpgradeForm& form) = 0;
};

// Stand-ins used until the engines exist.
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

// Follows the engine's own failure path: phase 13, stop counter 1002, result -1.
class UnavailableTftpUpgrade final : public TftpUpgradeService {
public:
    static const QString NotAvailableText; // "TFTP upgrade is not available in this build"
    int TftpUpgrade(StopCounter& stopCounter, std::atomic<qint16>& phase, const Sinks& sinks,
                    const ExtractionList& files, const QString& routerIp, const QString& romId,
                    qint32 routerType, qint32& fileOpenFlag) override;
    QString sentSections() const override { return {}; }
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

// Stops the timer, clears GetMode, reports, marks the run failed and closes the window.
class UnavailableRomReadBack final : public RomReadBackService {
public:
    static const QString NotAvailableText; // "ROM read-back is not available in this build"
    void RomReadBack(UpgradeForm& form) override;
};

// The engines the controller uses; null members fall back to the stand-ins.
struct TransferServices {
    FtpUpgradeService* ftp = nullptr;
    TftpUpgradeService* tftp = nullptr;
    RomReadBackService* readBack = nullptr;
};

} // namespace fw

#pragma once
// The engines the upgrade controller calls besides HTTP: the FTP upgrade, the TFTP recovery start
// (both through the contract in transfer/) and the ROM read-back. GUI thread.

#include "transfer/FtpRomReadService.h"
#include "transfer/FtpUpgradeService.h"
#include "transfer/TftpUpgradeService.h"

#include <QString>

namespace fw {

struct RunState;
class RunHost;

// The ROM read-back run from the first StopTimer tick while GetMode is set.
class RomReadBackService {
public:
    virtual ~RomReadBackService() = default;
    virtual void RomReadBack(RunState& run, RunHost& host) = 0;
};

// Stops the timer, clears GetMode, reports, marks the run failed and closes the window.
class UnavailableRomReadBack final : public RomReadBackService {
public:
    static const QString NotAvailableText; // "ROM read-back is not available in this build"
    void RomReadBack(RunState& run, RunHost& host) override;
};

// The engines the controller uses; null members fall back to the stand-ins.
struct TransferServices {
    FtpUpgradeService* ftp = nullptr;
    TftpUpgradeService* tftp = nullptr;
    RomReadBackService* readBack = nullptr;
};

} // namespace fw

#pragma once
// The upgrade controller: Upgrade pressed or started automatically, the echo test, the login
// check, the method loop (TFTP, HTTP, FTP with fall-back), the HTTP worker thread and the
// StopTimer watchdog. GUI thread; the worker hands every report back to it.

#include <QString>
#include <QtGlobal>

namespace fw {

class UpgradeForm;

class UpgradeController {
public:
    explicit UpgradeController(UpgradeForm& form);
    ~UpgradeController();
    UpgradeController(const UpgradeController&) = delete;
    UpgradeController& operator=(const UpgradeController&) = delete;

    void UpgradeClick();
    void StopTimerTimer();

    // Process-wide router values of the current upgrade (written before the worker starts).
    QString RouterIP;
    QString RouterRomId;
    qint32 RouterType = 0;
    qint32 LoginPort = 0;
    bool BasicAuthNeeded = false;

private:
    UpgradeForm& form_;
};

} // namespace fw

#include "upgrade/UpgradeForm.h"

#include "search/DeviceSearch.h"
#include "upgrade/MainView.h"
#include "upgrade/UpgradeController.h"

namespace fw {

UpgradeForm::UpgradeForm(MainView& view, DeviceSearch& search, Config config)
    : view_(view), search_(search), config_(std::move(config)) {
    controller_ = std::make_unique<UpgradeController>(*this);
}

UpgradeForm::~UpgradeForm() = default;

void UpgradeForm::FormClose() {
    // Destroying the reader deletes the extracted files.
    package.reset();
}

void UpgradeForm::UpgradeClick() {
    controller_->UpgradeClick();
}

void UpgradeForm::StopTimerTimer() {
    controller_->StopTimerTimer();
}

void UpgradeForm::log(const QString& line) {
    view_.sinks().logLine(line);
}

void UpgradeForm::probe(const QString& address) {
    if (config_.probe)
        config_.probe(address);
    else
        search_.SearchDevices(address);
}

bool UpgradeForm::transferRunning() const {
    const qint16 p = UpgradePhase.load();
    return p == Phase::TftpRunning || p == Phase::HttpRunning || p == Phase::FtpRunning;
}

bool UpgradeForm::idle() const {
    return !transferRunning() && !view_.stopTimerActive() && !controller_->busy();
}

int UpgradeForm::idleExitStatus() const {
    if (exitStatus != ExitStatus::Ok)
        return exitStatus;
    if (ReadBackSucceeded)
        return ExitStatus::Ok;
    switch (UpgradePhase.load()) {
    case Phase::TftpSucceeded:
    case Phase::HttpAccepted:
    case Phase::FtpSucceeded:
        return ExitStatus::Ok;
    case Phase::TftpFailed:
    case Phase::HttpFailed:
    case Phase::FtpFailed:
        return ExitStatus::Failed;
    default:
        return ExitStatus::NeedsPerson;
    }
}

void UpgradeForm::markFailedExit() {
    if (exitStatus == ExitStatus::Ok)
        exitStatus = ExitStatus::Failed;
}

} // namespace fw

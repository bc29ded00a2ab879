#include "upgrade/MainWindowLogic.h"

#include "search/DeviceSearch.h"
#include "ui/RunEvents.h"
#include "upgrade/MainView.h"
#include "upgrade/UpgradeController.h"

namespace fw {

MainWindowLogic::MainWindowLogic(MainView& view, DeviceSearch& search, Config config)
    : view_(view), search_(search), config_(std::move(config)) {
    controller_ = std::make_unique<UpgradeController>(*this, *this);
}

MainWindowLogic::~MainWindowLogic() = default;

void MainWindowLogic::FormClose() {
    // A wait for the router ends with the window; the run stays unconfirmed.
    controller_->stopVerify();
    // Destroying the reader deletes the extracted files.
    package.reset();
}

void MainWindowLogic::UpgradeClick() {
    controller_->UpgradeClick();
}

void MainWindowLogic::StopTimerTimer() {
    controller_->StopTimerTimer();
}

void MainWindowLogic::log(const QString& line) {
    view_.sinks().logLine(line);
}

void MainWindowLogic::probe(const QString& address) {
    RunEvents::phase(view_.sinks(), RunEvents::Searching);
    if (config_.probe)
        config_.probe(address);
    else
        search_.SearchDevices(address);
}

bool MainWindowLogic::idle() const {
    return !transferRunning() && !view_.stopTimerActive() && !controller_->busy();
}

void MainWindowLogic::showLogIfEnabled() {
    if (!logEnabled())
        return;
    SetLayout(6);
    LogShown = true;
    ListDetail = 222;
}

void MainWindowLogic::refreshRouters() {
    IPReFreshClick();
    IPComBoxChange();
}

} // namespace fw

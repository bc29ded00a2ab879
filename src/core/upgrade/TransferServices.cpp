#include "upgrade/TransferServices.h"

#include "transfer/RunState.h"
#include "upgrade/MainView.h"
#include "upgrade/RunHost.h"

namespace fw {

const QString UnavailableRomReadBack::NotAvailableText =
    QStringLiteral("ROM read-back is not available in this build");

void UnavailableRomReadBack::RomReadBack(RunState& run, RunHost& host) {
    MainView& view = host.view();
    view.stopStopTimer();
    run.GetMode = false;
    const Sinks sinks = view.sinks();
    sinks.logLine(NotAvailableText);
    run.exitStatus = ExitStatus::Failed;
    sinks.showBox(NotAvailableText, QStringLiteral("Failure"), BoxButtons::Ok);
    view.closeWindow();
}

} // namespace fw

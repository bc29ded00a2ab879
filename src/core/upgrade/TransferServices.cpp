#include "upgrade/TransferServices.h"

#include "upgrade/MainView.h"
#include "upgrade/UpgradeForm.h"

namespace fw {

const QString UnavailableRomReadBack::NotAvailableText =
    QStringLiteral("ROM read-back is not available in this build");

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

#include "transfer/UpgradeOptions.h"

#include <QtGlobal>

namespace fw {

UpgradeOptions UpgradeOptions::fromEnvironment() {
    UpgradeOptions o;
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("FWUPGRADE_VERIFY", &ok);
    if (ok && seconds > 0 && seconds <= MaxVerifySeconds)
        o.verifySeconds = seconds;
    o.targetVersion = qEnvironmentVariable("FWUPGRADE_TARGET_VERSION");
    o.dryRun = qEnvironmentVariableIntValue("FWUPGRADE_DRY_RUN") == 1;
    return o;
}

} // namespace fw

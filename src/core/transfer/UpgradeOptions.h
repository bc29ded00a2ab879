#pragma once
// What a run does around its transfer, from the environment: wait for the router to come back
// (FWUPGRADE_VERIFY=SECONDS), leave a router alone that already runs a version
// (FWUPGRADE_TARGET_VERSION=TEXT), stop before the first byte (FWUPGRADE_DRY_RUN=1).

#include <QString>

namespace fw {

struct UpgradeOptions {
    // The longest wait a run accepts; anything larger is a typo.
    static constexpr int MaxVerifySeconds = 3600;

    int verifySeconds = 0; // 0: no verification
    QString targetVersion; // empty: none
    bool dryRun = false;

    // Unset, non-numeric or out-of-range values leave the setting off.
    static UpgradeOptions fromEnvironment();
};

} // namespace fw

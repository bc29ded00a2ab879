#include "transfer/RunState.h"

namespace fw {

bool RunState::transferRunning() const {
    const qint16 p = UpgradePhase.load();
    return p == Phase::TftpRunning || p == Phase::HttpRunning || p == Phase::FtpRunning;
}

int RunState::outcome() const {
    if (exitStatus != ExitStatus::Ok || outcomeDecided)
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

} // namespace fw

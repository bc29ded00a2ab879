#pragma once
// UpgradePhase values: which engine runs or how it ended. Written by the engines and the HTTP
// worker, read by the controller's StopTimer. Any thread (the phase itself is atomic).

#include <QtGlobal>

namespace fw {

namespace Phase {
inline constexpr qint16 TftpRunning = 11, TftpSucceeded = 12, TftpFailed = 13;
inline constexpr qint16 HttpRunning = 121, HttpAccepted = 122, HttpFailed = 123;
inline constexpr qint16 FtpRunning = 131, FtpSucceeded = 132, FtpFailed = 133;
} // namespace Phase

} // namespace fw

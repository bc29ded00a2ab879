#pragma once
// UpgradeMethod values: the engine the controller starts. The login check chooses FTP for old
// firmware, or HTTP when FTP failed the time before (HttpAfterFtp). GUI thread.

#include <QtGlobal>

namespace fw {

namespace Method {
inline constexpr qint16 None = 0, Tftp = 1, Http = 2, Ftp = 3, HttpAfterFtp = 133;
} // namespace Method

} // namespace fw

#include "RoutersFileMode.h"

#include <sys/stat.h>

namespace fleet {

QString routersFileModeWarning(int fd, const QString& path) {
    struct stat st {};
    // The open file itself, not whatever the name points to by now.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & (S_IRGRP | S_IROTH)))
        return {};
    const QString mode = QStringLiteral("%1").arg(uint(st.st_mode & 07777), 4, 8, QLatin1Char('0'));
    // One pass: a "%2" in the path stays as it is.
    return QStringLiteral("fwfleet: %1 is readable by other users (mode %2); chmod 600 %1")
        .arg(path, mode);
}

} // namespace fleet

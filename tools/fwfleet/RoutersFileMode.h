#pragma once
// The ROUTERS file holds passwords: one that group or others may read is warned about, as ssh
// does for a key it still accepts, and the run goes on. Any thread.

#include <QString>

namespace fleet {

// The warning line (without its line end) for the open file `fd` named `path` on the command
// line, or an empty text when only its owner may read it (or it cannot be told).
QString routersFileModeWarning(int fd, const QString& path);

} // namespace fleet

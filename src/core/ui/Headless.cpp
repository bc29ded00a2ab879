#include "ui/Headless.h"

#include <QByteArray>
#include <QtGlobal>

namespace fw {
bool headlessRun() {
    static const bool on = qEnvironmentVariableIntValue("FWUPGRADE_HEADLESS") == 1;
    return on;
}

bool jsonLinesOutput() {
    static const bool on = headlessRun() && qgetenv("FWUPGRADE_OUTPUT") == "jsonl";
    return on;
}
} // namespace fw

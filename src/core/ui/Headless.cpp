#include "ui/Headless.h"

#include <QtGlobal>

namespace fw {
bool headlessRun() {
    static const bool on = qEnvironmentVariableIntValue("FWUPGRADE_HEADLESS") == 1;
    return on;
}
} // namespace fw

#pragma once
// Waits until more than `ms` milliseconds have passed on the monotonic clock; with `pump` set,
// pending events of the calling thread are processed on every pass (through EventWait). Any
// thread.

#include <QtGlobal>

namespace fw {

void WaitMs(qint64 ms, bool pump);

} // namespace fw

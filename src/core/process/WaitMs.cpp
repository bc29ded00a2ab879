#include "process/WaitMs.h"

#include "process/EventWait.h"

#include <QElapsedTimer>

namespace fw {

namespace {
// One pass of the polling loop: short enough to keep the wait within a millisecond or two, long
// enough not to spin a core.
constexpr std::chrono::microseconds PollSlice{500};
} // namespace

void WaitMs(qint64 ms, bool pump) {
    // Strictly more than `ms` whole milliseconds; the condition itself ends the wait.
    QElapsedTimer clock;
    clock.start();
    EventWait::until([&] { return clock.elapsed() > ms; }, EventWait::Clock::time_point::max(), {},
                     pump ? EventWait::Pump::AllEvents : EventWait::Pump::None, PollSlice);
}

} // namespace fw

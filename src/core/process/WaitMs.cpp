#include "process/WaitMs.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <thread>

namespace fw {

namespace {
// One pass of the polling loop: short enough to keep the wait within a millisecond or two, long
// enough not to spin a core.
constexpr std::chrono::microseconds PollSlice{500};
} // namespace

void WaitMs(qint64 ms, bool pump) {
    QElapsedTimer clock;
    clock.start();
    const bool canPump = pump && QCoreApplication::instance() != nullptr;
    while (clock.elapsed() <= ms) {
        if (canPump)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(PollSlice);
    }
}

} // namespace fw

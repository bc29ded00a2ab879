#include "process/EventWait.h"

#include <QCoreApplication>
#include <QEvent>

#include <thread>

namespace fw {

void EventWait::pass(Pump pump, std::chrono::microseconds slice, const Block& block) {
    if (block)
        block(slice);
    else
        std::this_thread::sleep_for(slice);
    if (pump == Pump::None || !QCoreApplication::instance())
        return;
    if (pump == Pump::PostedCalls)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    else
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

EventWait::End EventWait::until(const std::function<bool()>& done, Clock::time_point deadline,
                                const std::function<bool()>& canceled, Pump pump,
                                std::chrono::microseconds slice, const Block& block) {
    for (;;) {
        if (done && done())
            return End::Done;
        if (canceled && canceled())
            return End::Canceled;
        if (Clock::now() >= deadline)
            return End::TimedOut;
        pass(pump, slice, block);
    }
}

} // namespace fw

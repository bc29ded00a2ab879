#include "support/EventPump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace fw::test {

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound,
               std::chrono::milliseconds nap) {
    QDeadlineTimer deadline(bound);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(static_cast<unsigned long>(nap.count()));
    }
    return true;
}

} // namespace fw::test

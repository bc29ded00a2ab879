#include "DiscoveryThread.h"

#include "Discovery.h"

namespace routersim {

DiscoveryThread::DiscoveryThread(SimConfig config) : config_(std::move(config)) {}

DiscoveryThread::~DiscoveryThread() {
    stop();
}

bool DiscoveryThread::start(QString* error) {
    if (anchor_)
        return true;
    thread_.start();
    anchor_ = new QObject;
    anchor_->moveToThread(&thread_);
    bool ok = false;
    QString why;
    QMetaObject::invokeMethod(
        anchor_,
        [this, &ok, &why] {
            discovery_ = new Discovery(config_, &transcript_);
            ok = discovery_->start(&why);
        },
        Qt::BlockingQueuedConnection);
    if (!ok) {
        *error = why;
        stop();
    }
    return ok;
}

void DiscoveryThread::stop() {
    if (!anchor_)
        return;
    QMetaObject::invokeMethod(
        anchor_,
        [this] {
            delete discovery_;
            discovery_ = nullptr;
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    // The thread has ended: nothing else touches the anchor now.
    delete anchor_;
    anchor_ = nullptr;
}

} // namespace routersim

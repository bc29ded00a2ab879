#pragma once
// The simulator's ICMP echo responder: a raw socket sees every echo request in the namespace
// (the kernel's own echo is switched off there), writes it to the transcript and answers it from
// the router's address when that router has echo=yes. Lives on the thread that starts it.

#include "SimConfig.h"

#include <QList>
#include <QObject>

class QSocketNotifier;

namespace routersim {

class Transcript;

class DiscoveryEcho : public QObject {
    Q_OBJECT
public:
    DiscoveryEcho(const SimConfig& config, Transcript* transcript, QObject* parent = nullptr);
    ~DiscoveryEcho() override;

    // Opens the sockets; false with *error set when raw sockets are refused.
    bool start(QString* error);

    // The echo reply to an ICMP echo request (header and data), or empty when it is none.
    static QByteArray replyTo(const QByteArray& icmpRequest);

private:
    void readPending();

    const SimConfig& config_;
    Transcript* transcript_;
    int listenFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QList<int> sendFds_; // per router; -1 for routers without echo
};

} // namespace routersim

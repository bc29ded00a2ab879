#pragma once
// The TFTP engine's only I/O: one UDP endpoint bound to 0.0.0.0 and a port the system chooses,
// datagrams out to an address and port, and every datagram that arrives handed to a callback
// with its sender. Lives on the GUI thread (the thread that creates it).

#include "net/UdpEndpoint.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

namespace fw {

class TftpUdpLink : public QObject {
    Q_OBJECT
public:
    using Receiver =
        std::function<void(const QByteArray& datagram, const QString& fromAddress, quint16 port)>;

    // Datagrams read per readiness notification; more wait for the next one.
    static constexpr int MaxDrainPerNotification = 64;

    explicit TftpUdpLink(Receiver receiver, QObject* parent = nullptr);

    // Binds the endpoint unless it is bound already; false with lastError() set.
    bool open();
    bool isOpen() const { return endpoint_.isOpen(); }
    quint16 localPort() const { return endpoint_.boundPort(); }
    QString lastError() const { return endpoint_.lastError(); }

    bool send(const QByteArray& datagram, const QString& host, quint16 port);

private:
    void drain();

    UdpEndpoint endpoint_;
    Receiver receiver_;
};

} // namespace fw

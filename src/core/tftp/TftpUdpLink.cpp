#include "tftp/TftpUdpLink.h"

#include "tftp/TftpPacket.h"

#include <array>

namespace fw {

TftpUdpLink::TftpUdpLink(Receiver receiver, QObject* parent)
    : QObject(parent), receiver_(std::move(receiver)) {
    endpoint_.setNotify(true);
    connect(&endpoint_, &UdpEndpoint::readyRead, this, &TftpUdpLink::drain);
}

bool TftpUdpLink::open() {
    if (endpoint_.isOpen())
        return true;
    endpoint_.setNotify(true);
    return endpoint_.open();
}

bool TftpUdpLink::send(const QByteArray& datagram, const QString& host, quint16 port) {
    if (!open())
        return false;
    endpoint_.setRemoteAddress(host);
    endpoint_.setRemotePort(port);
    return endpoint_.send(datagram);
}

void TftpUdpLink::drain() {
    std::array<char, TftpPacket::MaxDatagram> buffer{};
    for (int i = 0; i < MaxDrainPerNotification && endpoint_.isOpen(); ++i) {
        QString from;
        quint16 port = 0;
        const int n = endpoint_.receiveFrom(buffer.data(), int(buffer.size()), &from, &port);
        if (n == 0)
            return; // nothing waits
        if (n < 0)
            continue; // empty or oversized (consumed), or a transient error
        if (receiver_)
            receiver_(QByteArray(buffer.data(), n), from, port);
    }
}

} // namespace fw

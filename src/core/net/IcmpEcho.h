#pragma once
// One ICMP echo at a time (the search window's Ping1): 56 data bytes, TTL 64, waits at most
// 150 ms for the reply. An unprivileged ICMP datagram socket is tried first, a raw socket
// second. Blocks the calling thread for up to the time-out; used from one thread at a time.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <chrono>

namespace fw {

class IcmpEcho {
public:
    static constexpr int DataSize = 56;
    static constexpr int Ttl = 64;
    static constexpr std::chrono::milliseconds DefaultTimeout{150};

    enum class SocketKind { None, Datagram, Raw };

    IcmpEcho() = default;
    ~IcmpEcho();
    IcmpEcho(const IcmpEcho&) = delete;
    IcmpEcho& operator=(const IcmpEcho&) = delete;

    // Dotted IPv4 text or a host name; read back unchanged.
    void setAddress(const QString& address) { address_ = address; }
    QString address() const { return address_; }
    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    std::chrono::milliseconds timeout() const { return timeout_; }

    // Opens the echo socket; false when the platform allows neither kind (openError() says why).
    bool open();
    bool isOpen() const { return fd_ >= 0; }
    SocketKind socketKind() const { return kind_; }
    QString openError() const { return openError_; }

    // Sends one echo request to address() and waits for its reply: the number of replies
    // received (0 or 1). An address that cannot be resolved, or a closed socket, gives 0.
    int ping();

    // The 56 data bytes: a fixed ASCII text, then blanks.
    static QByteArray payload();
    // The Internet checksum (RFC 1071) of the bytes.
    static quint16 checksum(const QByteArray& bytes);

private:
    void close();

    QString address_;
    std::chrono::milliseconds timeout_ = DefaultTimeout;
    int fd_ = -1;
    SocketKind kind_ = SocketKind::None;
    QString openError_;
    quint16 identifier_ = 0;
    quint16 sequence_ = 0;
};

} // namespace fw

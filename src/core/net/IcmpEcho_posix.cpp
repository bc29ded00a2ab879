#include "net/IcmpEcho.h"
#include "net/ResolveIpv4.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace fw {

namespace {

constexpr quint8 EchoReply = 0;
constexpr quint8 EchoRequest = 8;
constexpr int HeaderSize = 8;
// Stale datagrams read off the socket before each request, at most.
constexpr int MaxDrained = 256;

std::atomic<quint16> nextIdentifier{0};

} // namespace

IcmpEcho::~IcmpEcho() {
    close();
}

void IcmpEcho::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    kind_ = SocketKind::None;
}

bool IcmpEcho::open() {
    close();
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    SocketKind kind = SocketKind::Datagram;
    const int datagramError = errno;
    if (fd < 0) {
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        kind = SocketKind::Raw;
    }
    if (fd < 0) {
        openError_ = QStringLiteral("ICMP datagram socket: %1; raw socket: %2")
                         .arg(QString::fromLocal8Bit(std::strerror(datagramError)),
                              QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const int ttl = Ttl;
    const int tos = 0;
    const int pmtu = IP_PMTUDISC_DONT; // don't-fragment flag clear
    ::setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    ::setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
    ::setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
    fd_ = fd;
    kind_ = kind;
    openError_.clear();
    identifier_ = quint16((quint32(::getpid()) << 4) + nextIdentifier.fetch_add(1));
    return true;
}

int IcmpEcho::ping() {
    in_addr target{};
    if (fd_ < 0 || !resolveIpv4(address_, &target))
        return 0;

    char buffer[1500];
    for (int i = 0; i < MaxDrained; ++i) {
        if (::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) < 0)
            break;
    }

    const quint16 sequence = ++sequence_;
    QByteArray packet(HeaderSize, '\0');
    packet[0] = char(EchoRequest);
    packet[4] = char(identifier_ >> 8);
    packet[5] = char(identifier_ & 0xFF);
    packet[6] = char(sequence >> 8);
    packet[7] = char(sequence & 0xFF);
    packet += payload();
    const quint16 sum = checksum(packet);
    packet[2] = char(sum >> 8);
    packet[3] = char(sum & 0xFF);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target;
    if (::sendto(fd_, packet.constData(), size_t(packet.size()), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        return 0;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout_;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return 0;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n <= 0)
            continue;
        int offset = 0;
        if (kind_ == SocketKind::Raw) {
            // Raw sockets hand over the IP header as well.
            offset = (quint8(buffer[0]) & 0x0F) * 4;
        }
        if (n < offset + HeaderSize)
            continue;
        const auto* icmp = reinterpret_cast<const quint8*>(buffer + offset);
        const quint16 id = quint16((icmp[4] << 8) | icmp[5]);
        const quint16 seq = quint16((icmp[6] << 8) | icmp[7]);
        if (icmp[0] != EchoReply || seq != sequence || from.sin_addr.s_addr != target.s_addr)
            continue;
        // The datagram kind's identifier is the kernel's own; it filters by it already.
        if (kind_ == SocketKind::Raw && id != identifier_)
            continue;
        return 1;
    }
}

} // namespace fw

#include "net/UdpEndpoint.h"
#include "net/ResolveIpv4.h"

#include "net/SocketErrors.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace fw {

namespace {

// Windows Sockets' "host not found" for a name the resolver does not know.
constexpr int HostNotFound = 11001;

} // namespace

UdpEndpoint::UdpEndpoint(QObject* parent) : QObject(parent) {}

UdpEndpoint::~UdpEndpoint() {
    closeSocket();
}

bool UdpEndpoint::fail(const char* call, int platformError) {
    lastErrorCode_ = wsaErrorFromErrno(platformError);
    lastError_ = QStringLiteral("winsock.%1 failed, error #%2")
                     .arg(QString::fromLatin1(call))
                     .arg(lastErrorCode_);
    return false;
}

bool UdpEndpoint::open() {
    closeSocket();
    lastError_.clear();
    lastErrorCode_ = 0;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
    if (fd < 0)
        return fail("socket", errno);
    const int on = 1;
    if (localPort_ != 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        const int e = errno;
        ::close(fd);
        return fail("setsockopt", e);
    }
    if (remoteAddress_ == BroadcastAddress &&
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        const int e = errno;
        ::close(fd);
        return fail("setsockopt", e);
    }
    // Tells the interface each datagram came in on; a failure only loses that detail.
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(localPort_);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int e = errno;
        ::close(fd);
        return fail("bind", e);
    }
    socklen_t len = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0)
        boundPort_ = ntohs(local.sin_port);
    fd_ = fd;
    if (notify_) {
        notifier_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &UdpEndpoint::readyRead);
    }
    return true;
}

bool UdpEndpoint::send(const QByteArray& datagram, unsigned interfaceIndex) {
    if (fd_ < 0)
        return fail("sendto", ENOTSOCK);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(remotePort_);
    if (!resolveIpv4(remoteAddress_, &remote.sin_addr)) {
        lastErrorCode_ = HostNotFound;
        lastError_ = QStringLiteral("winsock.gethostbyname failed, error #%1").arg(HostNotFound);
        return false;
    }
    iovec part{const_cast<char*>(datagram.constData()), size_t(datagram.size())};
    msghdr message{};
    message.msg_name = &remote;
    message.msg_namelen = sizeof remote;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    // IP_PKTINFO picks the outgoing interface per datagram and needs no privilege.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (interfaceIndex != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = int(interfaceIndex);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    const ssize_t n = ::sendmsg(fd_, &message, 0);
    if (n < 0)
        return fail("sendto", errno);
    return true;
}

int UdpEndpoint::receiveFrom(char* buffer, int capacity, QString* fromAddress, quint16* fromPort,
                             unsigned* arrivalInterface) {
    if (arrivalInterface)
        *arrivalInterface = 0;
    if (fd_ < 0 || !buffer || capacity < 1)
        return -1;
    sockaddr_in from{};
    iovec part{buffer, size_t(capacity)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    // MSG_TRUNC gives the datagram's full length, so an oversized one is recognised.
    const ssize_t n = ::recvmsg(fd_, &message, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    if (n == 0 || n > capacity)
        return Skipped;
    if (fromAddress) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        *fromAddress = QString::fromLatin1(text);
    }
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    if (arrivalInterface) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
                c->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                *arrivalInterface = unsigned(info.ipi_ifindex);
            }
        }
    }
    return int(n);
}

void UdpEndpoint::closeSocket() {
    delete notifier_;
    notifier_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    boundPort_ = 0;
}

void UdpEndpoint::close() {
    closeSocket();
    remoteAddress_.clear();
    remotePort_ = 0;
    localPort_ = 0;
}

} // namespace fw

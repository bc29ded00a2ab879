#include "DiscoveryEcho.h"

#include "RouterRestart.h"
#include "Transcript.h"
#include "net/IcmpEcho.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace routersim {

namespace {

constexpr quint8 EchoReplyType = 0;
constexpr quint8 EchoRequestType = 8;
constexpr int IcmpHeaderSize = 8;
// Packets read per notification at most; the notifier fires again for the rest.
constexpr int MaxPerWake = 256;

QString dotted(quint32 networkOrder) {
    in_addr a{};
    a.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

DiscoveryEcho::DiscoveryEcho(const SimConfig& config, Transcript* transcript, QObject* parent)
    : QObject(parent), config_(config), transcript_(transcript) {}

DiscoveryEcho::~DiscoveryEcho() {
    delete notifier_;
    if (listenFd_ >= 0)
        ::close(listenFd_);
    for (int fd : sendFds_) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool DiscoveryEcho::start(QString* error) {
    listenFd_ = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (listenFd_ < 0) {
        *error = QStringLiteral("cannot open a raw ICMP socket (%1): run as root inside the "
                                "network namespace, or give --no-echo")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Only echo requests matter to the listener.
    icmp_filter onlyRequests{~(1u << EchoRequestType)};
    ::setsockopt(listenFd_, SOL_RAW, ICMP_FILTER, &onlyRequests, sizeof onlyRequests);
    for (const RouterConfig& r : config_.routers) {
        if (!r.echo) {
            sendFds_ << -1;
            continue;
        }
        // A socket bound to the router's address sends its replies from that address; it
        // reads nothing.
        const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
        icmp_filter nothing{~0u};
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(r.address.toIPv4Address());
        if (fd < 0 || ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &nothing, sizeof nothing) != 0 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            *error = QStringLiteral("cannot open the echo socket of %1: %2")
                         .arg(r.addressText(), QString::fromLocal8Bit(std::strerror(errno)));
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        sendFds_ << fd;
    }
    notifier_ = new QSocketNotifier(qintptr(listenFd_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DiscoveryEcho::readPending);
    return true;
}

QByteArray DiscoveryEcho::replyTo(const QByteArray& request) {
    if (request.size() < IcmpHeaderSize || quint8(request[0]) != EchoRequestType || request[1] != 0)
        return {};
    QByteArray reply = request;
    reply[0] = char(EchoReplyType);
    reply[2] = 0;
    reply[3] = 0;
    const quint16 sum = fw::IcmpEcho::checksum(reply);
    reply[2] = char(sum >> 8);
    reply[3] = char(sum & 0xFF);
    return reply;
}

void DiscoveryEcho::readPending() {
    char buffer[65536];
    for (int k = 0; k < MaxPerWake; ++k) {
        const ssize_t n = ::recv(listenFd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return;
        const int headerSize = (quint8(buffer[0]) & 0x0F) * 4;
        if (headerSize < 20 || n < headerSize + IcmpHeaderSize)
            continue;
        quint32 source = 0;
        quint32 destination = 0;
        std::memcpy(&source, buffer + 12, 4);
        std::memcpy(&destination, buffer + 16, 4);
        const QByteArray icmp(buffer + headerSize, qsizetype(n - headerSize));
        if (quint8(icmp[0]) != EchoRequestType)
            continue;
        if (transcript_)
            transcript_->record(QStringLiteral("icmp"), dotted(source), dotted(destination), icmp);
        for (int i = 0; i < config_.routers.size(); ++i) {
            if (sendFds_.value(i, -1) < 0 ||
                htonl(config_.routers[i].address.toIPv4Address()) != destination)
                continue;
            const auto& restart = config_.routers[i].restart;
            const QByteArray reply = replyTo(icmp);
            if (reply.isEmpty() || (restart && restart->silent()))
                break;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = source;
            ::sendto(sendFds_[i], reply.constData(), size_t(reply.size()), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to);
            break;
        }
    }
}

} // namespace routersim

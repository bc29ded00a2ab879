#include "support/TftpRelay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <vector>

namespace fw::test {

namespace {

constexpr int MaxDatagram = 2048;

sockaddr_in endpoint(const QString& address, quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.toLatin1().constData(), &a.sin_addr);
    return a;
}

bool sameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

int boundSocket(const sockaddr_in& at, QString* error) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        if (error)
            *error = QStringLiteral("relay socket: ") + QString::fromLocal8Bit(strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

void closeSocket(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void sendTo(int fd, const char* data, ssize_t n, const sockaddr_in& to) {
    ::sendto(fd, data, size_t(n), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

quint16 opcode(const char* d, ssize_t n) {
    return n >= 2 ? quint16((quint8(d[0]) << 8) | quint8(d[1])) : 0;
}

} // namespace

TftpRelay::~TftpRelay() {
    stop();
}

bool TftpRelay::start(const Config& config, QString* error) {
    config_ = config;
    router_ = boundSocket(endpoint(config.routerAddress, config.routerPort), error);
    wildcard_ = boundSocket(endpoint(QStringLiteral("0.0.0.0"), config.routerPort), error);
    other_ = boundSocket(endpoint(QStringLiteral("0.0.0.0"), 0), error);
    if (router_ < 0 || wildcard_ < 0 || other_ < 0) {
        closeSocket(router_);
        closeSocket(wildcard_);
        closeSocket(other_);
        return false;
    }
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void TftpRelay::stop() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    closeSocket(router_);
    closeSocket(wildcard_);
    closeSocket(other_);
}

void TftpRelay::run() {
    const sockaddr_in server = endpoint(QStringLiteral("127.0.0.1"), config_.serverPort);
    const bool forwardOthers = !config_.otherAddress.isEmpty() && config_.otherPort != 0;
    const sockaddr_in other = endpoint(config_.otherAddress, config_.otherPort);
    // The transfer under way: the program's endpoint, the socket that talks to the server and
    // the port the server answers from (0 until its first answer).
    int session = -1;
    sockaddr_in client{};
    quint16 serverTid = 0;
    sockaddr_in prober{}; // who sent the last datagram passed to `other`
    std::array<char, MaxDatagram> buf{};

    while (!stopping_) {
        std::vector<pollfd> fds{{router_, POLLIN, 0}, {wildcard_, POLLIN, 0}, {other_, POLLIN, 0}};
        if (session >= 0)
            fds.push_back({session, POLLIN, 0});
        if (::poll(fds.data(), nfds_t(fds.size()), int(PollSlice.count())) <= 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(fds[i].fd, buf.data(), buf.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                continue;
            if (i == 2) { // an answer to a probe
                sendTo(router_, buf.data(), n, prober);
                continue;
            }
            if (i == 3) { // the server
                if (serverTid == 0)
                    serverTid = ntohs(from.sin_port);
                if (ntohs(from.sin_port) == serverTid)
                    sendTo(router_, buf.data(), n, client);
                continue;
            }
            switch (opcode(buf.data(), n)) {
            case 2: // write request: a transfer of its own
                closeSocket(session);
                session = boundSocket(endpoint(QStringLiteral("127.0.0.1"), 0), nullptr);
                client = from;
                serverTid = 0;
                ++writeRequests_;
                if (session >= 0)
                    sendTo(session, buf.data(), n, server);
                break;
            case 3: // data
                if (session >= 0 && serverTid != 0 && sameEndpoint(from, client)) {
                    sockaddr_in to = server;
                    to.sin_port = htons(serverTid);
                    sendTo(session, buf.data(), n, to);
                }
                break;
            case 1:
                if (n >= 5 && std::memcmp(buf.data() + 2, "R!\0", 3) == 0) {
                    ++rebootRequests_;
                    break;
                }
                [[fallthrough]];
            default:
                if (forwardOthers) {
                    prober = from;
                    sendTo(other_, buf.data(), n, other);
                }
                break;
            }
        }
    }
    closeSocket(session);
}

} // namespace fw::test

// POSIX sockets under SocketClient. Errors leave the Windows Sockets number through
// wsaErrorFromErrno, the only translation of the platform's numbers.
#include "net/SocketClient.h"

#include "net/SocketErrors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw {

namespace {

// Like the per-thread last error of Windows Sockets: the number of the last failing call.
thread_local int t_lastError = 0;

int fail(int platformError) {
    t_lastError = wsaErrorFromErrno(platformError);
    return t_lastError;
}

int pollMs(std::chrono::milliseconds t) {
    return int(std::clamp<std::chrono::milliseconds::rep>(t.count(), 0, 24 * 3600 * 1000));
}

bool setBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return false;
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, wanted) == 0;
}

} // namespace

int SocketClient::platformLastError() {
    return t_lastError;
}

SocketClient::Handle SocketClient::platformSocket(int* wsaError) {
    // IPPROTO_TCP directly: a protocol database lookup may not exist on a small system.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        *wsaError = fail(errno);
        return InvalidHandle;
    }
    return fd;
}

bool SocketClient::platformParseIPv4(const QByteArray& dotted, quint32* addressHostOrder) {
    in_addr a{};
    if (::inet_pton(AF_INET, dotted.constData(), &a) != 1)
        return false;
    *addressHostOrder = ntohl(a.s_addr);
    return true;
}

bool SocketClient::platformSetNoDelay(Handle h) {
    // The Windows Sockets option 8 at level 6 has no equal here; TCP_NODELAY is the nearest TCP
    // option: each request goes out at once.
    const int one = 1;
    if (::setsockopt(int(h), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

void SocketClient::platformSetTransferTimeout(Handle h, std::chrono::milliseconds t) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(t.count(), 1);
    timeval tv{};
    tv.tv_sec = time_t(ms / 1000);
    tv.tv_usec = suseconds_t((ms % 1000) * 1000);
    ::setsockopt(int(h), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(int(h), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void SocketClient::platformSetSendBuffer(Handle h, int bytes) {
    ::setsockopt(int(h), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

bool SocketClient::platformConnect(Handle h, quint32 addressHostOrder, quint16 port,
                                   std::chrono::milliseconds timeout,
                                   const std::function<void()>& idle) {
    const int fd = int(h);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(addressHostOrder);
    if (!setBlocking(fd, false)) {
        fail(errno);
        return false;
    }
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int r;
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            // In slices when something must run meanwhile.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            r = ::poll(&p, 1, pollMs(idle ? std::min(left, IdleSlice) : left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r != 0 || !idle || left <= IdleSlice)
                break;
            idle();
        }
        if (r > 0) {
            int soError = 0;
            socklen_t len = sizeof soError;
            ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0;
            if (!ok)
                fail(soError);
        } else {
            fail(r == 0 ? ETIMEDOUT : errno);
        }
    } else if (!ok) {
        fail(errno);
    }
    if (!setBlocking(fd, true) && ok) {
        fail(errno);
        return false;
    }
    return ok;
}

SocketClient::Readiness SocketClient::platformWait(Handle h, Direction direction,
                                                   std::chrono::milliseconds timeout,
                                                   int* wsaError) {
    const short wanted = direction == Direction::Send ? POLLOUT : POLLIN;
    pollfd p{int(h), short(wanted | POLLPRI), 0};
    int r;
    do {
        r = ::poll(&p, 1, pollMs(timeout));
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        *wsaError = fail(errno);
        return Readiness::Failed;
    }
    if (r == 0)
        return Readiness::TimedOut;
    // Urgent data or a descriptor that is no socket are the exceptional states; an error with
    // the socket readable or writable is left to the call, which reports it by number.
    if (p.revents & (POLLPRI | POLLNVAL))
        return Readiness::Exception;
    if (p.revents & (wanted | POLLHUP))
        return Readiness::Ready;
    if (p.revents & POLLERR)
        return Readiness::Exception;
    return Readiness::NotReady;
}

qint64 SocketClient::platformSend(Handle h, const char* data, qint64 length, int* wsaError) {
    for (;;) {
        const ssize_t n = ::send(int(h), data, size_t(length), MSG_NOSIGNAL);
        if (n > 0)
            return n;
        if (n < 0 && errno == EINTR)
            continue;
        // A send time-out shows as "would block" on a blocking socket.
        const int e = n == 0                                      ? EPIPE
                      : (errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT
                                                                  : errno;
        *wsaError = fail(e);
        return -1;
    }
}

qint64 SocketClient::platformReceive(Handle h, char* data, qint64 capacity, int* wsaError) {
    for (;;) {
        const ssize_t n = ::recv(int(h), data, size_t(capacity), 0);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        *wsaError = fail((errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno);
        return -1;
    }
}

void SocketClient::platformClose(Handle h) {
    ::shutdown(int(h), SHUT_RDWR);
    ::close(int(h));
}

void SocketClient::platformShutdown(Handle h) {
    ::shutdown(int(h), SHUT_RDWR);
}

} // namespace fw

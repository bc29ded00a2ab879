#include "net/TcpProbe.h"
#include "net/ResolveIpv4.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw {

namespace {

bool hostAnswered(int error) {
    return error == 0 || error == ECONNREFUSED;
}

} // namespace

bool TcpProbe::answers(const QString& address, quint16 port, std::chrono::milliseconds timeout) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (!resolveIpv4(address, &to.sin_addr))
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    bool answered = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        answered = true;
    } else if (errno != EINPROGRESS) {
        answered = hostAnswered(errno);
    } else {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, int(left.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0)
                answered = hostAnswered(error);
            break;
        }
    }
    ::close(fd);
    return answered;
}

} // namespace fw

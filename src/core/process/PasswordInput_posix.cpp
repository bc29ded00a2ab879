#include "process/PasswordInput.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace fw {

namespace {
// Echo off while a person types the password; restored however the read ends.
class NoEcho {
public:
    explicit NoEcho(int fd) : fd_(fd) {
        if (::isatty(fd) != 1 || ::tcgetattr(fd, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        on_ = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~NoEcho() {
        if (on_)
            ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    int fd_;
    termios saved_{};
    bool on_ = false;
};
} // namespace

std::optional<QByteArray> readPasswordLine(int fd, std::chrono::milliseconds deadline) {
    NoEcho noEcho(fd);
    QElapsedTimer clock;
    clock.start();
    QByteArray line;
    char c = 0;
    // One byte at a time: what follows the line stays unread.
    for (;;) {
        const qint64 left = deadline.count() - clock.elapsed();
        if (left <= 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::min<qint64>(left, 1000)));
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) // the end of the input
            return line.isEmpty() ? std::nullopt : std::optional<QByteArray>(line);
        if (c == '\n')
            break;
        if (line.size() >= MaxPasswordLineBytes)
            return std::nullopt;
        line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace fw

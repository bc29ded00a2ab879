// The socket component over POSIX non-blocking sockets. Platform error numbers leave through
// wsaErrorFromErrno, so every report carries the Windows Sockets number and text.
#include "ftp/TTcpSocket.h"

#include "net/SocketErrors.h"
#include "process/EventWait.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw {

namespace {

using Clock = std::chrono::steady_clock;

bool wouldBlock(int e) {
    return e == EAGAIN || e == EWOULDBLOCK;
}

int newStreamSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
}

sockaddr_in ipv4(quint32 addressHostOrder, quint16 port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(addressHostOrder);
    return sa;
}

} // namespace

TTcpSocket::TTcpSocket(TTcpSocket* owner) : owner_(owner), buffer_(BufferSize, '\0') {}

TTcpSocket::~TTcpSocket() {
    if (fd_ >= 0)
        ::close(fd_);
}

void TTcpSocket::report(int level, const QString& text) {
    if (level <= ReportLevel && OnStatus)
        OnStatus(*this, text);
}

void TTcpSocket::signalError(int wsaNumber) {
    const QString text = FtpSocketErrorText(wsaNumber);
    if (OnError)
        OnError(*this, wsaNumber, text);
}

void TTcpSocket::raiseSocketError(int wsaNumber) {
    signalError(wsaNumber);
    throw ESocketError(FtpSocketErrorText(wsaNumber));
}

int TTcpSocket::replyNumberOf(const QByteArray& line) {
    qint64 n = 0;
    for (qsizetype i = 0; i < line.size() && i < 10; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9')
            break;
        n = n * 10 + (c - '0');
    }
    return int(std::min<qint64>(n, std::numeric_limits<int>::max()));
}

void TTcpSocket::TimerOn() {
    if (TimeOut.count() <= 0)
        return;
    timerArmed_ = true;
    timerDue_ = Clock::now() + TimeOut;
    timedOut_ = false;
    report(LevelTrace, QStringLiteral("Timer On"));
}

void TTcpSocket::TimerOff() {
    if (!timerArmed_)
        return;
    timerArmed_ = false;
    report(LevelTrace, QStringLiteral("Timer Off"));
}

void TTcpSocket::checkOwnTimer() {
    if (!timerArmed_ || Clock::now() < timerDue_)
        return;
    timerArmed_ = false;
    timedOut_ = true;
    report(LevelTrace, QStringLiteral("Timer Triggered"));
    Abort();
}

void TTcpSocket::checkTimers() {
    checkOwnTimer();
}

void TTcpSocket::Abort() {
    canceled_ = true;
}

void TTcpSocket::waitPass(short events) {
    EventWait::Block onSocket;
    if (fd_ >= 0 && events != 0)
        onSocket = [this, events](std::chrono::microseconds slice) {
            pollfd p{fd_, events, 0};
            const int ms = int(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
            int r;
            do {
                r = ::poll(&p, 1, ms);
            } while (r < 0 && errno == EINTR);
        };
    EventWait::pass(EventWait::Pump::AllEvents, WaitSlice, onSocket);
    if (owner_)
        owner_->checkTimers();
    checkTimers();
}

bool TTcpSocket::Connected() {
    if (!connected_ || fd_ < 0)
        return false;
    char c;
    const ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && !wouldBlock(errno) && errno != EINTR)) {
        // The close notification: the peer is gone.
        peerClosed_ = true;
        connected_ = false;
    }
    return connected_;
}

void TTcpSocket::closeSocket() {
    const bool was = connected_;
    connected_ = false;
    listening_ = false;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (was && OnDisconnect)
        OnDisconnect(*this);
}

void TTcpSocket::CloseGracefully() {
    if (fd_ >= 0) {
        linger l{0, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    report(LevelBuffer, QStringLiteral("Request Close Socket"));
    closeSocket();
}

void TTcpSocket::Disconnect() {
    closeSocket();
}

quint32 TTcpSocket::resolveHost() {
    QHostAddress a;
    if (a.setAddress(Host) && a.protocol() == QAbstractSocket::IPv4Protocol)
        return a.toIPv4Address();
    if (Host.isEmpty())
        return 0;
    // A name: looked up asynchronously under the time-out timer.
    bool done = false;
    quint32 found = 0;
    QObject context;
    int id = -1;
    if (QCoreApplication::instance()) {
        id = QHostInfo::lookupHost(Host, &context, [&](const QHostInfo& info) {
            for (const QHostAddress& h : info.addresses()) {
                if (h.protocol() == QAbstractSocket::IPv4Protocol) {
                    found = h.toIPv4Address();
                    break;
                }
            }
            done = true;
        });
    } else {
        const QHostInfo info = QHostInfo::fromName(Host);
        for (const QHostAddress& h : info.addresses()) {
            if (h.protocol() == QAbstractSocket::IPv4Protocol) {
                found = h.toIPv4Address();
                break;
            }
        }
        done = true;
    }
    TimerOn();
    // Without a time-out the lookup still ends some time.
    const auto limit = Clock::now() + ReplyWaitLimit;
    EventWait::until([&] { return done; }, limit, [this] { return canceled_ || timedOut_; },
                     EventWait::Pump::AllEvents, WaitSlice,
                     [this](std::chrono::microseconds slice) {
                         ::usleep(useconds_t(slice.count()));
                         if (owner_)
                             owner_->checkTimers();
                         checkTimers();
                     });
    TimerOff();
    if (!done) {
        if (Clock::now() >= limit)
            timedOut_ = true;
        QHostInfo::abortHostLookup(id);
        throw ESocketError(timedOut_ ? QStringLiteral("Host Lookup Timed Out")
                                     : QStringLiteral("Host Lookup Canceled"));
    }
    return found;
}

void TTcpSocket::Connect() {
    if (Connected())
        throw ESocketError(QStringLiteral("Already connected"));
    closeSocket();
    clearCancel();
    peerClosed_ = false;
    const quint32 address = resolveHost();
    if (address == 0)
        throw ESocketError(QStringLiteral("Null Remote Address"));
    openStreamSocket();
    const sockaddr_in sa = ipv4(address, Port);
    report(LevelTrace, QStringLiteral("Connecting"));
    int error = 0;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 &&
        errno != EINPROGRESS)
        error = errno;
    bool up = false;
    if (error == 0) {
        TimerOn();
        for (;;) {
            if (timedOut_ || canceled_)
                break;
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 0) > 0) {
                int soError = 0;
                socklen_t len = sizeof soError;
                ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len);
                error = soError;
                up = soError == 0;
                break;
            }
            waitPass(POLLOUT);
        }
        TimerOff();
    }
    if (!up) {
        const bool timedOut = timedOut_;
        const bool canceled = canceled_;
        closeSocket();
        connectionFailed();
        if (timedOut)
            throw ESocketError(QStringLiteral("Connection Timed out"));
        if (canceled)
            throw ESocketError(QStringLiteral("Connection Canceled"));
        signalError(wsaErrorFromErrno(error));
        throw ESocketError(QStringLiteral("Connection Failed"));
    }
    connected_ = true;
}

QByteArray TTcpSocket::ReadLn() {
    report(LevelTrace, QStringLiteral("ReadLn"));
    TimerOn();
    const auto limit = Clock::now() + ReplyWaitLimit;
    QByteArray line;
    for (;;) {
        if (canceled_ || Clock::now() >= limit) {
            TimerOff();
            throw EWaitAborted(QStringLiteral("Socket readln aborted"));
        }
        if (fd_ < 0) {
            line.clear();
            break;
        }
        const ssize_t n = ::recv(fd_, buffer_.data(), size_t(BufferSize), MSG_PEEK);
        if (n == 0 || (n < 0 && errno == ENOTCONN)) {
            peerClosed_ = true;
            connected_ = false;
            line.clear();
            break;
        }
        if (n < 0) {
            if (wouldBlock(errno) || errno == EINTR) {
                waitPass(POLLIN);
                continue;
            }
            const int e = errno;
            TimerOff();
            raiseSocketError(wsaErrorFromErrno(e));
        }
        const qsizetype lf = QByteArrayView(buffer_.constData(), n).indexOf('\n');
        const qsizetype take = lf >= 0 ? lf + 1 : qsizetype(n);
        const ssize_t got = ::recv(fd_, buffer_.data(), size_t(take), 0);
        if (got > 0) {
            const qsizetype room = MaxLineLength - line.size();
            line.append(buffer_.constData(), std::min<qsizetype>(room, got));
            // An over-long line keeps its end, so it still ends with CR LF.
            if (lf >= 0 && line.size() == MaxLineLength && !line.endsWith('\n'))
                line.replace(MaxLineLength - 2, 2, "\r\n");
        }
        if (lf >= 0)
            break;
        waitPass(POLLIN);
    }
    TimerOff();
    return line;
}

void TTcpSocket::SendAll(const char* data, qint64 length, bool packets) {
    if (packets)
        report(LevelBuffer, QStringLiteral("Sending Buffer"));
    qint64 sent = 0;
    auto lastProgress = Clock::now();
    while (sent < length) {
        if (canceled_ || fd_ < 0 || Clock::now() - lastProgress >= SendStallLimit)
            throw EWaitAborted(QStringLiteral("Socket send aborted"));
        const ssize_t n =
            ::send(fd_, data + sent, size_t(std::min(length - sent, BufferSize)), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            lastProgress = Clock::now();
            if (packets) {
                BytesSent += n;
                if (OnPacketSent)
                    OnPacketSent(*this);
                EventWait::pass(EventWait::Pump::AllEvents, std::chrono::microseconds(0));
            }
            continue;
        }
        if (n < 0 && (wouldBlock(errno) || errno == EINTR)) {
            waitPass(POLLOUT);
            continue;
        }
        raiseSocketError(wsaErrorFromErrno(n == 0 ? EPIPE : errno));
    }
}

QByteArray TTcpSocket::Transaction(const QByteArray& command) {
    ReplyNumber = 0;
    // A line end inside an argument (a password, a file name) would start a second command.
    qsizetype end = command.size();
    for (const char c : {'\r', '\n'}) {
        const qsizetype at = command.indexOf(c);
        if (at >= 0)
            end = std::min(end, at);
    }
    const QByteArray wire = command.left(end) + "\r\n";
    SendAll(wire.constData(), wire.size());
    LastReply = ReadLn();
    if (!LastReply.isEmpty()) {
        report(LevelCommand, QString::fromLatin1(LastReply).trimmed());
        ReplyNumber = replyNumberOf(LastReply);
    }
    return LastReply;
}

void TTcpSocket::DiscardInput() {
    if (fd_ < 0 || listening_)
        return;
    // Bounded: what has already arrived, not what keeps arriving.
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::recv(fd_, buffer_.data(), size_t(BufferSize), MSG_DONTWAIT);
        if (n <= 0)
            break;
    }
}

void TTcpSocket::openStreamSocket() {
    fd_ = newStreamSocket();
    if (fd_ < 0)
        throw ESocketError(QStringLiteral("Initializaton of windows sockets failed"));
}

void TTcpSocket::Listen() {
    closeSocket();
    clearCancel();
    openStreamSocket();
    const sockaddr_in sa = ipv4(INADDR_ANY, Port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(fd_, 1) != 0)
        raiseSocketError(wsaErrorFromErrno(errno));
    listening_ = true;
}

quint16 TTcpSocket::LocalPort() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

quint32 TTcpSocket::LocalAddress() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohl(sa.sin_addr.s_addr);
}

void TTcpSocket::AcceptIncoming() {
    report(LevelBuffer, QStringLiteral("Accepting"));
    const auto limit = Clock::now() + AcceptWaitLimit;
    for (;;) {
        if (canceled_ || fd_ < 0 || Clock::now() >= limit)
            throw ESocketError(QStringLiteral("Accepting Canceled"));
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
            if (p.revents & (POLLERR | POLLNVAL))
                throw ESocketError(QStringLiteral("Error creating Data Connection"));
            const int a = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (a < 0) {
                if (wouldBlock(errno) || errno == EINTR || errno == ECONNABORTED) {
                    waitPass(POLLIN);
                    continue;
                }
                throw ESocketError(QStringLiteral("Error creating Data Connection"));
            }
            ::close(fd_);
            fd_ = a;
            listening_ = false;
            connected_ = true;
            return;
        }
        waitPass(POLLIN);
    }
}

qint64 TTcpSocket::ReceiveBlock(char* buffer, qint64 capacity) {
    for (;;) {
        if (canceled_ || fd_ < 0)
            throw EWaitAborted(QStringLiteral("Socket send aborted"));
        const ssize_t n = ::recv(fd_, buffer, size_t(capacity), 0);
        if (n >= 0)
            return n;
        if (wouldBlock(errno) || errno == EINTR) {
            waitPass(POLLIN);
            continue;
        }
        raiseSocketError(wsaErrorFromErrno(errno));
    }
}

} // namespace fw

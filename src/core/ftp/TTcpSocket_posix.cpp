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

EventWait::Block TTcpSocket::socketBlock(short events) {
    return [this, events](std::chrono::microseconds slice) {
        if (fd_ >= 0 && events != 0) {
            pollfd p{fd_, events, 0};
            const int ms = int(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
            while (::poll(&p, 1, ms) < 0 && errno == EINTR) {
            }
        } else {
            ::usleep(useconds_t(slice.count()));
        }
        if (owner_)
            owner_->checkTimers();
        checkTimers();
    };
}

EventWait::End TTcpSocket::waitFor(short events, Clock::time_point deadline, bool timerEnds) {
    const auto stopped = [this, timerEnds] { return canceled_ || (timerEnds && timedOut_); };
    // Readiness past the deadline does not count: a peer that trickles never outlasts it.
    const auto ready = [this, events, deadline, &stopped] {
        if (stopped() || Clock::now() >= deadline)
            return false;
        if (fd_ < 0)
            return true; // nothing to wait on: the caller sees the closed socket
        pollfd p{fd_, events, 0};
        return ::poll(&p, 1, 0) > 0;
    };
    return EventWait::until(ready, deadline, stopped, EventWait::Pump::AllEvents, WaitSlice,
                            socketBlock(events));
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

void TTcpSocket::ShutdownSend() {
    report(LevelBuffer, QStringLiteral("Request Close Socket"));
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

bool TTcpSocket::PeerClosedCleanly(std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    while (fd_ >= 0 && Clock::now() < deadline) {
        const ssize_t n = ::recv(fd_, buffer_.data(), size_t(BufferSize), MSG_DONTWAIT);
        if (n == 0)
            return true;
        if (n > 0)
            continue; // nothing is expected here; it does not make the close unclean
        if (!wouldBlock(errno) && errno != EINTR)
            return false; // a reset: the peer dropped data it had not read
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, int(WaitSlice.count()));
    }
    return false;
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
    const EventWait::End end =
        EventWait::until([&] { return done; }, limit, [this] { return canceled_ || timedOut_; },
                         EventWait::Pump::AllEvents, WaitSlice, socketBlock(0));
    TimerOff();
    if (!done) {
        if (end == EventWait::End::TimedOut)
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
        // Ended by the time-out timer, a cancel, or the platform's own connect limit.
        TimerOn();
        if (waitFor(POLLOUT, Clock::time_point::max(), true) == EventWait::End::Done) {
            int soError = 0;
            socklen_t len = sizeof soError;
            ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len);
            error = soError;
            up = soError == 0;
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
    qint64 budget = ReplyByteLimit;
    return ReadLn(Clock::now() + ReplyWaitLimit, budget);
}

QByteArray TTcpSocket::ReadLn(Clock::time_point deadline, qint64& budget) {
    report(LevelTrace, QStringLiteral("ReadLn"));
    TimerOn();
    // Past a bound the rest of the reply would be read as the answer to the next command:
    // the connection goes instead.
    const auto bound = [this](const QString& text) {
        TimerOff();
        closeSocket();
        throw EReplyBound(text);
    };
    QByteArray line;
    for (;;) {
        const EventWait::End end = waitFor(POLLIN, deadline);
        if (end == EventWait::End::Canceled) {
            TimerOff();
            throw EWaitAborted(QStringLiteral("Socket readln aborted"));
        }
        if (end == EventWait::End::TimedOut)
            bound(QStringLiteral("FTP reply not complete within %1 s; connection closed")
                      .arg(double(ReplyWaitLimit.count()) / 1000.0));
        if (fd_ < 0) {
            line.clear();
            break;
        }
        const ssize_t n = ::recv(fd_, buffer_.data(), size_t(BufferSize), MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno == ENOTCONN)) {
            peerClosed_ = true;
            connected_ = false;
            line.clear();
            break;
        }
        if (n < 0) {
            if (wouldBlock(errno) || errno == EINTR)
                continue;
            const int e = errno;
            TimerOff();
            raiseSocketError(wsaErrorFromErrno(e));
        }
        const qsizetype lf = QByteArrayView(buffer_.constData(), n).indexOf('\n');
        const qsizetype take = lf >= 0 ? lf + 1 : qsizetype(n);
        const ssize_t got = ::recv(fd_, buffer_.data(), size_t(take), 0);
        if (got > 0 && (budget -= got) < 0)
            bound(QStringLiteral("FTP reply longer than %1 bytes; connection closed")
                      .arg(ReplyByteLimit));
        if (got > 0) {
            const qsizetype room = MaxLineLength - line.size();
            line.append(buffer_.constData(), std::min<qsizetype>(room, got));
            // An over-long line keeps its end, so it still ends with CR LF.
            if (lf >= 0 && line.size() == MaxLineLength && !line.endsWith('\n'))
                line.replace(MaxLineLength - 2, 2, "\r\n");
        }
        if (lf >= 0)
            break;
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
        if (canceled_ || fd_ < 0)
            throw EWaitAborted(QStringLiteral("Socket send aborted"));
        // Sent first, waited for only when the platform takes nothing: a socket may take more
        // than its poll readiness promises.
        const ssize_t n = ::send(fd_, data + sent, size_t(std::min(length - sent, BufferSize)),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
            lastProgress = Clock::now();
            if (packets) {
                BytesSent += n;
                if (OnPacketSent)
                    OnPacketSent(*this);
                // The events run at the pace a window needs, not at every send call.
                if (lastProgress >= nextEvents_) {
                    EventWait::pass(EventWait::Pump::AllEvents, std::chrono::microseconds(0));
                    nextEvents_ = Clock::now() + PacketEventInterval;
                }
            }
            continue;
        }
        if (n < 0 && (wouldBlock(errno) || errno == EINTR)) {
            // A peer that stops reading ends the send once nothing has gone for the stall limit.
            if (waitFor(POLLOUT, lastProgress + SendStallLimit) != EventWait::End::Done)
                throw EWaitAborted(QStringLiteral("Socket send aborted"));
            continue;
        }
        raiseSocketError(wsaErrorFromErrno(n == 0 ? EPIPE : errno));
    }
}

void TTcpSocket::sendCommand(const QByteArray& command) {
    // A line end inside an argument (a password, a file name) would start a second command.
    qsizetype end = command.size();
    for (const char c : {'\r', '\n'}) {
        const qsizetype at = command.indexOf(c);
        if (at >= 0)
            end = std::min(end, at);
    }
    const QByteArray wire = command.left(end) + "\r\n";
    SendAll(wire.constData(), wire.size());
}

QByteArray TTcpSocket::Transaction(const QByteArray& command) {
    ReplyNumber = 0;
    sendCommand(command);
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
        if (waitFor(POLLIN, limit) != EventWait::End::Done || fd_ < 0)
            throw ESocketError(QStringLiteral("Accepting Canceled"));
        const int a = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (a < 0) {
            if (wouldBlock(errno) || errno == EINTR || errno == ECONNABORTED)
                continue;
            throw ESocketError(QStringLiteral("Error creating Data Connection"));
        }
        ::close(fd_);
        fd_ = a;
        listening_ = false;
        connected_ = true;
        return;
    }
}

qint64 TTcpSocket::ReceiveBlock(char* buffer, qint64 capacity) {
    for (;;) {
        // Ended by the data socket's time-out timer or a cancel.
        if (waitFor(POLLIN, Clock::time_point::max()) != EventWait::End::Done || fd_ < 0)
            throw EWaitAborted(QStringLiteral("Socket send aborted"));
        const ssize_t n = ::recv(fd_, buffer, size_t(capacity), MSG_DONTWAIT);
        if (n >= 0)
            return n;
        if (wouldBlock(errno) || errno == EINTR)
            continue;
        raiseSocketError(wsaErrorFromErrno(errno));
    }
}

} // namespace fw

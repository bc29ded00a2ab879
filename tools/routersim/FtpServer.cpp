#include "FtpServer.h"

#include "RouterRestart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace routersim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The serving loop wakes this often to notice stop().
constexpr int kPollMs = 50;
// A command line longer than this ends the connection.
constexpr qsizetype kMaxLine = 4096;
// Data connections: connecting to the client, and a peer that stops sending or reading.
constexpr auto kDataConnectWait = 5s;
constexpr auto kDataIdle = 10s;

QByteArray line(int code, const QByteArray& text) {
    return QByteArray::number(code) + ' ' + text + "\r\n";
}

QByteArray refusalText(int code) {
    switch (code) {
    case 429:
        return "Incorrect upgrade file";
    case 530:
        return "Login incorrect";
    case 550:
        return "Requested action not taken";
    default:
        return "Refused by routersim";
    }
}

bool waitFd(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

} // namespace

std::optional<FtpServerConfig> FtpServerConfig::parse(const QString& options, QString* error) {
    FtpServerConfig c;
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return std::optional<FtpServerConfig>();
    };
    const QStringList codeKeys{
        QStringLiteral("greeting"), QStringLiteral("user"),      QStringLiteral("pass"),
        QStringLiteral("port"),     QStringLiteral("stor"),      QStringLiteral("retr"),
        QStringLiteral("quit"),     QStringLiteral("storreply"), QStringLiteral("retrreply")};
    for (const QString& item : options.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const QString key = (eq < 0 ? item : item.left(eq)).trimmed();
        const QString value = eq < 0 ? QString() : item.mid(eq + 1);
        bool ok = true;
        const qint64 n = value.toLongLong(&ok);
        const bool number = ok && n >= 0;
        ok = true;
        if (key == u"password") {
            c.password = value.toLatin1();
        } else if (key == u"user" && value == u"230") {
            c.user230 = true;
        } else if (codeKeys.contains(key)) {
            ok = number && n >= 100 && n <= 999;
            QByteArray name = key.toUpper().toLatin1();
            if (name == "STORREPLY")
                name = "STORDONE";
            else if (name == "RETRREPLY")
                name = "RETRDONE";
            c.replies.insert(name, line(int(n), refusalText(int(n))));
        } else if (key == u"multiline") {
            c.multiline = value == u"1";
        } else if (key == u"stall") {
            c.stall = value.toUpper().toLatin1();
        } else if (key == u"delay") {
            const qsizetype colon = value.indexOf(u':');
            const qint64 ms = colon > 0 ? value.mid(colon + 1).toLongLong(&ok) : -1;
            ok = ok && ms >= 0 && ms <= 600000;
            c.delayOn = value.left(colon).toUpper().toLatin1();
            c.delay = std::chrono::milliseconds(ms);
        } else if (key == u"close") {
            c.closeOn = value.toUpper().toLatin1();
        } else if (key == u"retrextra") {
            ok = number;
            c.retrExtra = n;
        } else if (key == u"retrshort") {
            ok = number;
            c.retrShort = n;
        } else if (key == u"noreply") {
            c.noReply = value.toUpper().toLatin1();
        } else if (key == u"storcut") {
            ok = number;
            c.storCut = n;
        } else if (key == u"closeafter") {
            ok = number;
            c.closeAfter = int(std::min<qint64>(n, 1 << 20));
        } else if (key == u"datastall") {
            ok = number;
            c.dataStall = n;
        } else if (key == u"dir") {
            c.directory = value;
        } else if (key == u"keep") {
            ok = number;
            c.keep = n;
        } else if (key == u"rom") {
            c.romPath = value;
        } else if (key == u"transcript") {
            c.transcriptPath = value;
        } else if (key == u"idle") {
            ok = number;
            c.idle = std::chrono::milliseconds(n);
        } else {
            return fail(QStringLiteral("unknown FTP option '%1'").arg(key));
        }
        if (!ok)
            return fail(QStringLiteral("bad value for %1: '%2'").arg(key, value));
    }
    return c;
}

FtpServer::FtpServer(FtpServerConfig config) : config_(std::move(config)) {}

FtpServer::~FtpServer() {
    stop();
}

bool FtpServer::start(const QString& address, quint16 port, QString* error) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = -1;
        return false;
    };
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr) != 1)
        return fail(QStringLiteral("not an IPv4 address: ") + address);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return fail(QString::fromLocal8Bit(strerror(errno)));
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof sa;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return fail(QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(address)
                        .arg(port)
                        .arg(QString::fromLocal8Bit(strerror(errno))));
    port_ = ntohs(sa.sin_port);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void FtpServer::stop() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
    listener_ = -1;
}

void FtpServer::setConfig(const FtpServerConfig& config) {
    std::lock_guard l(mutex_);
    config_ = config;
}

FtpServerConfig FtpServer::config() const {
    std::lock_guard l(mutex_);
    return config_;
}

QByteArray FtpServer::transcript() const {
    std::lock_guard l(mutex_);
    return transcript_;
}

QList<QByteArray> FtpServer::commands() const {
    std::lock_guard l(mutex_);
    return commands_;
}

QList<FtpServer::StoredFile> FtpServer::storedFiles() const {
    std::lock_guard l(mutex_);
    return stored_;
}

int FtpServer::connectionCount() const {
    std::lock_guard l(mutex_);
    return connections_;
}

int FtpServer::closedCount() const {
    std::lock_guard l(mutex_);
    return closed_;
}

bool FtpServer::waitForCommands(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock l(mutex_);
    return changed_.wait_for(l, timeout, [&] { return commands_.size() >= count; });
}

bool FtpServer::waitForClosed(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock l(mutex_);
    return changed_.wait_for(l, timeout, [&] { return closed_ >= count; });
}

void FtpServer::clear() {
    std::lock_guard l(mutex_);
    transcript_.clear();
    commands_.clear();
    stored_.clear();
}

void FtpServer::run() {
    while (!stopping_) {
        if (!waitFd(listener_, POLLIN, kPollMs))
            continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const std::shared_ptr<RouterRestart> restart = config().restart;
        if (activeSessions_ >= MaxSessions || (restart && restart->silent())) {
            ::close(fd);
            continue;
        }
        {
            std::lock_guard l(mutex_);
            ++connections_;
        }
        ++activeSessions_;
        const quint32 from = ntohl(peer.sin_addr.s_addr);
        sessions_.emplace_back([this, fd, from, restart] {
            Session s;
            s.fd = fd;
            s.peer = from;
            serve(s);
            closeStalledData(s);
            ::close(fd);
            if (s.stored > 0 && restart)
                restart->accepted();
            --activeSessions_;
            {
                std::lock_guard l(mutex_);
                ++closed_;
            }
            changed_.notify_all();
        });
    }
    for (std::thread& t : sessions_)
        t.join();
    sessions_.clear();
}

void FtpServer::closeStalledData(Session& s) {
    if (s.stalledData >= 0)
        ::close(s.stalledData);
    s.stalledData = -1;
}

void FtpServer::pause(std::chrono::milliseconds t) const {
    const auto end = Clock::now() + t;
    while (!stopping_ && Clock::now() < end)
        std::this_thread::sleep_for(std::min<Clock::duration>(end - Clock::now(), 20ms));
}

bool FtpServer::sendAll(int fd, const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size() && !stopping_) {
        if (!waitFd(fd, POLLOUT, kPollMs))
            continue;
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return sent == bytes.size();
}

void FtpServer::serve(Session& s) {
    const int fd = s.fd;
    s.loggedIn = false;
    s.stored = 0;
    s.dataPort = 0;
    const FtpServerConfig first = config();
    if (first.delayOn == "GREETING")
        pause(first.delay);
    if (first.stall != "GREETING") {
        QByteArray greeting = first.replies.value("GREETING");
        if (greeting.isEmpty()) {
            greeting = first.multiline ? QByteArray("220-routersim FTP server\r\n"
                                                    "220-Welcome\r\n"
                                                    "220 Ready\r\n")
                                       : QByteArray("220 routersim FTP server ready\r\n");
        }
        if (!sendAll(fd, greeting))
            return;
    }
    QByteArray pending;
    auto lastActivity = Clock::now();
    char buf[4096];
    while (!stopping_) {
        const FtpServerConfig cfg = config();
        if (Clock::now() - lastActivity > cfg.idle)
            return;
        if (!waitFd(fd, POLLIN, kPollMs))
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        lastActivity = Clock::now();
        const QByteArray bytes(buf, n);
        {
            std::lock_guard l(mutex_);
            transcript_ += bytes;
        }
        if (!cfg.transcriptPath.isEmpty()) {
            QFile t(cfg.transcriptPath);
            if (t.open(QIODevice::Append))
                t.write(bytes);
        }
        pending += bytes;
        qsizetype lf;
        while ((lf = pending.indexOf('\n')) >= 0) {
            QByteArray cmd = pending.left(lf);
            pending.remove(0, lf + 1);
            if (cmd.endsWith('\r'))
                cmd.chop(1);
            {
                std::lock_guard l(mutex_);
                commands_ << cmd;
            }
            changed_.notify_all();
            if (!command(s, cmd, config()))
                return;
        }
        if (pending.size() > kMaxLine)
            return;
    }
}

bool FtpServer::command(Session& s, const QByteArray& lineIn, const FtpServerConfig& cfg) {
    const int fd = s.fd;
    const qsizetype blank = lineIn.indexOf(' ');
    const QByteArray verb = (blank < 0 ? lineIn : lineIn.left(blank)).toUpper();
    const QByteArray arg = blank < 0 ? QByteArray() : lineIn.mid(blank + 1);
    if (verb == cfg.closeOn)
        return false;
    if (verb == cfg.stall)
        return true;
    if (verb == cfg.delayOn)
        pause(cfg.delay);
    if (cfg.replies.contains(verb)) {
        // A refusal; QUIT still ends the connection.
        return sendAll(fd, cfg.replies.value(verb)) && verb != "QUIT";
    }
    if (verb == "USER") {
        if (cfg.user230) {
            s.loggedIn = true;
            return sendAll(fd, line(230, "User logged in"));
        }
        return sendAll(fd, line(331, "Password required"));
    }
    if (verb == "PASS") {
        s.loggedIn = arg == cfg.password;
        return sendAll(fd, s.loggedIn ? line(230, "User logged in") : line(530, "Login incorrect"));
    }
    if (verb == "QUIT") {
        sendAll(fd, line(221, "Goodbye"));
        return false;
    }
    if (!s.loggedIn)
        return sendAll(fd, line(530, "Not logged in"));
    if (verb == "PORT") {
        const QList<QByteArray> p = arg.split(',');
        bool ok = p.size() == 6;
        quint32 address = 0;
        quint32 port = 0;
        for (qsizetype i = 0; ok && i < 6; ++i) {
            const uint v = p[i].trimmed().toUInt(&ok);
            ok = ok && v <= 255;
            if (i < 4)
                address = (address << 8) | v;
            else
                port = (port << 8) | v;
        }
        // Data connections go back to the client only, never elsewhere.
        if (!ok || address != s.peer || port == 0)
            return sendAll(fd, line(501, "Illegal PORT command"));
        s.dataAddress = address;
        s.dataPort = quint16(port);
        return sendAll(fd, line(200, "PORT command successful"));
    }
    if (verb == "STOR")
        return store(s, arg, cfg);
    if (verb == "RETR")
        return retrieve(s, arg, cfg);
    return sendAll(fd, line(502, "Command not implemented"));
}

int FtpServer::openData(Session& s) {
    if (s.dataPort == 0)
        return -1;
    const int d = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (d < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(s.dataPort);
    sa.sin_addr.s_addr = htonl(s.dataAddress);
    s.dataPort = 0; // one PORT, one transfer
    if (::connect(d, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        ::close(d);
        return -1;
    }
    const auto deadline = Clock::now() + kDataConnectWait;
    while (!stopping_ && Clock::now() < deadline) {
        if (!waitFd(d, POLLOUT, kPollMs))
            continue;
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(d, SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0)
            break;
        return d;
    }
    ::close(d);
    return -1;
}

bool FtpServer::store(Session& s, const QByteArray& name, const FtpServerConfig& cfg) {
    const int fd = s.fd;
    if (!sendAll(fd, line(150, "Opening data connection")))
        return false;
    const int d = openData(s);
    if (d < 0)
        return sendAll(fd, line(425, "Can't open data connection"));
    StoredFile file;
    file.name = name;
    QFile out;
    if (!cfg.directory.isEmpty()) {
        // Only the last component: nothing lands outside the directory.
        const QString base = QFileInfo(QString::fromLatin1(name)).fileName();
        if (!base.isEmpty() && base != u"." && base != u"..") {
            out.setFileName(QDir(cfg.directory).filePath(base));
            out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        }
    }
    char buf[65536];
    auto last = Clock::now();
    while (!stopping_ && Clock::now() - last < kDataIdle) {
        if (!waitFd(d, POLLIN, kPollMs))
            continue;
        const ssize_t n = ::recv(d, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        last = Clock::now();
        file.size += n;
        if (cfg.storCut >= 0 && file.size >= cfg.storCut) {
            // Gone in the middle of the file: whatever else was sent is dropped unread.
            ::close(d);
            return false;
        }
        const qint64 room = std::max<qint64>(0, cfg.keep - file.bytes.size());
        file.bytes.append(buf, qsizetype(std::min<qint64>(room, n)));
        if (out.isOpen())
            out.write(buf, n);
    }
    ::close(d);
    out.close();
    {
        std::lock_guard l(mutex_);
        stored_ << file;
    }
    changed_.notify_all();
    if (cfg.noReply == "STOR")
        return false;
    const QByteArray done = cfg.replies.value("STORDONE", line(226, "Transfer complete"));
    return sendAll(fd, done) && ++s.stored != cfg.closeAfter;
}

QByteArray FtpServer::romBytes(qint64 offset, qint64 length, const FtpServerConfig& cfg) const {
    length = std::min(length, 2 * MaxRomRead);
    if (cfg.romPath.isEmpty()) {
        QByteArray out(qsizetype(length), '\0');
        for (qint64 i = 0; i < length; ++i)
            out[qsizetype(i)] = char((offset + i) & 0xFF);
        return out;
    }
    QFile f(cfg.romPath);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    return f.read(length);
}

bool FtpServer::retrieve(Session& s, const QByteArray& name, const FtpServerConfig& cfg) {
    const int fd = s.fd;
    const qsizetype hash = name.indexOf('#');
    bool okOffset = false;
    bool okLength = false;
    const qint64 offset = hash > 0 ? name.left(hash).toLongLong(&okOffset) : 0;
    const qint64 length = hash > 0 ? name.mid(hash + 1).toLongLong(&okLength) : 0;
    if (!okOffset || !okLength || offset < 0 || length < 0) {
        return sendAll(fd, line(550, "No such file"));
    }
    if (!sendAll(fd, line(150, "Opening data connection")))
        return false;
    const int d = openData(s);
    if (d < 0) {
        return sendAll(fd, line(425, "Can't open data connection"));
    }
    QByteArray bytes = romBytes(
        offset, std::max<qint64>(0, std::min(length, MaxRomRead) + cfg.retrExtra - cfg.retrShort),
        cfg);
    const bool stall = cfg.dataStall >= 0;
    if (stall)
        bytes.truncate(qsizetype(std::min<qint64>(cfg.dataStall, bytes.size())));
    qsizetype sent = 0;
    auto last = Clock::now();
    while (sent < bytes.size() && !stopping_ && Clock::now() - last < kDataIdle) {
        if (!waitFd(d, POLLOUT, kPollMs))
            continue;
        const ssize_t n =
            ::send(d, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
        last = Clock::now();
    }
    if (stall) {
        // The data connection stays open and silent; the control connection goes on.
        closeStalledData(s);
        s.stalledData = d;
        return true;
    }
    ::close(d);
    if (cfg.noReply == "RETR")
        return false;
    return sendAll(fd, cfg.replies.value("RETRDONE", line(226, "Transfer complete")));
}

} // namespace routersim

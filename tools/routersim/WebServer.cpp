#include "WebServer.h"

#include "RouterRestart.h"

#include <QFile>
#include <QStringList>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace routersim {

namespace {

using Clock = std::chrono::steady_clock;

// A request header longer than this is refused.
constexpr qsizetype kMaxHeader = 64 * 1024;
constexpr qsizetype kReadSize = 256 * 1024;
// The poll loop wakes at least this often to end idle connections.
constexpr int kPollMs = 200;
// ROM reads are served from memory; longer requests are cut.
constexpr qint64 kMaxRomRead = qint64(64) << 20;

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// Status line, a content type, Connection: close, then the body. No header holds a ':' followed
// by a digit, so a 301's Location is the first such place.
QByteArray reply(int status, const QByteArray& body, const QByteArray& extraLines = {},
                 const QByteArray& type = "text/html") {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n" + extraLines +
           "Content-Type: " + type + "\r\nConnection: close\r\n\r\n" + body;
}

bool parseInt(const QString& v, qint64* out) {
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    if (!ok || n < 0)
        return false;
    *out = n;
    return true;
}

int listenOn(const QByteArray& address, quint16 port, quint16* bound, QString* error) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.constData(), &sa.sin_addr) != 1) {
        *error = QStringLiteral("not an IPv4 address: ") + QString::fromLatin1(address);
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(QString::fromLatin1(address))
                     .arg(port)
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fd);
        return -1;
    }
    *bound = ntohs(sa.sin_port);
    return fd;
}

// The value of a header line (name without case), empty when absent.
QByteArray headerValue(const QByteArray& header, const QByteArray& name) {
    const QList<QByteArray> lines = header.split('\n');
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

// A query parameter of the request target ("O=1000&L=20").
QByteArray queryValue(const QByteArray& target, const QByteArray& key) {
    const qsizetype q = target.indexOf('?');
    if (q < 0)
        return {};
    for (const QByteArray& pair : target.mid(q + 1).split('&')) {
        if (pair.startsWith(key + '='))
            return pair.mid(key.size() + 1);
    }
    return {};
}

} // namespace

std::optional<WebServerConfig> WebServerConfig::parse(const QString& options, QString* error) {
    WebServerConfig c;
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return std::optional<WebServerConfig>();
    };
    for (const QString& item : options.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const QString key = (eq < 0 ? item : item.left(eq)).trimmed();
        const QString value = eq < 0 ? QString() : item.mid(eq + 1);
        const QByteArray bytes = value.toLatin1();
        qint64 n = 0;
        auto number = [&](auto* target) {
            if (!parseInt(value, &n))
                return false;
            *target = std::remove_pointer_t<decltype(target)>(n);
            return true;
        };
        bool ok = true;
        if (key == QLatin1String("password")) {
            c.password = bytes;
        } else if (key == QLatin1String("firmware")) {
            ok = value == QLatin1String("new") || value == QLatin1String("old");
            c.oldFirmware = value == QLatin1String("old");
        } else if (key == QLatin1String("cas")) {
            c.casOverride = bytes;
        } else if (key == QLatin1String("redirect")) {
            c.redirect = bytes;
        } else if (key == QLatin1String("listenredirect")) {
            c.listenRedirect = value == QLatin1String("1");
        } else if (key == QLatin1String("login404")) {
            ok = number(&c.login404);
        } else if (key == QLatin1String("login400")) {
            ok = number(&c.login400);
        } else if (key == QLatin1String("login503")) {
            ok = number(&c.login503);
        } else if (key == QLatin1String("index")) {
            ok = number(&c.indexStatus);
        } else if (key == QLatin1String("basicuser")) {
            c.basicUser = bytes;
        } else if (key == QLatin1String("basicpass")) {
            c.basicPassword = bytes;
        } else if (key == QLatin1String("upg")) {
            if (value.startsWith(QLatin1String("cas:"))) {
                c.upload = UploadAnswer::Cas;
                c.uploadCas = bytes.mid(4);
            } else if (value.startsWith(QLatin1String("alert:"))) {
                c.upload = UploadAnswer::Alert;
                c.uploadAlert = bytes.mid(6);
            } else if (value.startsWith(QLatin1String("status:"))) {
                c.upload = UploadAnswer::Status;
                ok = parseInt(value.mid(7), &n);
                c.uploadStatus = int(n);
            } else if (value == QLatin1String("ok")) {
                c.upload = UploadAnswer::Ok;
            } else if (value == QLatin1String("silent")) {
                c.upload = UploadAnswer::Silent;
            } else {
                ok = false;
            }
        } else if (key == QLatin1String("upgsize")) {
            ok = number(&c.uploadReplySize);
        } else if (key == QLatin1String("transcript")) {
            c.transcriptPath = value;
        } else if (key == QLatin1String("body")) {
            c.bodyPath = value;
        } else if (key == QLatin1String("keepbody")) {
            ok = number(&c.keepBody);
        } else if (key == QLatin1String("maxbody")) {
            ok = number(&c.maxBody);
        } else if (key == QLatin1String("rom")) {
            c.romPath = value;
        } else if (key == QLatin1String("romstatus")) {
            ok = number(&c.romStatus);
        } else if (key == QLatin1String("idle")) {
            ok = parseInt(value, &n);
            c.idle = std::chrono::milliseconds(n);
        } else {
            return fail(QStringLiteral("unknown web option: ") + key);
        }
        if (!ok)
            return fail(QStringLiteral("bad value for web option ") + key + QStringLiteral(": ") +
                        value);
    }
    return c;
}

struct WebServer::Connection {
    int fd = -1;
    quint16 localPort = 0;
    bool viaRedirectListener = false;
    QByteArray header; // up to and including the blank line
    QByteArray body;   // kept part of the body
    qsizetype headerEnd = -1;
    qint64 contentLength = 0;
    qint64 bodyReceived = 0;
    bool upload = false;
    bool refused = false; // body too long: answered without reading it
    QFile bodyFile;
    QFile transcript;
    QByteArray out;
    qsizetype outPos = 0;
    bool answering = false;
    bool silent = false;
    bool recorded = false;
    Clock::time_point firstByte{};
    Clock::time_point lastActivity = Clock::now();
};

WebServer::WebServer(WebServerConfig config) : config_(std::move(config)) {}

WebServer::~WebServer() {
    stop();
}

bool WebServer::start(const QString& address, quint16 port, QString* error) {
    QString why;
    address_ = address.toLatin1();
    listener_ = listenOn(address_, port, &port_, &why);
    if (listener_ < 0) {
        if (error)
            *error = why;
        return false;
    }
    const WebServerConfig cfg = config();
    quint16 second = 0;
    bool wantSecond = cfg.redirect == "auto";
    if (!wantSecond && cfg.listenRedirect && cfg.redirect != "self") {
        bool ok = false;
        second = cfg.redirect.toUShort(&ok);
        wantSecond = ok && second != 0 && second != port_;
    }
    if (wantSecond) {
        redirectListener_ = listenOn(address_, second, &redirectPort_, &why);
        if (redirectListener_ < 0) {
            ::close(listener_);
            listener_ = -1;
            if (error)
                *error = why;
            return false;
        }
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error)
            *error = QStringLiteral("cannot create the wake pipe");
        stop();
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void WebServer::stop() {
    stopping_ = true;
    if (wakeWrite_ >= 0) {
        const char b = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &b, 1);
    }
    if (thread_.joinable())
        thread_.join();
    for (auto& c : connections_)
        closeConnection(*c);
    connections_.clear();
    for (int* fd : {&listener_, &redirectListener_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void WebServer::setConfig(const WebServerConfig& config) {
    std::lock_guard lock(mutex_);
    config_ = config;
    loginsSeen_ = 0;
}

WebServerConfig WebServer::config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

QList<WebServer::Request> WebServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int WebServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return int(requests_.size());
}

bool WebServer::waitForRequests(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return completed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void WebServer::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

QByteArray WebServer::lastUploadBody() const {
    std::lock_guard lock(mutex_);
    return lastBody_;
}

qint64 WebServer::lastUploadBodySize() const {
    std::lock_guard lock(mutex_);
    return lastBodySize_;
}

std::chrono::nanoseconds WebServer::lastUploadDuration() const {
    std::lock_guard lock(mutex_);
    return lastUploadDuration_;
}

bool WebServer::lastLoginAccepted() const {
    std::lock_guard lock(mutex_);
    return lastLoginOk_;
}

void WebServer::run() {
    std::vector<pollfd> fds;
    while (!stopping_) {
        fds.clear();
        fds.push_back({wakeRead_, POLLIN, 0});
        fds.push_back({listener_, POLLIN, 0});
        fds.push_back({redirectListener_, short(redirectListener_ >= 0 ? POLLIN : 0), 0});
        for (auto& c : connections_)
            fds.push_back({c->fd, short(c->answering ? POLLOUT : POLLIN), 0});
        const int r = ::poll(fds.data(), nfds_t(fds.size()), kPollMs);
        if (r < 0 && errno != EINTR)
            break;
        if (stopping_)
            break;
        if (r > 0) {
            if (fds[1].revents & POLLIN)
                acceptFrom(listener_, port_, false);
            if (fds[2].revents & POLLIN)
                acceptFrom(redirectListener_, redirectPort_, true);
        }
        const std::chrono::milliseconds idle = config().idle;
        const auto now = Clock::now();
        // Connections accepted above have no pollfd yet; they are looked at next round.
        const size_t polled = fds.size() - 3;
        for (size_t i = 0; i < connections_.size(); ++i) {
            Connection& c = *connections_[i];
            bool keep = true;
            if (i < polled && r > 0) {
                const short ev = fds[i + 3].revents;
                if (c.answering && (ev & (POLLOUT | POLLERR | POLLHUP)))
                    keep = onWritable(c);
                else if (!c.answering && (ev & (POLLIN | POLLERR | POLLHUP)))
                    keep = onReadable(c);
            }
            if (keep && !c.silent && now - c.lastActivity > idle)
                keep = false;
            if (!keep)
                closeConnection(c);
        }
        std::erase_if(connections_, [](const auto& c) { return c->fd < 0; });
    }
}

void WebServer::acceptFrom(int listener, quint16 localPort, bool redirectListener) {
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (const auto restart = config().restart; restart && restart->silent()) {
            ::close(fd);
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->localPort = localPort;
        c->viaRedirectListener = redirectListener;
        const QString transcriptPath = config().transcriptPath;
        if (!transcriptPath.isEmpty()) {
            c->transcript.setFileName(transcriptPath);
            if (!c->transcript.open(QIODevice::WriteOnly | QIODevice::Append |
                                    QIODevice::Unbuffered))
                qWarning("routersim: cannot write the transcript %s", qPrintable(transcriptPath));
        }
        connections_.push_back(std::move(c));
    }
}

bool WebServer::onReadable(Connection& c) {
    if (readBuffer_.size() < kReadSize)
        readBuffer_.resize(kReadSize);
    const ssize_t n = ::recv(c.fd, readBuffer_.data(), size_t(kReadSize), 0);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0) {
        // The client gave up before its request was whole; keep what came.
        if (!c.header.isEmpty() && !c.recorded)
            requestComplete(c);
        return false;
    }
    c.lastActivity = Clock::now();
    if (c.header.isEmpty() && c.headerEnd < 0)
        c.firstByte = c.lastActivity;
    const QByteArrayView data(readBuffer_.constData(), n);
    if (c.transcript.isOpen())
        c.transcript.write(data.data(), n);
    if (c.silent)
        return true;

    qsizetype used = 0;
    if (c.headerEnd < 0) {
        const qsizetype before = c.header.size();
        c.header += data.first(std::min<qsizetype>(n, kMaxHeader + 4));
        qsizetype from = 0;
        const qsizetype firstLine = c.header.indexOf("\r\n");
        // The login request carries an extra header line that is empty at first: a blank line
        // straight after its request line does not end it.
        if (c.header.startsWith("GET /cgi-bin/logi") && firstLine >= 0)
            from = firstLine + 2;
        const qsizetype end = c.header.indexOf("\r\n\r\n", from);
        if (end < 0) {
            if (c.header.size() > kMaxHeader) {
                c.out = reply(400, "header too long");
                c.answering = true;
            }
            return true;
        }
        c.headerEnd = end + 4;
        used = c.headerEnd - before;
        c.header.truncate(c.headerEnd);
        const WebServerConfig cfg = config();
        c.upload = c.header.startsWith("POST ");
        if (c.upload) {
            bool ok = false;
            c.contentLength = headerValue(c.header, "Content-Length").toLongLong(&ok);
            if (!ok || c.contentLength < 0 || c.contentLength > cfg.maxBody) {
                c.refused = true;
                c.contentLength = 0;
            } else if (c.header.startsWith("POST /upg ") && !cfg.bodyPath.isEmpty()) {
                c.bodyFile.setFileName(cfg.bodyPath);
                if (!c.bodyFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    qWarning("routersim: cannot write the body file %s", qPrintable(cfg.bodyPath));
            }
            c.body.reserve(qsizetype(std::min(c.contentLength, cfg.keepBody)));
        }
    }
    if (c.upload && used < n) {
        const qint64 take = std::min<qint64>(n - used, c.contentLength - c.bodyReceived);
        const char* p = data.constData() + used;
        if (c.bodyFile.isOpen())
            c.bodyFile.write(p, take);
        const qint64 keep = std::clamp<qint64>(config().keepBody - c.body.size(), 0, take);
        c.body.append(p, qsizetype(keep));
        c.bodyReceived += take;
    }
    if (!c.upload || c.bodyReceived >= c.contentLength) {
        requestComplete(c);
        const QByteArray out = answer(c, config());
        if (out.isNull()) {
            c.silent = true;
        } else {
            c.out = out;
            c.answering = true;
        }
    }
    return true;
}

bool WebServer::onWritable(Connection& c) {
    while (c.outPos < c.out.size()) {
        const ssize_t n = ::send(c.fd, c.out.constData() + c.outPos,
                                 size_t(c.out.size() - c.outPos), MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        c.outPos += n;
        c.lastActivity = Clock::now();
    }
    // The reply ends with the connection, as the router's does.
    return false;
}

void WebServer::requestComplete(Connection& c) {
    c.recorded = true;
    if (c.bodyFile.isOpen())
        c.bodyFile.close();
    std::lock_guard lock(mutex_);
    Request r;
    r.localPort = c.localPort;
    r.bytes = c.header + c.body;
    r.bodySize = c.bodyReceived;
    requests_.append(r);
    if (c.header.startsWith("POST /upg ")) {
        lastBody_ = c.body;
        lastBodySize_ = c.bodyReceived;
        lastUploadDuration_ = c.lastActivity - c.firstByte;
    }
    completed_.notify_all();
}

QByteArray WebServer::answer(Connection& c, const WebServerConfig& cfg) {
    if (c.refused || c.header.size() > kMaxHeader)
        return reply(400, "<html>bad request</html>");
    const qsizetype lineEnd = c.header.indexOf("\r\n");
    const QList<QByteArray> requestLine = c.header.left(lineEnd).split(' ');
    const QByteArray method = requestLine.value(0);
    const QByteArray target = requestLine.value(1);

    if (method == "GET" && target.startsWith("/cgi-bin/logi?")) {
        if (!c.viaRedirectListener && !cfg.redirect.isEmpty()) {
            QByteArray text = cfg.redirect;
            if (text == "auto")
                text = QByteArray::number(redirectPort_);
            else if (text == "self")
                text = QByteArray::number(port_);
            return reply(301, {}, "Location: http://" + address_ + ':' + text + "\r\n");
        }
        std::unique_lock lock(mutex_);
        const int k = loginsSeen_++;
        if (k < cfg.login404)
            return reply(404, "<html>no such CGI</html>");
        if (k < cfg.login404 + cfg.login400)
            return reply(400, "<html>bad request</html>");
        if (k < cfg.login404 + cfg.login400 + cfg.login503)
            return reply(503, "<html>upgrade not complete</html>");
        // The password runs from "PSW=" to the "&rd=menu" that ends the query.
        const qsizetype from = target.indexOf("PSW=");
        const qsizetype to = target.lastIndexOf("&rd=menu");
        const QByteArray given =
            (from >= 0 && to >= from + 4) ? target.mid(from + 4, to - from - 4) : QByteArray();
        lastLoginOk_ = from >= 0 && given == cfg.password;
        if (cfg.oldFirmware && !lastLoginOk_)
            return reply(200, "<html><script>alert(\"Password error\")</script></html>");
        return reply(200, "<html>login</html>");
    }

    if (method == "GET" && target == "/") {
        if (!cfg.basicUser.isEmpty()) {
            const QByteArray expected =
                "Basic " + (cfg.basicUser + ':' + cfg.basicPassword).toBase64();
            if (headerValue(c.header, "Authorization") != expected)
                return reply(401, "<html>authorization required</html>",
                             "WWW-Authenticate: Basic realm=\"router\"\r\n");
            return reply(200, "<html>welcome</html>");
        }
        QByteArray body = "<html>index";
        if (!cfg.oldFirmware) {
            std::lock_guard lock(mutex_);
            const QByteArray code = !cfg.casOverride.isEmpty() ? cfg.casOverride
                                    : lastLoginOk_             ? "8003"
                                                               : "0003";
            body += "--CAS:" + code;
        }
        body += "</html>";
        return reply(cfg.indexStatus, body);
    }

    if (method == "POST" && target == "/upg") {
        QByteArray out;
        switch (cfg.upload) {
        case WebServerConfig::UploadAnswer::Silent:
            return QByteArray();
        case WebServerConfig::UploadAnswer::Cas:
            out = reply(200, "<html>--CAS:" + cfg.uploadCas + "</html>");
            break;
        case WebServerConfig::UploadAnswer::Alert:
            out = reply(200, "<html><script>alert(\"" + cfg.uploadAlert + "\")</script></html>");
            break;
        case WebServerConfig::UploadAnswer::Ok:
            out = reply(200, "<html>upgrade done</html>");
            break;
        case WebServerConfig::UploadAnswer::Status:
            out = reply(cfg.uploadStatus, "<html>upgrade</html>");
            break;
        }
        if (out.size() < cfg.uploadReplySize)
            out.append(QByteArray(cfg.uploadReplySize - out.size(), ' '));
        // Accepted: the answer still goes out on this connection, then the router restarts.
        const bool accepted = cfg.upload == WebServerConfig::UploadAnswer::Ok ||
                              (cfg.upload == WebServerConfig::UploadAnswer::Cas &&
                               cfg.uploadCas == "8000");
        if (accepted && cfg.restart)
            cfg.restart->accepted();
        return out;
    }

    if (method == "GET" && target.startsWith("/config.bin?")) {
        if (cfg.romStatus != 200)
            return reply(cfg.romStatus, "<html>rom</html>");
        bool okO = false;
        bool okL = false;
        const qint64 offset = queryValue(target, "O").toLongLong(&okO, 16);
        const qint64 length = std::min(queryValue(target, "L").toLongLong(&okL, 16), kMaxRomRead);
        if (!okO || !okL || offset < 0 || length < 0)
            return reply(400, "<html>bad request</html>");
        QByteArray data;
        if (!cfg.romPath.isEmpty()) {
            QFile rom(cfg.romPath);
            if (rom.open(QIODevice::ReadOnly) && rom.seek(offset))
                data = rom.read(length);
        } else {
            data.resize(qsizetype(length));
            for (qsizetype i = 0; i < data.size(); ++i)
                data[i] = char((offset + i) & 0xFF);
        }
        return reply(200, data, {}, "application/octet-stream");
    }

    return reply(404, "<html>not found</html>");
}

void WebServer::closeConnection(Connection& c) {
    if (c.fd >= 0) {
        ::shutdown(c.fd, SHUT_RDWR);
        ::close(c.fd);
        c.fd = -1;
    }
}

} // namespace routersim

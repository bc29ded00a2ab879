#include "TftpServer.h"

#include "Discovery.h"
#include "Transcript.h"

#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <climits>

namespace routersim {

namespace {

enum Opcode : quint16 { Rrq = 1, Wrq = 2, Data = 3, Ack = 4, Error = 5 };
enum ErrorCode : quint16 { FileNotFound = 1, DiskFull = 3, IllegalOperation = 4, UnknownTid = 5 };

constexpr int MaxRepliesKept = 100000;
const QByteArray RebootName("R!");

quint16 numberAt(const QByteArray& d, int offset) {
    return quint16((quint8(d[offset]) << 8) | quint8(d[offset + 1]));
}

QByteArray packet(quint16 opcode, quint16 number) {
    QByteArray p;
    p.append(char(opcode >> 8)).append(char(opcode & 0xFF));
    p.append(char(number >> 8)).append(char(number & 0xFF));
    return p;
}

// The two zero-terminated texts of a request; false when either terminator is missing.
bool requestTexts(const QByteArray& d, QByteArray* name, QByteArray* mode) {
    const qsizetype nameEnd = d.indexOf('\0', 2);
    if (nameEnd < 0)
        return false;
    const qsizetype modeEnd = d.indexOf('\0', nameEnd + 1);
    if (modeEnd < 0)
        return false;
    *name = d.mid(2, nameEnd - 2);
    *mode = d.mid(nameEnd + 1, modeEnd - nameEnd - 1);
    return true;
}

QString endpoint(const QHostAddress& a, quint16 port) {
    return a.toString() + u':' + QString::number(port);
}

bool parseNumber(const QString& v, qint64 minimum, qint64 maximum, qint64* out) {
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    if (!ok || n < minimum || n > maximum)
        return false;
    *out = n;
    return true;
}

} // namespace

std::optional<TftpServerConfig> TftpServerConfig::parse(const QString& options, QString* error) {
    TftpServerConfig c;
    for (const QString& item : options.split(u',', Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(u'=');
        const QString key = (eq < 0 ? item : item.left(eq)).trimmed();
        const QString value = eq < 0 ? QString() : item.mid(eq + 1);
        qint64 n = 0;
        bool ok = true;
        if (key == u"dir") {
            c.dir = value;
            ok = !value.isEmpty();
        } else if (key == u"errorwrq") {
            ok = parseNumber(value, 0, 1000000, &n);
            c.errorWrq = int(n);
        } else if (key == u"errorblock") {
            ok = parseNumber(value, 0, 65535, &n);
            c.errorBlock = int(n);
        } else if (key == u"errorcode") {
            ok = parseNumber(value, 0, 65535, &n);
            c.errorCode = quint16(n);
        } else if (key == u"errortext") {
            c.errorText = value.toLatin1();
        } else if (key == u"stall") {
            ok = parseNumber(value, -1, 65535, &n);
            c.stall = int(n);
        } else if (key == u"wrongblock") {
            ok = parseNumber(value, 0, 65535, &n);
            c.wrongBlock = int(n);
        } else if (key == u"dupack") {
            ok = parseNumber(value, 0, 65535, &n);
            c.dupAck = int(n);
        } else if (key == u"tid") {
            ok = value == u"own" || value == u"same";
            c.ownPort = value == u"own";
        } else if (key == u"reboot") {
            ok = value == u"silent" || value == u"error";
            c.rebootError = value == u"error";
        } else if (key == u"maxfile") {
            ok = parseNumber(value, 0, qint64(1) << 32, &n);
            c.maxFile = n;
        } else if (key == u"dropwrq") {
            ok = parseNumber(value, 0, 1000000, &n);
            c.dropWrq = int(n);
        } else if (key == u"dropblock") {
            ok = parseNumber(value, 0, 65535, &n);
            c.dropBlock = int(n);
        } else if (key == u"droplast") {
            ok = value == u"yes" || value == u"no";
            c.dropLast = value == u"yes";
        } else if (key == u"dropcopies") {
            ok = value == u"all" || parseNumber(value, 1, 1000000, &n);
            c.dropCopies = value == u"all" ? INT_MAX : int(n);
        } else {
            if (error)
                *error = QStringLiteral("unknown TFTP option '%1'").arg(key);
            return std::nullopt;
        }
        if (!ok) {
            if (error)
                *error = QStringLiteral("bad value for %1: '%2'").arg(key, value);
            return std::nullopt;
        }
    }
    return c;
}

struct TftpServer::RouterState {
    TftpServerConfig options;
    bool served = false;
    bool stalled = false;
    bool errorBlockUsed = false;
    bool wrongBlockUsed = false;
    int writeRequests = 0;
    int wrqCopiesDropped = 0;
};

struct TftpServer::Transfer {
    int router = -1;
    QHostAddress client;
    quint16 clientPort = 0;
    std::shared_ptr<File> file; // also in files_ until dropped from there
    int expected = 1;           // next data block number (wraps at 16 bits)
    int copiesDropped = 0;      // of the expected block
    QUdpSocket* own = nullptr;  // tid=own: the port this transfer answers from
};

TftpServer::TftpServer(Discovery& discovery, const SimConfig& config, Transcript* transcript,
                       QObject* parent)
    : QObject(parent), discovery_(discovery), config_(config), transcript_(transcript) {
    routers_.resize(size_t(config_.routers.size()));
    for (int i = 0; i < config_.routers.size(); ++i)
        routers_[size_t(i)].served = config_.routers[i].answers & Answer::Tftp;
    connect(&discovery_, &Discovery::otherTftpDatagram, this, &TftpServer::onDatagram);
}

TftpServer::~TftpServer() = default;

void TftpServer::setOptions(int router, const TftpServerConfig& options) {
    if (router >= 0 && size_t(router) < routers_.size())
        routers_[size_t(router)].options = options;
}

QList<TftpServer::File> TftpServer::files() const {
    QList<File> out;
    for (const auto& f : files_)
        out.append(*f);
    return out;
}

QMap<QByteArray, QByteArray> TftpServer::completedFiles(int router) const {
    QMap<QByteArray, QByteArray> out;
    for (const auto& f : files_)
        if (f->router == router && f->complete)
            out.insert(f->name, f->bytes);
    return out;
}

TftpServer::Transfer* TftpServer::findTransfer(int router, const QHostAddress& from, quint16 port) {
    for (auto& t : transfers_)
        if (t->router == router && t->client == from && t->clientPort == port)
            return t.get();
    return nullptr;
}

void TftpServer::dropTransfer(Transfer* t) {
    for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
        if (it->get() == t) {
            if (t->own) {
                t->own->disconnect(this);
                t->own->deleteLater();
            }
            transfers_.erase(it);
            return;
        }
    }
}

void TftpServer::send(int router, Transfer* t, const QByteArray& d, const QHostAddress& to,
                      quint16 port) {
    QUdpSocket* sock = t && t->own ? t->own : discovery_.socket(router, Discovery::Service::Tftp);
    if (!sock)
        return;
    sock->writeDatagram(d, to, port);
    ++datagramsSent_;
    if (replies_.size() < MaxRepliesKept)
        replies_.append(Reply{d, sock->localPort()});
}

void TftpServer::sendError(int router, Transfer* t, quint16 code, const QByteArray& text,
                           const QHostAddress& to, quint16 port) {
    send(router, t, packet(Error, code) + text + '\0', to, port);
}

void TftpServer::onDatagram(int router, const QByteArray& d, const QHostAddress& from,
                            quint16 fromPort) {
    if (router < 0 || size_t(router) >= routers_.size() || !routers_[size_t(router)].served)
        return;
    if (d.size() < 2)
        return;
    switch (numberAt(d, 0)) {
    case Wrq:
        onWriteRequest(router, d, from, fromPort);
        return;
    case Rrq:
        onReadRequest(router, d, from, fromPort);
        return;
    case Data:
        if (Transfer* t = findTransfer(router, from, fromPort)) {
            onData(router, *t, d);
        } else if (!routers_[size_t(router)].stalled) {
            sendError(router, nullptr, UnknownTid, "Unknown transfer ID", from, fromPort);
        }
        return;
    case Ack:
        return; // this server only receives files
    default:
        if (!routers_[size_t(router)].stalled)
            sendError(router, nullptr, IllegalOperation, "Illegal TFTP operation", from, fromPort);
        return;
    }
}

void TftpServer::onWriteRequest(int router, const QByteArray& d, const QHostAddress& from,
                                quint16 port) {
    RouterState& rs = routers_[size_t(router)];
    // A lost request is not counted: the loader never saw it.
    if (rs.options.dropWrq == rs.writeRequests + 1 &&
        rs.wrqCopiesDropped < rs.options.dropCopies) {
        ++rs.wrqCopiesDropped;
        ++dropped_;
        return;
    }
    ++writeRequests_;
    ++rs.writeRequests;
    if (rs.stalled)
        return;
    if (rs.options.stall == 0) {
        rs.stalled = true;
        return;
    }
    QByteArray name;
    QByteArray mode;
    if (!requestTexts(d, &name, &mode)) {
        sendError(router, nullptr, IllegalOperation, "Illegal TFTP operation", from, port);
        return;
    }
    if (rs.options.errorWrq == rs.writeRequests) {
        sendError(router, nullptr, rs.options.errorCode, rs.options.errorText, from, port);
        return;
    }
    if (Transfer* old = findTransfer(router, from, port))
        dropTransfer(old);
    if (transfers_.size() >= size_t(MaxTransfers))
        dropTransfer(transfers_.front().get());

    auto t = std::make_unique<Transfer>();
    t->router = router;
    t->client = from;
    t->clientPort = port;
    if (files_.size() >= MaxFilesKept)
        files_.removeFirst();
    t->file = std::make_shared<File>(File{router, name, mode, {}, false});
    files_.append(t->file);
    if (rs.options.ownPort) {
        auto* sock = new QUdpSocket(this);
        if (sock->bind(config_.routers[router].address, 0)) {
            t->own = sock;
            Transfer* raw = t.get();
            connect(sock, &QUdpSocket::readyRead, this, [this, sock, raw, router] {
                while (sock->hasPendingDatagrams()) {
                    const QNetworkDatagram nd = sock->receiveDatagram();
                    if (!nd.isValid())
                        break;
                    if (transcript_)
                        transcript_->record(
                            QStringLiteral("udp"),
                            endpoint(nd.senderAddress(), quint16(nd.senderPort())),
                            endpoint(config_.routers[router].address, sock->localPort()),
                            nd.data());
                    // The transfer may have ended meanwhile.
                    bool alive = false;
                    for (auto& x : transfers_)
                        alive = alive || x.get() == raw;
                    if (alive && raw->client == nd.senderAddress() &&
                        raw->clientPort == quint16(nd.senderPort()) && nd.data().size() >= 2 &&
                        numberAt(nd.data(), 0) == Data)
                        onData(router, *raw, nd.data());
                }
            });
        } else {
            delete sock;
        }
    }
    Transfer* raw = t.get();
    transfers_.push_back(std::move(t));
    emit fileStarted(router, name);
    send(router, raw, packet(Ack, 0), from, port);
}

void TftpServer::onData(int router, Transfer& t, const QByteArray& d) {
    RouterState& rs = routers_[size_t(router)];
    if (rs.stalled)
        return;
    if (d.size() < 4) {
        sendError(router, &t, IllegalOperation, "Illegal TFTP operation", t.client, t.clientPort);
        return;
    }
    const quint16 block = numberAt(d, 2);
    const quint16 expected = quint16(t.expected);
    const bool chosen = (rs.options.dropBlock > 0 && block == rs.options.dropBlock) ||
                        (rs.options.dropLast && d.size() - 4 < BlockSize);
    if (block == expected && chosen && t.copiesDropped < rs.options.dropCopies) {
        ++t.copiesDropped;
        ++dropped_;
        return;
    }
    if (block != expected) {
        // A repeated block is acknowledged again; anything else is not answered.
        if (block == quint16(expected - 1))
            send(router, &t, packet(Ack, block), t.client, t.clientPort);
        return;
    }
    if (rs.options.stall > 0 && block == rs.options.stall) {
        rs.stalled = true;
        return;
    }
    if (rs.options.errorBlock > 0 && block == rs.options.errorBlock && !rs.errorBlockUsed) {
        rs.errorBlockUsed = true;
        sendError(router, &t, rs.options.errorCode, rs.options.errorText, t.client, t.clientPort);
        dropTransfer(&t);
        return;
    }
    const QByteArray payload = d.mid(4);
    if (payload.size() > BlockSize) {
        sendError(router, &t, IllegalOperation, "Illegal TFTP operation", t.client, t.clientPort);
        dropTransfer(&t);
        return;
    }
    File& f = *t.file;
    if (f.bytes.size() + payload.size() > rs.options.maxFile) {
        sendError(router, &t, DiskFull, "Disk full or allocation exceeded", t.client, t.clientPort);
        dropTransfer(&t);
        return;
    }
    f.bytes += payload;
    ++t.expected;
    t.copiesDropped = 0;
    quint16 ackNumber = block;
    if (rs.options.wrongBlock > 0 && block == rs.options.wrongBlock && !rs.wrongBlockUsed) {
        rs.wrongBlockUsed = true;
        ackNumber = quint16(block + 1);
    }
    const bool last = payload.size() < BlockSize;
    const QHostAddress client = t.client;
    const quint16 clientPort = t.clientPort;
    send(router, &t, packet(Ack, ackNumber), client, clientPort);
    if (rs.options.dupAck > 0 && block == rs.options.dupAck)
        send(router, &t, packet(Ack, ackNumber), client, clientPort);
    if (last)
        complete(router, t);
}

void TftpServer::complete(int router, Transfer& t) {
    File& f = *t.file;
    f.complete = true;
    const QByteArray name = f.name;
    const QString dir = routers_[size_t(router)].options.dir;
    if (!dir.isEmpty()) {
        // Only the name's last part, so nothing lands outside the directory.
        QString base = QString::fromLatin1(name);
        base = base.mid(std::max(base.lastIndexOf(u'/'), base.lastIndexOf(u'\\')) + 1);
        if (!base.isEmpty() && base != u"." && base != u"..") {
            QFile out(QDir(dir).filePath(base));
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                out.write(f.bytes);
        }
    }
    // The transfer stays for a repeated last block; the client's next write request replaces it.
    emit fileCompleted(router, name);
}

void TftpServer::onReadRequest(int router, const QByteArray& d, const QHostAddress& from,
                               quint16 port) {
    RouterState& rs = routers_[size_t(router)];
    QByteArray name;
    QByteArray mode;
    const bool wellFormed = requestTexts(d, &name, &mode);
    if (wellFormed && name == RebootName) {
        ++rebootRequests_;
        if (rs.options.rebootError)
            sendError(router, nullptr, rs.options.errorCode, rs.options.errorText, from, port);
        emit rebootRequested(router);
        return;
    }
    if (rs.stalled)
        return;
    if (!wellFormed)
        sendError(router, nullptr, IllegalOperation, "Illegal TFTP operation", from, port);
    else
        sendError(router, nullptr, FileNotFound, "File not found", from, port);
}

} // namespace routersim

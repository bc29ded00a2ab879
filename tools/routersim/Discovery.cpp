#include "Discovery.h"

#include "DiscoveryEcho.h"
#include "RouterRestart.h"
#include "Transcript.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace routersim {

namespace {

constexpr int QueryAnswerSize = 68;
constexpr int QueryDetailOffset = 12;
constexpr int QueryDetailMax = 31;
constexpr int QueryRomIdOffset = 44;
constexpr int QueryRomIdMax = 23;
constexpr int BootSize = 548;
constexpr int BootRomIdOffset = 108;
constexpr int BootRomIdMax = 31;
constexpr int BootDetailOffset = 140;
constexpr int BootDetailMax = 63;
constexpr int TftpRomIdMax = 500; // the answer stays within one 516-byte TFTP packet
constexpr int DefaultRomIdMax = 27;
constexpr int OversizeBytes = 1400; // more than the largest receive size of any probe (548)
const QByteArray LoaderTag("$Kestro");

// Writes text (cut to max) at offset; the zeros around it are already there.
void put(QByteArray& a, int offset, const QByteArray& text, int max) {
    const QByteArray t = text.left(max);
    a.replace(offset, t.size(), t);
}

QString endpoint(const QHostAddress& a, quint16 port) {
    return a.toString() + u':' + QString::number(port);
}

} // namespace

Discovery::Discovery(const SimConfig& config, Transcript* transcript, QObject* parent)
    : QObject(parent), config_(config), transcript_(transcript) {}

Discovery::~Discovery() = default;

quint16 Discovery::portOf(Service service) const {
    switch (service) {
    case Service::Query:
        return config_.ports.query;
    case Service::Boot:
        return config_.ports.boot;
    case Service::Tftp:
        return config_.ports.tftp;
    }
    return 0;
}

QUdpSocket* Discovery::socket(int router, Service service) const {
    if (router < 0 || router >= routerSockets_.size())
        return nullptr;
    return routerSockets_[router][size_t(service)];
}

bool Discovery::start(QString* error) {
    const auto mode = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;
    const std::array<Service, 3> services{Service::Query, Service::Boot, Service::Tftp};
    for (int i = 0; i < config_.routers.size(); ++i) {
        std::array<QUdpSocket*, 3> sockets{};
        for (Service s : services) {
            auto* sock = new QUdpSocket(this);
            if (!sock->bind(config_.routers[i].address, portOf(s), mode)) {
                *error =
                    QStringLiteral("cannot bind %1: %2")
                        .arg(endpoint(config_.routers[i].address, portOf(s)), sock->errorString());
                return false;
            }
            connect(sock, &QUdpSocket::readyRead, this,
                    [this, sock, s, i] { readPending(sock, s, i); });
            sockets[size_t(s)] = sock;
        }
        routerSockets_ << sockets;
    }
    if (config_.listenBroadcast) {
        for (Service s : services) {
            auto* sock = new QUdpSocket(this);
            if (!sock->bind(QHostAddress::AnyIPv4, portOf(s), mode)) {
                *error = QStringLiteral("cannot bind 0.0.0.0:%1: %2")
                             .arg(portOf(s))
                             .arg(sock->errorString());
                return false;
            }
            connect(sock, &QUdpSocket::readyRead, this,
                    [this, sock, s] { readPending(sock, s, -1); });
            broadcastSockets_[size_t(s)] = sock;
        }
    }
    if (config_.answerEcho) {
        echo_ = std::make_unique<DiscoveryEcho>(config_, transcript_);
        if (!echo_->start(error))
            return false;
    }
    return true;
}

void Discovery::readPending(QUdpSocket* sock, Service service, int router) {
    while (sock->hasPendingDatagrams()) {
        const QNetworkDatagram d = sock->receiveDatagram();
        if (!d.isValid())
            break;
        QHostAddress to = d.destinationAddress();
        if (router >= 0)
            to = config_.routers[router].address;
        if (transcript_)
            transcript_->record(
                QStringLiteral("udp"), endpoint(d.senderAddress(), quint16(d.senderPort())),
                endpoint(to.isNull() ? QHostAddress(QHostAddress::AnyIPv4) : to, sock->localPort()),
                d.data());
        const QHostAddress from = d.senderAddress();
        const quint16 fromPort = quint16(d.senderPort());
        if (router >= 0) {
            answer(router, service, d.data(), from, fromPort);
            continue;
        }
        // On 0.0.0.0: a broadcast reaches every router; anything else addressed to a router
        // (its own socket missed it) reaches that router only.
        for (int i = 0; i < config_.routers.size(); ++i) {
            if (to.isNull() || to == QHostAddress(QHostAddress::Broadcast) ||
                to == config_.routers[i].address)
                answer(i, service, d.data(), from, fromPort);
        }
    }
}

unsigned Discovery::requestKind(Service service, const QByteArray& r) {
    switch (service) {
    case Service::Query:
        if (r.startsWith("QD"))
            return Answer::Query;
        if (r.startsWith("QQ"))
            return Answer::Default;
        return 0;
    case Service::Boot:
        return r.size() >= 3 && quint8(r[0]) == 0xC0 && r[1] == 1 && r[2] == 1 ? Answer::Boot : 0;
    case Service::Tftp:
        return r.startsWith(QByteArray("\0\1VN\0", 5)) ? Answer::Tftp : 0;
    }
    return 0;
}

void Discovery::answer(int router, Service service, const QByteArray& request,
                       const QHostAddress& to, quint16 toPort) {
    RouterConfig r = config_.routers[router];
    if (r.restart) {
        if (r.restart->silent())
            return;
        if (r.restart->restarted()) {
            r.detail = r.restart->detail(r.detail);
            // The recovery loader wrote the firmware: a crashed router comes back normal.
            if (r.state == RouterState::Crashed && !r.options.contains(QStringLiteral("answers")))
                r.answers = defaultAnswers(RouterState::Normal);
        }
    }
    const unsigned kind = requestKind(service, request);
    if (kind == 0) {
        if (service == Service::Tftp)
            emit otherTftpDatagram(router, request, to, toPort);
        return;
    }
    if (!(r.answers & kind))
        return;
    const QList<QByteArray> out = answersFor(r, kind);
    QUdpSocket* sock = routerSockets_[router][size_t(service)];
    auto send = [sock, out, to, toPort] {
        for (const QByteArray& d : out)
            sock->writeDatagram(d, to, toPort);
    };
    if (r.delayMs > 0)
        QTimer::singleShot(r.delayMs, sock, send);
    else
        send();
}

QList<QByteArray> Discovery::answersFor(const RouterConfig& r, unsigned kind) {
    QByteArray a;
    switch (kind) {
    case Answer::Query:
        a = queryAnswer(r);
        break;
    case Answer::Boot:
        a = bootAnswer(r);
        break;
    case Answer::Tftp:
        a = tftpAnswer(r);
        break;
    case Answer::Default:
        a = defaultAnswer(r);
        break;
    default:
        return {};
    }
    if (r.cut >= 0)
        a.truncate(r.cut);
    QList<QByteArray> out;
    for (int i = 0; i < r.oversize; ++i)
        out << QByteArray(OversizeBytes, 'O');
    if (kind == Answer::Boot || kind == Answer::Tftp) {
        for (int i = 0; i < r.junk; ++i)
            out << junk(kind);
    }
    for (int i = 0; i <= r.extra; ++i)
        out << a;
    return out;
}

QByteArray Discovery::queryAnswer(const RouterConfig& r) {
    QByteArray a(QueryAnswerSize, '\0');
    a[0] = 'Q';
    a[1] = 'D';
    a[2] = 1;
    put(a, QueryDetailOffset, r.detail, QueryDetailMax);
    put(a, QueryRomIdOffset, r.romId, QueryRomIdMax);
    if (r.shortReplies)
        a.truncate(QueryRomIdOffset + std::min<int>(int(r.romId.size()), QueryRomIdMax));
    return a;
}

QByteArray Discovery::bootAnswer(const RouterConfig& r) {
    QByteArray a(BootSize, '\0');
    a[0] = char(0xC1);
    a[1] = 1;
    a[2] = 1;
    put(a, BootRomIdOffset, r.romId, BootRomIdMax);
    put(a, BootDetailOffset, r.detail, BootDetailMax);
    if (r.shortReplies)
        a.truncate(BootDetailOffset + std::min<int>(int(r.detail.size()), BootDetailMax));
    return a;
}

QByteArray Discovery::tftpAnswer(const RouterConfig& r) {
    QByteArray a("\0\3\0\1", 4); // DATA, block 1
    a += LoaderTag + r.romId.left(TftpRomIdMax);
    if (!r.shortReplies)
        a += '\0';
    return a;
}

QByteArray Discovery::defaultAnswer(const RouterConfig& r) {
    QByteArray a("QQ\1\0", 4);
    a += r.romId.left(DefaultRomIdMax);
    if (!r.shortReplies)
        a += '\0';
    return a;
}

QByteArray Discovery::junk(unsigned kind) {
    if (kind == Answer::Tftp)
        return QByteArray("\0\5\0\1File not found\0", 19); // TFTP ERROR 1
    QByteArray a(BootSize, '\0');
    a.replace(200, 4, "junk");
    return a;
}

} // namespace routersim

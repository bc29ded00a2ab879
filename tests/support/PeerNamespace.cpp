#include "support/PeerNamespace.h"

#include "support/NetNamespace.h"

#include <QDeadlineTimer>
#include <QThread>

#include <unistd.h>

namespace fw::test {

namespace {

constexpr std::chrono::milliseconds Poll{20};
// The holder only keeps the peer alive; the destructor ends it long before this.
const QString HolderSeconds = QStringLiteral("600");

// "net:[inode]" (Qt's symLinkTarget would prefix the link's own folder).
QByteArray netnsOf(const QString& pid) {
    char target[64] = {};
    const QByteArray link = QStringLiteral("/proc/%1/ns/net").arg(pid).toLocal8Bit();
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    return n > 0 ? QByteArray(target, n) : QByteArray();
}

} // namespace

PeerNamespace::PeerNamespace(QString nearName, QString nearAddress, QString farName,
                             QString farAddress)
    : near_(std::move(nearName)), nearAddress_(std::move(nearAddress)), far_(std::move(farName)),
      farAddress_(std::move(farAddress)) {}

PeerNamespace::~PeerNamespace() {
    // The pair first, synchronously: a namespace that ends takes its links away only later, and
    // the next test may want the same names.
    NetNamespace::run(nearEnter_ + QStringList{QStringLiteral("ip"), QStringLiteral("link"),
                                               QStringLiteral("del"), near_});
    if (holder_.state() != QProcess::NotRunning) {
        holder_.kill();
        holder_.waitForFinished(int(ReadyTimeout.count()));
    }
}

QStringList PeerNamespace::enter() const {
    return {QStringLiteral("nsenter"), QStringLiteral("-t"), QString::number(holder_.processId()),
            QStringLiteral("-n"), QStringLiteral("--")};
}

bool PeerNamespace::start(QString* error) {
    if (!NetNamespace::ready()) {
        *error = QStringLiteral("a peer namespace is made only inside the private namespace");
        return false;
    }
    holder_.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("--"),
                                              QStringLiteral("sleep"), HolderSeconds});
    if (!holder_.waitForStarted(int(ReadyTimeout.count()))) {
        *error = QStringLiteral("cannot start unshare: ") + holder_.errorString();
        return false;
    }
    const QString pid = QString::number(holder_.processId());
    const QByteArray own = netnsOf(QStringLiteral("self"));
    QDeadlineTimer deadline(ReadyTimeout);
    while (netnsOf(pid) == own || netnsOf(pid).isEmpty()) {
        if (deadline.hasExpired() || holder_.state() == QProcess::NotRunning) {
            *error = QStringLiteral("the peer namespace did not come up");
            return false;
        }
        QThread::msleep(Poll.count());
    }
    const QString ip = QStringLiteral("ip");
    const QStringList inPeer = enter() + QStringList{ip};
    const QStringList inNear = nearEnter_ + QStringList{ip};
    const QList<QStringList> steps{
        inNear + QStringList{QStringLiteral("link"), QStringLiteral("add"), near_,
                             QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
                             QStringLiteral("name"), far_, QStringLiteral("netns"), pid},
        inNear + QStringList{QStringLiteral("addr"), QStringLiteral("add"), nearAddress_,
                             QStringLiteral("brd"), QStringLiteral("+"), QStringLiteral("dev"),
                             near_},
        inNear +
            QStringList{QStringLiteral("link"), QStringLiteral("set"), near_, QStringLiteral("up")},
        inPeer + QStringList{QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                             QStringLiteral("up")},
        inPeer + QStringList{QStringLiteral("addr"), QStringLiteral("add"), farAddress_,
                             QStringLiteral("brd"), QStringLiteral("+"), QStringLiteral("dev"),
                             far_},
        inPeer +
            QStringList{QStringLiteral("link"), QStringLiteral("set"), far_, QStringLiteral("up")},
    };
    for (const QStringList& step : steps) {
        int rc = 0;
        const QString out = NetNamespace::run(step, &rc);
        if (rc != 0) {
            *error = step.join(u' ') + QStringLiteral(": ") + out.trimmed();
            return false;
        }
    }
    return true;
}

} // namespace fw::test

#include "search/DeviceSearch.h"

#include "net/SocketErrors.h"
#include "net/TcpProbe.h"
#include "process/ProcessState.h"
#include "process/WaitMs.h"

#include <QCoreApplication>

namespace fw {

namespace {

const QString Broadcast = UdpEndpoint::BroadcastAddress;
const QString BoxCaption = QStringLiteral("fwupgrade");
const QString EchoByTcp =
    QStringLiteral("ICMP echo not permitted: an address counts as answering when its port %1 "
                   "accepts or refuses a TCP connection");
// The capabilities an installed copy is given; the command names this very executable.
const QString GrantCommand = QStringLiteral("sudo setcap cap_net_raw,cap_net_bind_service+ep %1");

constexpr int QueryReplySize = 68;
constexpr int BootReplySize = 548;
constexpr int TftpReplySize = 516;
constexpr int DefaultReplySize = 64;

constexpr int QueryDetailOffset = 12;
constexpr int QueryRomIdOffset = 44;
constexpr int BootRomIdOffset = 108;
constexpr int BootDetailOffset = 140;
constexpr int BootRequestSize = 548;
constexpr int BootRomIdMax = 15; // bytes 108 ... 122, byte 123 stays zero
constexpr int TftpTextOffset = 4;
const QByteArray LoaderTag("$Kestro");

constexpr int ProgressStep = 2;
constexpr int ProgressDone = 100;

} // namespace

DeviceSearch::DeviceSearch(Ports ports) : ports_(ports) {
    setNoRouteToHostHook(&DeviceSearch::noRouteToHost);
}

void DeviceSearch::requestRepeat() {
    ProcessState::repeatSearch = true;
}

bool DeviceSearch::repeatRequested() {
    return ProcessState::repeatSearch;
}

void DeviceSearch::noRouteToHost() {
    ProcessState::repeatSearch = false;
}

DeviceSearch::~DeviceSearch() = default;

void DeviceSearch::SetSearchSettings(quint8 flags, const QString& romId, const QString& ip1,
                                     const QString& ip2, const QString& ip3, const QString& ip4) {
    const QString keep = QStringLiteral("default");
    const std::array<const QString*, 4> given{&ip1, &ip2, &ip3, &ip4};
    for (size_t i = 0; i < given.size(); ++i) {
        if (*given[i] != keep)
            defaults_[i] = *given[i];
    }
    if (flags != SearchFlag::Unchanged)
        flags_ = flags;
    romId_ = romId;
}

void DeviceSearch::ClearDevices() {
    devices_.clear();
}

void DeviceSearch::broadcastSearch() {
    ClearDevices();
    interfaces_ = interfaceFunction_ ? interfaceFunction_() : NetInterface::broadcastCapable();
    arrivalLogged_.clear();
    if (!interfaces_.isEmpty()) {
        QStringList names;
        for (const NetInterface& i : interfaces_)
            names << QStringLiteral("%1 (%2)").arg(i.name, i.address);
        sinks_.logLine(QStringLiteral("Searching interfaces : ") +
                       names.join(QStringLiteral(", ")));
    }
    SearchDevices(Broadcast);
    interfaces_.clear();
}

void DeviceSearch::SearchDevices(const QString& address) {
    abandoned_ = false;
    socketError_.clear();
    if ((flags_ & SearchFlag::Query) && !Probe(ProbeKind::Query, address, ports_.query))
        return;
    if ((flags_ & SearchFlag::BootPort) && !Probe(ProbeKind::BootPort, address, ports_.bootServer))
        return;
    if ((flags_ & SearchFlag::Tftp) && !Probe(ProbeKind::Tftp, address, ports_.tftp))
        return;
    if ((flags_ & SearchFlag::DefaultAddressA) && (flags_ & SearchFlag::DefaultAddressB)) {
        for (const QString& target : defaults_) {
            if (!target.isEmpty() && !Probe(ProbeKind::DefaultAddress, target, ports_.query))
                return;
        }
    }
    Probe(ProbeKind::AddressOnly, address, 0);
}

int DeviceSearch::broadcastWaits() const {
    int n = 1;
    for (const quint8 flag : {SearchFlag::Query, SearchFlag::BootPort, SearchFlag::Tftp})
        n += (flags_ & flag) ? 1 : 0;
    if ((flags_ & SearchFlag::DefaultAddressA) && (flags_ & SearchFlag::DefaultAddressB)) {
        for (const QString& target : defaults_)
            n += target.isEmpty() ? 0 : 1;
    }
    return n;
}

bool DeviceSearch::Probe(int kind, const QString& address, quint16 port) {
    if (address != Broadcast && IsListed(address))
        return true;
    const bool usesSocket = kind >= ProbeKind::Query && kind <= ProbeKind::BootPort;
    if (usesSocket) {
        if (kind == ProbeKind::BootPort)
            udpSocket1_.setLocalPort(ports_.bootClient);
        udpSocket1_.setRemoteAddress(address);
        udpSocket1_.setRemotePort(port);
        const bool opened = udpSocket1_.open();
        if (!opened || !sendProbe(request(kind))) {
            const QString text = udpSocket1_.lastError();
            const int code = udpSocket1_.lastErrorCode();
            udpSocket1_.close();
            // Port 68 needs a privilege, or another run holds it: the other probes go on.
            if (!opened && kind == ProbeKind::BootPort &&
                (code == WsaError::AccessDenied || code == WsaError::AddressInUse)) {
                skipBootProbe(code);
                return true;
            }
            socketFailure(text);
            return false;
        }
    }
    if (wait_)
        wait_(ProbeWait);
    else
        WaitMs(ProbeWait.count(), false);
    if (usesSocket) {
        QByteArray buffer(receiveSize(kind), '\0');
        QString sender;
        unsigned arrival = 0;
        for (int i = 0; i < MaxDatagramsPerProbe; ++i) {
            const int n = udpSocket1_.receiveFrom(buffer.data(), int(buffer.size()), &sender,
                                                  nullptr, &arrival);
            // One oversized or empty datagram must not hide the replies behind it.
            if (n == UdpEndpoint::Skipped)
                continue;
            if (n < 1)
                break;
            handleReply(kind, buffer.left(n), sender,
                        interfaces_.isEmpty() ? QString() : NetInterface::nameOf(arrival));
        }
    }
    if (devices_.count() >= 1) {
        if (progress_)
            progress_->setProgressPosition(ProgressDone);
        udpSocket1_.close();
        return true;
    }
    udpSocket1_.close();
    if (kind == ProbeKind::AddressOnly && address != Broadcast && echo(address)) {
        devices_.append({DeviceType::EchoOnly, address, QStringLiteral("unknow module"), {}});
        if (progress_)
            progress_->setProgressPosition(ProgressDone);
    }
    return true;
}

bool DeviceSearch::sendProbe(const QByteArray& datagram) {
    if (udpSocket1_.remoteAddress() != Broadcast || interfaces_.isEmpty())
        return udpSocket1_.send(datagram);
    // Every interface at once: one socket, one copy per interface, then one common wait.
    bool sent = false;
    for (const NetInterface& i : interfaces_) {
        if (udpSocket1_.send(datagram, i.index))
            sent = true;
        else
            sinks_.logLine(
                QStringLiteral("Search on %1 failed : %2").arg(i.name, udpSocket1_.lastError()));
    }
    return sent;
}

void DeviceSearch::skipBootProbe(int wsaError) {
    if (bootSkipLogged_.contains(wsaError))
        return;
    bootSkipLogged_.insert(wsaError);
    const QString port = QString::number(ports_.bootClient);
    if (wsaError == WsaError::AccessDenied) {
        const QString program = QCoreApplication::instance()
                                    ? QCoreApplication::applicationFilePath()
                                    : QStringLiteral("/usr/bin/fwupgrade");
        sinks_.logLine(QStringLiteral("Boot-port probe skipped: local port %1 needs a privilege; "
                                      "grant it with: ")
                           .arg(port) +
                       GrantCommand.arg(program));
    } else {
        sinks_.logLine(QStringLiteral("Boot-port probe skipped: local port %1 is in use by "
                                      "another program (another search or a DHCP client)")
                           .arg(port));
    }
}

void DeviceSearch::socketFailure(const QString& text) {
    abandoned_ = true;
    socketError_ = text;
    sinks_.showBox(text, BoxCaption, BoxButtons::Ok, BoxIcon::Error);
}

QByteArray DeviceSearch::request(int kind) const {
    switch (kind) {
    case ProbeKind::Query:
        return QByteArray("QD\0\0", 4);
    case ProbeKind::BootPort: {
        QByteArray r(BootRequestSize, '\0');
        r[0] = char(0xC0);
        r[1] = char(0x01);
        r[2] = char(0x01);
        const QByteArray id = romId_.toLatin1().left(BootRomIdMax);
        r.replace(BootRomIdOffset, id.size(), id);
        return r;
    }
    case ProbeKind::Tftp:
        return QByteArray("\0\1VN\0octet\0", 11);
    case ProbeKind::DefaultAddress:
        return QByteArray("QQ\0", 3);
    default:
        return {};
    }
}

int DeviceSearch::receiveSize(int kind) {
    switch (kind) {
    case ProbeKind::Query:
        return QueryReplySize;
    case ProbeKind::BootPort:
        return BootReplySize;
    case ProbeKind::Tftp:
        return TftpReplySize;
    case ProbeKind::DefaultAddress:
        return DefaultReplySize;
    default:
        return 0;
    }
}

bool DeviceSearch::acceptsReply(int kind, const QByteArray& d) {
    switch (kind) {
    case ProbeKind::Query:
    case ProbeKind::DefaultAddress:
        return !d.isEmpty();
    case ProbeKind::BootPort:
        return (d.size() > 0 && quint8(d[0]) == 0xC1) || (d.size() > 3 && quint8(d[3]) == 0x10);
    case ProbeKind::Tftp:
        return d.size() >= TftpTextOffset + LoaderTag.size() &&
               d.mid(TftpTextOffset, LoaderTag.size()) == LoaderTag;
    default:
        return false;
    }
}

QString DeviceSearch::textAt(const QByteArray& d, int offset) {
    if (offset < 0 || offset >= d.size())
        return {};
    qsizetype end = d.indexOf('\0', offset);
    if (end < 0)
        end = d.size();
    return QString::fromLatin1(d.constData() + offset, end - offset);
}

void DeviceSearch::handleReply(int kind, const QByteArray& datagram, const QString& sender,
                               const QString& arrival) {
    if (progress_)
        progress_->advanceProgress(ProgressStep);
    if (!acceptsReply(kind, datagram))
        return;
    // A full list takes no more records; skip the echo that could not change anything.
    if (devices_.count() >= DeviceList::Capacity)
        return;

    qint32 base = DeviceType::Normal;
    DeviceRecord record;
    record.address = sender;
    switch (kind) {
    case ProbeKind::Query:
        record.romId = textAt(datagram, QueryRomIdOffset);
        record.detail = textAt(datagram, QueryDetailOffset);
        break;
    case ProbeKind::BootPort:
        record.romId = textAt(datagram, BootRomIdOffset);
        record.detail = textAt(datagram, BootDetailOffset);
        break;
    case ProbeKind::Tftp:
        base = DeviceType::Crash;
        record.romId = textAt(datagram, TftpTextOffset);
        record.detail = QStringLiteral("unknown");
        break;
    case ProbeKind::DefaultAddress:
        base = DeviceType::Default;
        record.romId = QStringLiteral("default IP");
        record.detail = QStringLiteral("unknown");
        break;
    default:
        return;
    }

    const bool answered = echo(sender);
    const bool listed = IsListed(sender);
    if (kind == ProbeKind::DefaultAddress && answered && listed)
        return;
    qint32 code = answered ? base : base + DeviceType::Unreachable;
    if (listed)
        code = DeviceType::duplicateOf(code);
    record.type = code;
    devices_.append(record);
    if (!arrival.isEmpty() && !arrivalLogged_.contains(sender)) {
        arrivalLogged_.insert(sender);
        sinks_.logLine(QStringLiteral("Router %1 answered on %2").arg(sender, arrival));
    }
}

RouterAnswer DeviceSearch::askRouter(const QString& address) {
    RouterAnswer a;
    // A socket of its own: a search in the window may be waiting on udpSocket1_ meanwhile.
    UdpEndpoint socket;
    socket.setRemoteAddress(address);
    socket.setRemotePort(ports_.query);
    if (socket.open() && socket.send(request(ProbeKind::Query))) {
        WaitMs(ProbeWait.count(), false);
        QByteArray buffer(receiveSize(ProbeKind::Query), '\0');
        QString sender;
        for (int i = 0; i < MaxDatagramsPerProbe && !a.query; ++i) {
            const int n = socket.receiveFrom(buffer.data(), int(buffer.size()), &sender, nullptr);
            if (n < 1)
                break;
            const QByteArray d = buffer.left(n);
            if (sender != address || !acceptsReply(ProbeKind::Query, d))
                continue;
            a.query = true;
            a.romId = textAt(d, QueryRomIdOffset);
            a.detail = textAt(d, QueryDetailOffset);
        }
    }
    socket.close();
    a.echo = echo(address);
    return a;
}

bool DeviceSearch::echo(const QString& address) {
    if (echoFunction_)
        return echoFunction_(address);
    if (!echoOpenTried_) {
        echoOpenTried_ = true;
        if (!ping1_.open()) {
            echoByTcp_ = true;
            sinks_.logLine(EchoByTcp.arg(EchoFallbackPort));
        }
    }
    ping1_.setAddress(address);
    if (echoByTcp_)
        return TcpProbe::answers(address, EchoFallbackPort, ping1_.timeout());
    return ping1_.isOpen() && ping1_.ping() > 0;
}

QString DeviceSearch::typeText(qint32 type, int listMode) {
    const bool detailed = listMode == ListDetailed;
    switch (type) {
    case 1:
        return detailed ? QStringLiteral("   normal") : QString();
    case 2:
        return detailed ? QStringLiteral("   default") : QString();
    case 0:
        return QStringLiteral("   crash");
    case 4:
        return detailed ? QStringLiteral("   normal IP unreachable")
                        : QStringLiteral("   IP unreachable");
    case 5:
        return detailed ? QStringLiteral("   default IP unreachable")
                        : QStringLiteral("   IP unreachable");
    case 3:
        return QStringLiteral("   crash and IP unreachable");
    case 6:
        return QStringLiteral("   unknow device");
    case -2:
        return detailed ? QStringLiteral("   normal IP duplicate")
                        : QStringLiteral("   IP duplicate");
    case -3:
        return detailed ? QStringLiteral("   default IP duplicate")
                        : QStringLiteral("   IP duplicate");
    case -1:
        return QStringLiteral("   crash and IP duplicate");
    case -5:
        return detailed ? QStringLiteral("   normal IP unreachable and duplicate")
                        : QStringLiteral("   IP unreachable and duplicate");
    case -6:
        return detailed ? QStringLiteral("   default IP unreachable and duplicate")
                        : QStringLiteral("   IP unreachable and duplicate");
    case -4:
        return detailed ? QStringLiteral("   crash IP unreachable and duplicate")
                        : QStringLiteral("   crash and IP unreachable and duplicate");
    default:
        return QStringLiteral("  unknow error");
    }
}

QStringList DeviceSearch::listLines(int listMode) const {
    QStringList lines;
    for (int i = 0; i < devices_.count(); ++i) {
        const DeviceRecord& r = devices_.at(i);
        QString line = r.address;
        if (listMode == ListDetailed)
            line += QStringLiteral("  ") + r.romId + QStringLiteral(" - ") + r.detail;
        lines << line + typeText(r.type, listMode);
    }
    return lines;
}

QString DeviceSearch::countText() const {
    const int n = devices_.count();
    return QString::number(n) +
           (n <= 1 ? QStringLiteral(" device found") : QStringLiteral(" devices found"));
}

} // namespace fw

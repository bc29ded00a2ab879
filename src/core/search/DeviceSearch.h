#pragma once
// The device search engine: UDP probes and ICMP echo, classification, the device list and its
// list lines. No widgets: the search window (SearchWindow) drives it. GUI thread.

#include "net/IcmpEcho.h"
#include "net/NetInterface.h"
#include "net/UdpEndpoint.h"
#include "search/DeviceList.h"
#include "ui/Sinks.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>
#include <chrono>
#include <functional>

namespace fw {

// Where probes go; tests override the ports, the program keeps the defaults.
struct SearchPorts {
    quint16 query = 9;
    quint16 bootServer = 67;
    quint16 bootClient = 68;
    quint16 tftp = 69;
};

// Probe kinds, numbered as the search numbers them.
namespace ProbeKind {
inline constexpr int Query = 1;
inline constexpr int Tftp = 2;
inline constexpr int DefaultAddress = 3;
inline constexpr int BootPort = 4;
inline constexpr int AddressOnly = 5;
} // namespace ProbeKind

// Search flag bits (the settings record's flag byte).
namespace SearchFlag {
inline constexpr quint8 Query = 0x01;
inline constexpr quint8 BootPort = 0x02;
inline constexpr quint8 DefaultAddressA = 0x04; // with DefaultAddressB
inline constexpr quint8 Tftp = 0x08;
inline constexpr quint8 DefaultAddressB = 0x80;
inline constexpr quint8 Unchanged = 0xFF; // SetSearchSettings keeps the flags
} // namespace SearchFlag

// What one address said to the unicast query and the echo.
struct RouterAnswer {
    bool query = false; // a query answer came from the address (romId and detail from it)
    bool echo = false;
    QString romId;
    QString detail;
    bool answered() const { return query || echo; }
};

class DeviceSearch {
public:
    using Ports = SearchPorts;
    using EchoFunction = std::function<bool(const QString& address)>;
    // How a probe waits for its replies (by default without letting events run).
    using WaitFunction = std::function<void(std::chrono::milliseconds)>;
    using InterfaceFunction = std::function<QList<NetInterface>()>;

    static constexpr int ListPlain = 111;
    static constexpr int ListDetailed = 222;
    // Each probe listens this long before reading its replies.
    static constexpr std::chrono::milliseconds ProbeWait{200};
    // Datagrams read per probe at most, so a flood cannot hold the search.
    static constexpr int MaxDatagramsPerProbe = 1024;
    // Where ICMP echo is not permitted, a TCP connection to this port stands in for it, given
    // no longer than the echo.
    static constexpr quint16 EchoFallbackPort = 80;

    // Installs the search's no-route hook in the socket layer.
    explicit DeviceSearch(Ports ports = Ports{});
    ~DeviceSearch();

    // The process-wide repeat-search flag: the search window sets it before its first search and
    // repeats the search once while it stays set; a socket error "No route to host." clears it.
    static void requestRepeat();
    static bool repeatRequested();
    static void noRouteToHost();

    DeviceList& devices() { return devices_; }
    const DeviceList& devices() const { return devices_; }

    // Where the search window's progress bar is (may be null).
    void setProgress(ProgressSink* progress) { progress_ = progress; }
    // Where socket-layer failures are reported ("winsock.sendto failed, error #%d") and the log
    // lines go: interfaces searched, a skipped boot-port probe, the echo's TCP fallback.
    void setSinks(const Sinks& sinks) { sinks_ = sinks; }

    void SetSearchSettings(quint8 flags, const QString& romId, const QString& ip1,
                           const QString& ip2, const QString& ip3, const QString& ip4);
    void ClearDevices();
    void SearchDevices(const QString& address);
    // SearchDevices for an address a person gave (typed, or from the command line or settings):
    // the status line says what is waited for while its name is looked up and while it is
    // probed, and the System Log gets every step's outcome.
    void probeAddress(const QString& address);
    bool IsListed(const QString& address) const { return devices_.isListed(address); }

    // One broadcast search: ClearDevices, SearchDevices("255.255.255.255"). Each broadcast
    // probe goes out of every interface NetInterface::broadcastCapable() lists (logged once per
    // search), or by the default route when there is none.
    void broadcastSearch();

    // One ICMP echo (56 bytes, TTL 64, 150 ms); true when the address answered. Where no echo
    // socket is permitted, a TCP connection attempt to EchoFallbackPort decides instead.
    bool echo(const QString& address);

    // The query probe to one address and the echo, leaving the device list alone (the wait for
    // a router to restart after its upgrade).
    RouterAnswer askRouter(const QString& address);

    // The router list lines in list mode 111 (plain) or 222 (detailed), in device-list order,
    // and the status text ("N device found" / "N devices found").
    QStringList listLines(int listMode) const;
    QString countText() const;

    quint8 searchFlags() const { return flags_; }
    QString romId() const { return romId_; }
    QString defaultAddress(int n) const { return defaults_[size_t(n - 1)]; }

    // --- the pieces of a search, public for tests that feed datagrams by hand
    // One probe; false when the socket layer failed (the failure has been shown in a box and
    // the search is abandoned).
    bool Probe(int kind, const QString& address, quint16 port);
    // The request a probe kind sends (empty for the address-only step).
    QByteArray request(int kind) const;
    static int receiveSize(int kind);
    static bool acceptsReply(int kind, const QByteArray& datagram);
    // One datagram received by a probe: progress, acceptance test, classification, record.
    // `arrival` names the interface it came in on during a search over several interfaces.
    void handleReply(int kind, const QByteArray& datagram, const QString& sender,
                     const QString& arrival = {});
    // The zero-terminated text at `offset`; it ends at the datagram's end when no zero follows.
    static QString textAt(const QByteArray& datagram, int offset);
    // The device type text appended to the address in list mode 111 or 222.
    static QString typeText(qint32 type, int listMode);

    // Replaces the probes' wait (the search window keeps itself painted); empty restores it.
    void setWaitFunction(WaitFunction wait) { wait_ = std::move(wait); }
    // The probe waits a broadcast search makes at most: one per enabled probe and one for the
    // address-only step.
    int broadcastWaits() const;

    // Replaces the ICMP echo (tests); an empty function restores it.
    void setEchoFunction(EchoFunction echo) { echoFunction_ = std::move(echo); }
    // Replaces the interface list of the broadcast search (tests); an empty function restores it.
    void setInterfaceFunction(InterfaceFunction f) { interfaceFunction_ = std::move(f); }
    IcmpEcho& ping1() { return ping1_; }
    // The last SearchDevices / broadcastSearch stopped at a socket-layer failure.
    bool lastSearchAbandoned() const { return abandoned_; }
    QString lastSocketError() const { return socketError_; }

private:
    void socketFailure(const QString& text);
    bool sendProbe(const QByteArray& datagram);
    void skipBootProbe(int wsaError);

    Ports ports_;
    DeviceList devices_;
    ProgressSink* progress_ = nullptr;
    Sinks sinks_;
    QString romId_ = QStringLiteral("Ulvika");
    std::array<QString, 4> defaults_{QStringLiteral("192.168.123.254"),
                                     QStringLiteral("192.168.2.1"), QStringLiteral("192.168.0.1"),
                                     QStringLiteral("192.168.1.254")};
    quint8 flags_ = 0x9F;
    UdpEndpoint udpSocket1_;
    IcmpEcho ping1_;
    bool echoOpenTried_ = false;
    bool echoByTcp_ = false;
    EchoFunction echoFunction_;
    WaitFunction wait_;
    InterfaceFunction interfaceFunction_;
    // The interfaces of the broadcast search in progress (empty: the default route).
    QList<NetInterface> interfaces_;
    QSet<QString> arrivalLogged_;
    QSet<int> bootSkipLogged_;
    bool abandoned_ = false;
    QString socketError_;
};

} // namespace fw

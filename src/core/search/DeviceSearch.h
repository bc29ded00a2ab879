#pragma once
// The device search engine: UDP probes and ICMP echo, classification, the device list and its
// list lines. No widgets: the search window (TRefreshForm) drives it. GUI thread.

#include "search/DeviceList.h"
#include "ui/Sinks.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>

namespace fw {

// Where probes go; tests override the ports, the program keeps the defaults.
struct SearchPorts {
    quint16 query = 9;
    quint16 bootServer = 67;
    quint16 bootClient = 68;
    quint16 tftp = 69;
};

class DeviceSearch {
public:
    using Ports = SearchPorts;
    explicit DeviceSearch(Ports ports = Ports{});
    ~DeviceSearch();

    DeviceList& devices() { return devices_; }
    const DeviceList& devices() const { return devices_; }

    // Where the search window's progress bar is (may be null).
    void setProgress(ProgressSink* progress) { progress_ = progress; }
    // Where socket-layer failures are reported ("winsock.bind failed, error #%d"), and the log
    // line said when no ICMP echo socket may be opened.
    void setSinks(const Sinks& sinks) { sinks_ = sinks; }

    void SetSearchSettings(quint8 flags, const QString& romId, const QString& ip1,
                           const QString& ip2, const QString& ip3, const QString& ip4);
    void ClearDevices();
    void SearchDevices(const QString& address);
    bool IsListed(const QString& address) const { return devices_.isListed(address); }

    // One broadcast search: ClearDevices, SearchDevices("255.255.255.255").
    void broadcastSearch();

    // One ICMP echo (56 bytes, TTL 64, 150 ms); true when the address answered.
    bool echo(const QString& address);

    // The router list lines in list mode 111 (plain) or 222 (detailed), in device-list order,
    // and the status text ("N device found" / "N devices found").
    QStringList listLines(int listMode) const;
    QString countText() const;

    quint8 searchFlags() const { return flags_; }
    QString romId() const { return romId_; }
    QString defaultAddress(int n) const { return defaults_[size_t(n - 1)]; }

private:
    Ports ports_;
    DeviceList devices_;
    ProgressSink* progress_ = nullptr;
    Sinks sinks_;
    QString romId_ = QStringLiteral("Ulvika");
    std::array<QString, 4> defaults_{QStringLiteral("192.168.123.254"),
                                     QStringLiteral("192.168.2.1"), QStringLiteral("192.168.0.1"),
                                     QStringLiteral("192.168.1.254")};
    quint8 flags_ = 0x9F;
};

} // namespace fw

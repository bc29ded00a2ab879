#pragma once
// A UDP endpoint as the device search (and, with its ready signal, an event-driven user) needs
// it: remote and local settings, open (bind 0.0.0.0, broadcast permission for 255.255.255.255),
// one datagram out, non-blocking receive, close. Socket failures come back as the text
// "winsock.<call> failed, error #<Windows Sockets number>". Lives on the thread that opens it.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtGlobal>

class QSocketNotifier;

namespace fw {

class UdpEndpoint : public QObject {
    Q_OBJECT
public:
    static inline const QString BroadcastAddress = QStringLiteral("255.255.255.255");

    explicit UdpEndpoint(QObject* parent = nullptr);
    ~UdpEndpoint() override;
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    // Settings; close() returns them to their defaults (no remote, local port 0).
    void setRemoteAddress(const QString& address) { remoteAddress_ = address; }
    QString remoteAddress() const { return remoteAddress_; }
    void setRemotePort(quint16 port) { remotePort_ = port; }
    quint16 remotePort() const { return remotePort_; }
    // 0: any free port. A fixed port is bound with SO_REUSEADDR.
    void setLocalPort(quint16 port) { localPort_ = port; }
    quint16 localPort() const { return localPort_; }
    // Emit readyRead() while datagrams wait (only when set before open()).
    void setNotify(bool on) { notify_ = on; }

    // Creates and binds the socket. False with lastError() set when the platform refuses.
    bool open();
    bool isOpen() const { return fd_ >= 0; }
    // The port actually bound (after open()).
    quint16 boundPort() const { return boundPort_; }

    // One datagram to the remote address and port; with an interface index, out of that
    // interface (a broadcast goes out of it instead of the default route's). False with
    // lastError() set on failure.
    bool send(const QByteArray& datagram, unsigned interfaceIndex = 0);

    // A datagram that was taken from the socket but carries nothing usable: empty, or larger
    // than the capacity. The next one may be fine.
    static constexpr int Skipped = -2;

    // Non-blocking: the next waiting datagram's length (1 ... capacity) with its sender; 0 when
    // none waits; Skipped for an empty or oversized datagram (consumed); -1 on error.
    // *arrivalInterface gets the index of the interface it came in on (0 when unknown).
    int receiveFrom(char* buffer, int capacity, QString* fromAddress, quint16* fromPort,
                    unsigned* arrivalInterface = nullptr);

    void close();

    QString lastError() const { return lastError_; }
    int lastErrorCode() const { return lastErrorCode_; }

signals:
    void readyRead();

private:
    bool fail(const char* call, int platformError);
    void closeSocket();

    QString remoteAddress_;
    quint16 remotePort_ = 0;
    quint16 localPort_ = 0;
    bool notify_ = false;
    int fd_ = -1;
    quint16 boundPort_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    QString lastError_;
    int lastErrorCode_ = 0;
};

} // namespace fw

#pragma once
// The routers' discovery answers: the query probe ("QD") and default-address probe ("QQ") on the
// query port, the boot request on the boot-server port and the loader's answer to the TFTP read
// request "VN". Broadcasts reach a socket on 0.0.0.0 and every router answers from its own
// address; unicast reaches the addressed router's socket. Lives on the thread that starts it.

#include "SimConfig.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <array>
#include <memory>

class QUdpSocket;

namespace routersim {

class Transcript;
class DiscoveryEcho;

class Discovery : public QObject {
    Q_OBJECT
public:
    enum class Service { Query = 0, Boot = 1, Tftp = 2 };

    Discovery(const SimConfig& config, Transcript* transcript, QObject* parent = nullptr);
    ~Discovery() override;

    // Binds every socket and starts the echo responder; false with *error set on failure.
    bool start(QString* error);

    // The answers a router sends (before junk, extra copies and cutting).
    static QByteArray queryAnswer(const RouterConfig& r);
    static QByteArray bootAnswer(const RouterConfig& r);
    static QByteArray tftpAnswer(const RouterConfig& r);
    static QByteArray defaultAnswer(const RouterConfig& r);
    // A datagram that fails the program's acceptance test for the boot or TFTP probe.
    static QByteArray junk(unsigned answer);
    // Which Answer bit a request asks for (0: none of the discovery requests).
    static unsigned requestKind(Service service, const QByteArray& request);
    // Every datagram a router sends for one request, in order (oversized ones, junk, answer,
    // extra copies).
    static QList<QByteArray> answersFor(const RouterConfig& r, unsigned kind);

signals:
    // A datagram on the TFTP port that is not the discovery read request: a TFTP server joins
    // here and answers through socket().
    void otherTftpDatagram(int router, const QByteArray& datagram, const QHostAddress& from,
                           quint16 fromPort);

public:
    // The socket a router answers from on a service's port.
    QUdpSocket* socket(int router, Service service) const;

private:
    void readPending(QUdpSocket* socket, Service service, int router);
    void answer(int router, Service service, const QByteArray& request, const QHostAddress& to,
                quint16 toPort);
    quint16 portOf(Service service) const;

    const SimConfig& config_;
    Transcript* transcript_;
    QList<std::array<QUdpSocket*, 3>> routerSockets_;
    std::array<QUdpSocket*, 3> broadcastSockets_{};
    std::unique_ptr<DiscoveryEcho> echo_;
};

} // namespace routersim

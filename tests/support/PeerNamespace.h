#pragma once
// A second network namespace joined to the test's own by a veth pair, for a router that sits
// behind an interface of its own: the near end stays in the test's namespace, the far end lives
// in the peer. Destroying it ends the peer, which takes the pair with it. Main thread of a test.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

namespace fw::test {

class PeerNamespace {
public:
    static constexpr std::chrono::milliseconds ReadyTimeout{5000};

    // Interface names (at most 15 characters) and addresses with prefix ("10.77.1.1/24").
    PeerNamespace(QString nearName, QString nearAddress, QString farName, QString farAddress);
    ~PeerNamespace();
    PeerNamespace(const PeerNamespace&) = delete;
    PeerNamespace& operator=(const PeerNamespace&) = delete;

    // Puts the near end into `host` (started) instead of the test's namespace: a network behind
    // a peer. Before start().
    void setNear(const PeerNamespace& host) { nearEnter_ = host.enter(); }
    // Creates the peer and the pair, both ends up with their addresses and broadcast addresses.
    // Refused outside the test's private namespace.
    bool start(QString* error);
    // The command prefix that runs a program inside the peer.
    QStringList enter() const;

private:
    QString near_, nearAddress_, far_, farAddress_;
    QStringList nearEnter_;
    QProcess holder_;
};

} // namespace fw::test

#pragma once
// One IPv4 network interface of this machine, as the broadcast search sends out of it, and the
// lookups that list them and name an interface by its index. Any thread.

#include <QList>
#include <QString>

namespace fw {

struct NetInterface {
    QString name;
    unsigned index = 0;
    QString address;   // its first IPv4 address, dotted
    QString broadcast; // that address's broadcast address, dotted

    // The interfaces that are up, not loopback and have an IPv4 broadcast address, one entry
    // per interface, in the system's order.
    static QList<NetInterface> broadcastCapable();
    // The name of the interface with this index; empty when there is none.
    static QString nameOf(unsigned index);
};

} // namespace fw

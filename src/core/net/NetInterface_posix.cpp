#include "net/NetInterface.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace fw {

namespace {

QString dotted(const sockaddr* a) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

QList<NetInterface> NetInterface::broadcastCapable() {
    QList<NetInterface> found;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0)
        return found;
    for (const ifaddrs* a = all; a; a = a->ifa_next) {
        const unsigned flags = a->ifa_flags;
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !(flags & IFF_UP) ||
            (flags & IFF_LOOPBACK) || !(flags & IFF_BROADCAST) || !a->ifa_broadaddr ||
            a->ifa_broadaddr->sa_family != AF_INET)
            continue;
        const QString name = QString::fromLocal8Bit(a->ifa_name);
        bool seen = false;
        for (const NetInterface& f : found)
            seen |= f.name == name;
        const unsigned index = ::if_nametoindex(a->ifa_name);
        if (seen || index == 0)
            continue;
        found.append({name, index, dotted(a->ifa_addr), dotted(a->ifa_broadaddr)});
    }
    ::freeifaddrs(all);
    return found;
}

QString NetInterface::nameOf(unsigned index) {
    char name[IF_NAMESIZE] = {};
    if (index == 0 || !::if_indextoname(index, name))
        return {};
    return QString::fromLocal8Bit(name);
}

} // namespace fw

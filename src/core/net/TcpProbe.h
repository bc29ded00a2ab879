#pragma once
// Whether an address answers, told by one TCP connection attempt: used in place of the ICMP echo
// where the platform permits no echo socket. Blocks the calling thread for up to the time-out;
// any thread.

#include <QString>
#include <QtGlobal>
#include <chrono>

namespace fw {

class TcpProbe {
public:
    // True when the connection to address:port is accepted or refused (either way a host
    // answered); false on a time-out, an unreachable network or host, or an unresolvable name.
    static bool answers(const QString& address, quint16 port, std::chrono::milliseconds timeout);
};

} // namespace fw

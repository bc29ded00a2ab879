#include "net/ResolveIpv4.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace fw {

bool resolveIpv4(const QString& text, in_addr* out) {
    const QByteArray name = text.toLatin1();
    if (name.isEmpty())
        return false;
    if (inet_pton(AF_INET, name.constData(), out) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.constData(), nullptr, &hints, &found) != 0 || !found)
        return false;
    *out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

} // namespace fw

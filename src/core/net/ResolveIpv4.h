#pragma once
// The IPv4 address of a dotted address or a host name, for the POSIX socket layers; any thread.

#include <QString>

#include <netinet/in.h>

namespace fw {

// False for an empty text or a name the resolver does not know.
bool resolveIpv4(const QString& text, in_addr* out);

} // namespace fw

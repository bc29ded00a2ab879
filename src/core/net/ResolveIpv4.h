#pragma once
// The IPv4 address of a dotted address or a host name, for the POSIX socket layers; any thread.
// A name's answer (found or not) is kept for NameMemory, so that the several probes of one
// attempt to reach it wait for the name service once, not once each.

#include <QString>

#include <chrono>

#include <netinet/in.h>

namespace fw {

inline constexpr std::chrono::seconds NameMemory{10};

// False for an empty text or a name the resolver does not know.
bool resolveIpv4(const QString& text, in_addr* out);

// The dotted address `text` stands for; empty when it stands for none.
QString lookUpIpv4(const QString& text);

// True when `text` is a dotted address itself, so that no name service is asked.
bool isDottedIpv4(const QString& text);

} // namespace fw

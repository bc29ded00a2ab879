#include "net/ResolveIpv4.h"

#include <QMutex>
#include <QMutexLocker>

#include <arpa/inet.h>
#include <array>
#include <netdb.h>
#include <sys/socket.h>

namespace fw {

namespace {

struct Remembered {
    QByteArray name;
    bool found = false;
    in_addr address{};
    std::chrono::steady_clock::time_point until;
};

constexpr size_t RememberedNames = 8;

QMutex memoryLock;
std::array<Remembered, RememberedNames> memory;
size_t nextSlot = 0;

bool remembered(const QByteArray& name, bool* found, in_addr* out) {
    QMutexLocker lock(&memoryLock);
    const auto now = std::chrono::steady_clock::now();
    for (const Remembered& r : memory) {
        if (r.name == name && now < r.until) {
            *found = r.found;
            *out = r.address;
            return true;
        }
    }
    return false;
}

void remember(const QByteArray& name, bool found, in_addr address) {
    QMutexLocker lock(&memoryLock);
    memory[nextSlot] = {name, found, address, std::chrono::steady_clock::now() + NameMemory};
    nextSlot = (nextSlot + 1) % RememberedNames;
}

} // namespace

bool isDottedIpv4(const QString& text) {
    in_addr a{};
    return inet_pton(AF_INET, text.toLatin1().constData(), &a) == 1;
}

bool resolveIpv4(const QString& text, in_addr* out) {
    const QByteArray name = text.toLatin1();
    if (name.isEmpty())
        return false;
    if (inet_pton(AF_INET, name.constData(), out) == 1)
        return true;
    bool found = false;
    if (remembered(name, &found, out))
        return found;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* answer = nullptr;
    found = getaddrinfo(name.constData(), nullptr, &hints, &answer) == 0 && answer;
    in_addr address{};
    if (found)
        address = reinterpret_cast<sockaddr_in*>(answer->ai_addr)->sin_addr;
    if (answer)
        freeaddrinfo(answer);
    remember(name, found, address);
    if (found)
        *out = address;
    return found;
}

QString lookUpIpv4(const QString& text) {
    in_addr a{};
    if (!resolveIpv4(text, &a))
        return {};
    char dotted[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &a, dotted, sizeof dotted))
        return {};
    return QString::fromLatin1(dotted);
}

} // namespace fw

#include "net/IcmpEcho.h"

namespace fw {

QByteArray IcmpEcho::payload() {
    QByteArray data("fwupgrade echo request");
    data.append(DataSize - data.size(), ' ');
    return data;
}

quint16 IcmpEcho::checksum(const QByteArray& bytes) {
    quint32 sum = 0;
    const int n = int(bytes.size());
    for (int i = 0; i + 1 < n; i += 2)
        sum += (quint32(quint8(bytes[i])) << 8) | quint8(bytes[i + 1]);
    if (n % 2)
        sum += quint32(quint8(bytes[n - 1])) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

} // namespace fw

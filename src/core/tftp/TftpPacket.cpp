#include "tftp/TftpPacket.h"

namespace fw {

namespace {

void putNumber(QByteArray& out, quint16 n) {
    out.append(char(n >> 8));
    out.append(char(n & 0xFF));
}

quint16 numberAt(const QByteArray& in, int offset) {
    return quint16((quint8(in[offset]) << 8) | quint8(in[offset + 1]));
}

} // namespace

QByteArray TftpPacket::request(Opcode opcode, const QByteArray& name, const QByteArray& mode) {
    QByteArray out;
    putNumber(out, opcode);
    // A zero inside the name would end it early on the router's side: the name ends there.
    QByteArray n = name.left(name.indexOf('\0') < 0 ? name.size() : name.indexOf('\0'));
    out.append(n.left(MaxNameLength));
    out.append('\0');
    out.append(mode);
    out.append('\0');
    return out;
}

QByteArray TftpPacket::data(quint16 block, const QByteArray& payload) {
    QByteArray out;
    out.reserve(HeaderSize + BlockSize);
    putNumber(out, Data);
    putNumber(out, block);
    out.append(payload.left(BlockSize));
    return out;
}

std::optional<TftpPacket::Header> TftpPacket::header(const QByteArray& datagram) {
    if (datagram.size() < HeaderSize || datagram.size() > MaxDatagram)
        return std::nullopt;
    return Header{numberAt(datagram, 0), numberAt(datagram, 2)};
}

} // namespace fw

#include "message/MessageRecord.h"

#include <QtEndian>
#include <cstring>

namespace fw {

namespace {
QByteArray zeroEnded(const char* p, int size) {
    const void* z = std::memchr(p, 0, size_t(size));
    return QByteArray(p, z ? static_cast<const char*>(z) - p : size);
}
void putText(QByteArray& out, int offset, int size, const QByteArray& v) {
    std::memcpy(out.data() + offset, v.constData(), size_t(std::min<qsizetype>(v.size(), size)));
}
} // namespace

std::optional<MessageRecord> MessageRecord::parse(const QByteArray& bytes, Problem* problem) {
    if (problem)
        *problem = Problem::None;
    if (bytes.size() < HeaderSize) {
        if (problem)
            *problem = Problem::ShorterThanHeader;
        return std::nullopt;
    }
    const char* p = bytes.constData();
    const auto* u = reinterpret_cast<const uchar*>(p);
    const quint16 textLength = qFromLittleEndian<quint16>(u + 118);
    if (qsizetype(HeaderSize) + textLength > bytes.size()) {
        if (problem)
            *problem = Problem::TextPastEnd;
        return std::nullopt;
    }
    MessageRecord r;
    r.name = zeroEnded(p, 16);
    r.caption = zeroEnded(p + 16, 64);
    r.liveTime = qFromLittleEndian<quint16>(u + 80);
    r.modeByte1 = u[82];
    r.modeByte2 = u[83];
    r.colour = qFromLittleEndian<quint32>(u + 120);
    r.noBlink = u[124];
    r.text = bytes.mid(HeaderSize, textLength);
    return r;
}

QByteArray MessageRecord::serialize() const {
    QByteArray out(HeaderSize, '\0');
    auto* u = reinterpret_cast<uchar*>(out.data());
    putText(out, 0, 16, name);
    putText(out, 16, 64, caption);
    qToLittleEndian<quint16>(liveTime, u + 80);
    u[82] = modeByte1;
    u[83] = modeByte2;
    const quint16 length = quint16(std::min<qsizetype>(text.size(), 0xFFFF));
    qToLittleEndian<quint16>(length, u + 118);
    qToLittleEndian<quint32>(colour, u + 120);
    u[124] = noBlink;
    out.append(text.left(length));
    return out;
}

} // namespace fw

#pragma once
// The content of a message file: a 125-byte header and the text. Parsed with bounds: nothing
// past the bytes given is ever read.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace fw {

struct MessageRecord {
    static constexpr int HeaderSize = 125;
    static constexpr quint16 MaxLiveTime = 80;

    QByteArray name;     // offset 0, 16 bytes, up to the first zero
    QByteArray caption;  // offset 16, 64 bytes, up to the first zero
    quint16 liveTime = 0; // offset 80, ticks of 100 ms, as stored (cap applied by the window)
    quint8 modeByte1 = 0; // offset 82: non-zero = not for TFTP Mode
    quint8 modeByte2 = 0; // offset 83: non-zero = not for FTP Mode
    quint32 colour = 0;   // offset 120, 0x00BBGGRR
    quint8 noBlink = 0;   // offset 124
    QByteArray text;      // offset 125, text length (offset 118) bytes

    quint16 cappedLiveTime() const { return liveTime > MaxLiveTime ? MaxLiveTime : liveTime; }

    // Why a record was refused; empty when parse() succeeded.
    enum class Problem { None, ShorterThanHeader, TextPastEnd };

    // Parses a whole message file. A record shorter than its header, or whose text length runs
    // past the data, is refused (std::nullopt) and `problem` says which.
    static std::optional<MessageRecord> parse(const QByteArray& bytes, Problem* problem = nullptr);

    // The record as stored (used by the packaging tool and by tests).
    QByteArray serialize() const;
};

} // namespace fw

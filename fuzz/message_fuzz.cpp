// The message record over hostile message files: nothing is read past the bytes given, a refused
// record says why, an accepted one keeps its texts within their fields and survives a round trip,
// and its caption, as presented, is one line. The selection rules take any record in any mode.

#include "FuzzSupport.h"
#include "message/MessageRecord.h"
#include "message/RtfReader.h"
#include "package/MessageSelection.h"
#include "ui/VisibleText.h"

#include <QtEndian>

using namespace fw;
using fw::fuzz::require;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    MessageRecord::Problem problem = MessageRecord::Problem::None;
    const auto record = MessageRecord::parse(bytes, &problem);
    if (!record) {
        if (bytes.size() < MessageRecord::HeaderSize)
            require(problem == MessageRecord::Problem::ShorterThanHeader, "short: said so");
        else
            require(problem == MessageRecord::Problem::TextPastEnd &&
                        MessageRecord::HeaderSize +
                                qFromLittleEndian<quint16>(bytes.constData() + 118) >
                            bytes.size(),
                    "refused only when the text runs past the end");
    } else {
        require(problem == MessageRecord::Problem::None, "accepted: no problem");
        require(record->name.size() <= 16 && !record->name.contains('\0'), "name field");
        require(record->caption.size() <= 64 && !record->caption.contains('\0'), "caption field");
        require(record->text == bytes.mid(MessageRecord::HeaderSize, record->text.size()),
                "the text is the bytes after the header");
        require(record->cappedLiveTime() <= MessageRecord::MaxLiveTime, "live time capped");
        const auto again = MessageRecord::parse(record->serialize());
        require(again && again->name == record->name && again->caption == record->caption &&
                    again->text == record->text && again->liveTime == record->liveTime &&
                    again->colour == record->colour,
                "a record survives serialize and parse");
        require(fuzz::singleLine(visibleText(RtfReader::decodeCp1252(record->caption))),
                "a presented caption has no control character");
    }

    fuzz::RecordingSinks rec;
    const quint16 attribute =
        bytes.size() > 1 ? quint16(quint8(bytes[0]) << 8 | quint8(bytes[1])) : quint16(0x0401);
    for (const MessageMode mode : {MessageMode::Menu, MessageMode::Ftp, MessageMode::Tftp})
        SelectAndShow(bytes, attribute, mode, QStringLiteral("ABC123"),
                      QStringLiteral("/tmp/n.msg"), &rec, &rec);
    require(rec.messageWindows <= 3, "at most one window per request");
    if (!record)
        require(rec.messageWindows == 0, "a refused record is never shown");
    return 0;
}

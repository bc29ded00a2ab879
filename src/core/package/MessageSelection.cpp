#include "package/MessageSelection.h"

#include "message/MessageRecord.h"
#include "transfer/FileAttributes.h"

namespace fw {

namespace {

// Menu Mode shows a ROM-identifier message only when its name is this prefix and more.
constexpr char MenuNamePrefix[] = "QEMO";

const QString FtpModeUnknown = QStringLiteral("Unknow Message File in FTP Mode >>");
const QString TftpModeUnknown = QStringLiteral("Unknow Message File in TFTP Mode >>");
const QString NameDifferent = QStringLiteral("Message name different. Ignore Message File >>");
const QString TooShort = QStringLiteral("Message file too short >>");
const QString TextPastEnd = QStringLiteral("Message text runs past end of file >>");
const QString AttributeLine = QStringLiteral("Message Attribute > ");

void logSkip(LogSink* log, const QString& line, const QString& path, quint16 attribute) {
    if (!log)
        return;
    log->appendLog(line + path);
    log->appendLog(AttributeLine + QString::number(attribute));
}

bool menuSelects(const MessageRecord& r, quint16 attribute) {
    if (r.modeByte1 == 0 || r.modeByte2 == 0)
        return false;
    if (attribute & AttrDefault)
        return true;
    if (attribute & AttrRomIdCheck) {
        const QByteArrayView prefix(MenuNamePrefix);
        return r.name.startsWith(prefix) && r.name.size() > prefix.size();
    }
    return false;
}

// FTP and TFTP Mode differ only in the mode byte that excludes them and its log line.
bool transferSelects(quint8 excludingByte, const QString& unknownLine, quint16 attribute,
                     const QString& romId, const QString& path, LogSink* log) {
    if (excludingByte != 0) {
        logSkip(log, unknownLine, path, attribute);
        return false;
    }
    if (attribute & AttrDefault)
        return true;
    if (attribute & AttrRomIdCheck) {
        if (romIdMatches(romId, path))
            return true;
        logSkip(log, NameDifferent, path, attribute);
    }
    return false;
}

} // namespace

void SelectAndShow(const QByteArray& fileBytes, quint16 attribute, MessageMode mode,
                   const QString& romId, const QString& path, LogSink* log,
                   MessageWindowSink* window) {
    MessageRecord::Problem problem = MessageRecord::Problem::None;
    const std::optional<MessageRecord> record = MessageRecord::parse(fileBytes, &problem);
    if (!record) {
        logSkip(log, problem == MessageRecord::Problem::ShorterThanHeader ? TooShort : TextPastEnd,
                path, attribute);
        return;
    }

    bool show = false;
    switch (mode) {
    case MessageMode::Menu:
        show = menuSelects(*record, attribute);
        break;
    case MessageMode::Ftp:
        show = transferSelects(record->modeByte2, FtpModeUnknown, attribute, romId, path, log);
        break;
    case MessageMode::Tftp:
        show = transferSelects(record->modeByte1, TftpModeUnknown, attribute, romId, path, log);
        break;
    }
    if (show && window)
        window->showMessageWindow(*record);
}

} // namespace fw

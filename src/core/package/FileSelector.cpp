#include "package/FileSelector.h"

#include "transfer/FileAttributes.h"

#include <QFile>
#include <exception>

namespace fw {

FileChoiceRules FileChoiceRules::http() {
    FileChoiceRules r;
    r.checkBit = AttrNormalCheck;
    r.checkDisabledText = QStringLiteral("Ignore Upgrade File for Normal check disable >>");
    r.messageMode = MessageMode::Ftp;
    r.logCountAndIndex = true;
    r.unknownBeforeCheck = true;
    r.messageErrorSetsResult = true;
    return r;
}

FileChoiceRules FileChoiceRules::ftp() {
    FileChoiceRules r;
    r.checkBit = AttrNormalCheck;
    r.checkDisabledText = QStringLiteral("Ignore Upgrade File for Normal check disable >>");
    r.messageMode = MessageMode::Ftp;
    return r;
}

FileChoiceRules FileChoiceRules::tftp() {
    FileChoiceRules r;
    r.checkBit = AttrTftpCheck;
    r.checkDisabledText = QStringLiteral("Ignore Upgrade File for TFTP check disable >>");
    r.messageMode = MessageMode::Tftp;
    r.logCountAndIndex = false;
    r.seekErrorToLog = true;
    r.noFilesWhenNoneSelected = true;
    return r;
}

FileSelector::FileSelector(const ExtractionList& files, const QString& romId, FileChoiceRules rules,
                           const Sinks& sinks)
    : files_(files), romId_(romId), rules_(std::move(rules)), sinks_(sinks) {}

qint64 FileSelector::UploadLength() {
    skipDefault = false;
    qint64 total = 0;
    const int count = std::min(files_.count, ExtractionList::Capacity);
    for (int i = 0; i < count; ++i) {
        const ExtractionEntry& e = files_[i];
        const quint16 a = e.attribute;
        // A message file is never sent, whatever else its attribute says; counting it would
        // announce bytes that never come.
        if ((a & AttrMessageFile) || !(a & AttrUpgradeFile) || !(a & rules_.checkBit))
            continue;
        const bool isDefault = a & AttrDefault;
        const bool isSpecific = a & AttrRomIdCheck;
        if (isDefault && isSpecific && skipDefault) {
            skipDefault = false;
            continue;
        }
        if (!isDefault) {
            if (!isSpecific || !romIdMatches(romId_, e.path))
                continue;
            skipDefault = true;
        }
        QFile f(e.path);
        const qint64 size = f.open(QIODevice::ReadOnly) ? f.size() : -1;
        if (size < 0) {
            const QString text = QStringLiteral("File Seek error : ") + e.path;
            if (rules_.seekErrorToLog)
                log(text);
            else
                resultText = text;
            return -1;
        }
        total += size;
    }
    skipDefault = false;
    log(QStringLiteral("Upgrade File Length : ") + QString::number(total));
    return total;
}

FileSelector::Choice FileSelector::decide(const ExtractionEntry& e, bool verbose) {
    const quint16 a = e.attribute;
    const bool isDefault = a & AttrDefault;
    const bool isSpecific = a & AttrRomIdCheck;
    const bool checked = a & rules_.checkBit;
    auto say = [&](const char* text) {
        if (verbose)
            log(QString::fromLatin1(text) + e.path);
    };
    if (!isDefault && !isSpecific && (checked || rules_.unknownBeforeCheck)) {
        say("Unkown Attribute. Ignore Upgrade File >>");
        return Choice::Skip;
    }
    if (!checked) {
        // Logged by look-ahead passes too.
        log(rules_.checkDisabledText + e.path);
        return Choice::Skip;
    }
    if (isDefault && !isSpecific) {
        say("Put Upgrade File without IDCheck >>");
        return Choice::Select;
    }
    if (isDefault) {
        if (skipDefault) {
            skipDefault = false;
            say("Default Upgrade File Ignore >>");
            return Choice::Skip;
        }
        say("Put Default Upgrade File >>");
        return Choice::Select;
    }
    if (romIdMatches(romId_, e.path)) {
        skipDefault = true;
        say("Put Upgrade File >>");
        return Choice::Select;
    }
    say("Module name different. Ignore Upgrade File >>");
    return Choice::Skip;
}

int FileSelector::SelectNextFile(int start, bool verbose) {
    const bool savedSkip = skipDefault;
    const QString savedSections = sentSections;
    const QString savedResult = resultText;
    const int savedSelected = filesSelected;
    auto restore = [&] {
        if (verbose)
            return;
        skipDefault = savedSkip;
        sentSections = savedSections;
        resultText = savedResult;
        filesSelected = savedSelected;
    };

    const int count = std::min(files_.count, ExtractionList::Capacity);
    if (verbose && rules_.logCountAndIndex)
        log(QStringLiteral("File Count : ") + QString::number(count));
    for (int i = std::max(start, 0); i < count; ++i) {
        const ExtractionEntry& e = files_[i];
        const quint16 a = e.attribute;
        if (verbose) {
            if (rules_.logCountAndIndex)
                log(QStringLiteral("i= ") + QString::number(i));
            log(QStringLiteral("File Attribute : ") + QString::number(a));
        }
        if (a & AttrMessageFile) {
            if (verbose) {
                const int shown = shower_ ? shower_(e) : showMessageFile(e);
                if (shown < 0)
                    return MessageOpenError;
            }
            continue;
        }
        if (a & AttrUpgradeFile) {
            if (decide(e, verbose) == Choice::Select) {
                AddSectionLetter(sentSections, a);
                ++filesSelected;
                restore();
                return i;
            }
            continue;
        }
        if (a != 0 && verbose)
            log(QStringLiteral("Unknow File Attribute -> ") + QString::number(a));
    }
    int result = NoMoreFiles;
    if (start == 0 || (rules_.noFilesWhenNoneSelected && filesSelected == 0)) {
        resultText = QStringLiteral("ignore all files error");
        result = NoFiles;
    }
    restore();
    return result;
}

int FileSelector::showMessageFile(const ExtractionEntry& e) {
    QFile f(e.path);
    if (!f.open(QIODevice::ReadOnly)) {
        const QString text = QStringLiteral("Message file onen error : ") + e.path;
        log(text);
        if (rules_.messageErrorSetsResult)
            resultText = text;
        return -1;
    }
    auto readError = [&] {
        sinks_.showBox(QStringLiteral("Show and Msg File read error"), QStringLiteral("File Error"),
                       BoxButtons::OkCancel);
        return 0;
    };
    try {
        const qint64 size = f.size();
        if (size < 0 || size > MaxMessageFileSize)
            return readError();
        const QByteArray bytes = f.read(size);
        if (bytes.size() != size)
            return readError();
        f.close();
        log(QStringLiteral("Show Message to User : ") + e.path);
        SelectAndShow(bytes, e.attribute, rules_.messageMode, romId_, e.path, sinks_.log,
                      sinks_.messageWindow);
    } catch (const std::exception&) {
        return readError();
    }
    return 0;
}

} // namespace fw

#include "FwpackSupport.h"

#include "transfer/FileAttributes.h"

#include <QFileInfo>
#include <QTemporaryFile>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fwpack {

namespace {

struct NamedBit {
    const char* name;
    quint16 bit;
};
constexpr NamedBit kBits[] = {
    {"upgrade", fw::AttrUpgradeFile}, {"settings", fw::AttrSettingsFile},
    {"message", fw::AttrMessageFile}, {"keepname", fw::AttrKeepName},
    {"romid", fw::AttrRomIdCheck},    {"default", fw::AttrDefault},
    {"normal", fw::AttrNormalCheck},  {"tftp", fw::AttrTftpCheck},
};
constexpr quint16 kUnusedBits = 0x0200 | 0xE000;

std::optional<int> parseSection(const QString& text) {
    if (text.size() == 1 && text[0].isLetter()) {
        const char c = text[0].toUpper().toLatin1();
        for (int s = 1; s <= 15; ++s)
            if (fw::sectionLetter(s) == c)
                return s;
        return std::nullopt;
    }
    if (const auto n = parseNumber(text, 0, 15))
        return int(*n);
    return std::nullopt;
}

} // namespace

int fail(const QString& text) {
    QTextStream(stderr) << "fwpack: " << text << Qt::endl;
    return ExitFailed;
}

int usageError(const QString& text) {
    QTextStream(stderr) << "fwpack: " << text << Qt::endl
                        << "Try 'fwpack --help' for more information." << Qt::endl;
    return ExitUsage;
}

void out(const QString& line) {
    QTextStream(stdout) << line << Qt::endl;
}

bool parseCommand(QCommandLineParser& parser, const QString& command, const QStringList& args) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{QStringLiteral("fwpack ") + command} + args)) {
        usageError(command + QStringLiteral(": ") + parser.errorText());
        return false;
    }
    return true;
}

std::optional<qint64> parseNumber(const QString& text, qint64 min, qint64 max) {
    const QString t = text.trimmed();
    bool ok = false;
    qint64 v = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = t.mid(2).toLongLong(&ok, 16);
    else if (t.startsWith(QLatin1String("-0x"), Qt::CaseInsensitive))
        v = -t.mid(3).toLongLong(&ok, 16);
    else
        v = t.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

std::optional<quint16> parseAttribute(const QString& text, QString* why) {
    if (text.isEmpty()) {
        *why = QStringLiteral("empty attribute");
        return std::nullopt;
    }
    quint16 value = 0;
    if (text[0].isDigit()) {
        const auto n = parseNumber(text, 0, 0xFFFF);
        if (!n) {
            *why = QStringLiteral("attribute \"%1\" is not a 16-bit number").arg(text);
            return std::nullopt;
        }
        value = quint16(*n);
    } else {
        for (const QString& part : text.split(QLatin1Char(','))) {
            const QString word = part.trimmed().toLower();
            if (word.startsWith(QLatin1String("section="))) {
                const auto s = parseSection(word.mid(8));
                if (!s) {
                    *why = QStringLiteral("section \"%1\" is not 0..15 or A..M, T, X")
                               .arg(word.mid(8));
                    return std::nullopt;
                }
                value = quint16((value & ~fw::AttrSectionMask) | (*s << 4));
                continue;
            }
            bool known = false;
            for (const NamedBit& b : kBits)
                if (word == QLatin1String(b.name)) {
                    value |= b.bit;
                    known = true;
                }
            if (!known) {
                *why = QStringLiteral("unknown attribute bit \"%1\"").arg(part);
                return std::nullopt;
            }
        }
    }
    if (value & kUnusedBits) {
        *why = QStringLiteral("attribute 0x%1 sets unused bits 0x%2")
                   .arg(value, 4, 16, QLatin1Char('0'))
                   .arg(value & kUnusedBits, 4, 16, QLatin1Char('0'));
        return std::nullopt;
    }
    return value;
}

QString describeAttribute(quint16 attribute) {
    QStringList parts;
    for (const NamedBit& b : kBits)
        if (attribute & b.bit)
            parts << QLatin1String(b.name);
    if (const int s = fw::SectionOf(attribute))
        parts << QStringLiteral("section=%1").arg(s);
    // Only the package's digest record carries this bit; fwpack sets it, never a user.
    if (attribute & fw::AttrDigest)
        parts << QStringLiteral("digest");
    if (const quint16 unused = attribute & kUnusedBits & ~fw::AttrDigest)
        parts << QStringLiteral("unused=0x%1").arg(unused, 4, 16, QLatin1Char('0'));
    return parts.isEmpty() ? QStringLiteral("-") : parts.join(QLatin1Char(','));
}

std::optional<QByteArray> fieldText(const QString& option, const QString& value, int fieldSize,
                                    QString* why) {
    for (const QChar c : value)
        if (c.unicode() > 0xFF || c.unicode() == 0) {
            *why = QStringLiteral("--%1: only Latin-1 characters can be stored").arg(option);
            return std::nullopt;
        }
    const QByteArray bytes = value.toLatin1();
    if (bytes.size() >= fieldSize) {
        *why = QStringLiteral("--%1: \"%2\" is %3 bytes; the field holds at most %4 and its "
                              "terminating zero")
                   .arg(option, value)
                   .arg(bytes.size())
                   .arg(fieldSize - 1);
        return std::nullopt;
    }
    return bytes;
}

bool writeAtomically(const QString& path, QFileDevice::Permissions permissions,
                     const std::function<bool(QFile&, QString*)>& write, QString* why) {
    const QFileInfo target(path);
    if (target.isDir()) {
        *why = QStringLiteral("%1 is a directory").arg(path);
        return false;
    }
    QTemporaryFile tmp(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                       QStringLiteral(".XXXXXX"));
    if (!tmp.open()) {
        *why = QStringLiteral("cannot create a file in %1: %2")
                   .arg(target.absolutePath(), tmp.errorString());
        return false;
    }
    if (!write(tmp, why))
        return false;
    if (!tmp.flush()) {
        *why = QStringLiteral("cannot write %1: %2").arg(path, tmp.errorString());
        return false;
    }
    if (!tmp.setPermissions(permissions)) {
        *why = QStringLiteral("cannot set the permissions of %1").arg(path);
        return false;
    }
    tmp.close();
    // rename() replaces the target in one step: readers see the old file or the whole new one.
    if (std::rename(QFile::encodeName(tmp.fileName()).constData(),
                    QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        *why = QStringLiteral("cannot rename into %1: %2")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    tmp.setAutoRemove(false);
    return true;
}

} // namespace fwpack

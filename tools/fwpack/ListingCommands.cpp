// fwpack list and fwpack extract: reading a package with the same checks as the program.

#include "FwpackSupport.h"

#include "package/PackageFormat.h"
#include "package/TempDirectory.h"
#include "transfer/FileAttributes.h"

#include <QDir>
#include <QFileInfo>
#include <memory>

namespace fwpack {

namespace pf = fw::PackageFormat;

namespace {

// Opens FILE and reads its trailer; reports and returns nullopt when it carries no package.
std::optional<pf::Trailer> openPackage(QFile& file) {
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        return std::nullopt;
    }
    const qint64 size = file.size();
    if (size < pf::SignatureSize || !file.seek(size - pf::SignatureSize) ||
        !pf::hasSignature(file.read(pf::SignatureSize))) {
        fail(QStringLiteral("%1: carries no package (no signature at its end)")
                 .arg(file.fileName()));
        return std::nullopt;
    }
    QString why;
    const auto trailer = pf::readTrailer(file, size, &why);
    if (!trailer)
        fail(QStringLiteral("%1: malformed package: %2").arg(file.fileName(), why));
    return trailer;
}

QString hex4(quint16 v) {
    return QStringLiteral("0x%1").arg(v, 4, 16, QLatin1Char('0')).toUpper().replace(1, 1, u'x');
}

} // namespace

int runList(const QStringList& args) {
    QCommandLineParser parser;
    if (!parseCommand(parser, QStringLiteral("list"), args))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("list: exactly one FILE expected"));
    QFile file(parser.positionalArguments()[0]);
    const auto trailer = openPackage(file);
    if (!trailer)
        return ExitFailed;

    out(QStringLiteral("format version: %1%2")
            .arg(trailer->version)
            .arg(trailer->version == pf::SupportedVersion
                     ? QString()
                     : QStringLiteral(" (fwupgrade reads only version 4)")));
    out(QStringLiteral("records: %1").arg(trailer->count));
    out(QStringLiteral("body: %1 bytes").arg(trailer->packageStart()));
    out(QStringLiteral("package: %1 bytes (trailer %2)")
            .arg(trailer->packageLength)
            .arg(trailer->trailerLength));
    out(QStringLiteral(
        "  #  attribute  section  size        name                              bits"));

    bool sound = trailer->version == pf::SupportedVersion;
    if (trailer->count > pf::MaxRecords) {
        sound = false;
        out(QStringLiteral("  (more than %1 records: fwupgrade stops at the %2th)")
                .arg(pf::MaxRecords)
                .arg(pf::MaxRecords + 1));
    }
    QString sections;
    qint64 pos = trailer->packageStart();
    for (int i = 0; i < trailer->count; ++i) {
        QString why;
        const auto h = pf::readRecordHeader(file, pos, trailer->trailerStart(), &why);
        if (!h)
            return fail(QStringLiteral("record %1: %2").arg(i).arg(why));
        const char letter = fw::sectionLetter(fw::SectionOf(h->attribute));
        fw::AddSectionLetter(sections, h->attribute);
        QString line = QStringLiteral("%1  %2     %3        %4  %5  %6")
                           .arg(i, 3)
                           .arg(hex4(h->attribute))
                           .arg(letter ? QChar::fromLatin1(letter) : QLatin1Char('-'))
                           .arg(h->dataSize(), -10)
                           .arg(QString::fromLatin1(h->storedName), -32)
                           .arg(describeAttribute(h->attribute));
        if (const QString problem = pf::storedNameProblem(h->storedName); !problem.isEmpty()) {
            line += QStringLiteral("  (name refused: %1)").arg(problem);
            sound = false;
        }
        out(line);
        pos += h->length;
    }
    if (pos != trailer->trailerStart())
        return fail(QStringLiteral("the records end %1 bytes before the trailer")
                        .arg(trailer->trailerStart() - pos));
    out(QStringLiteral("sections: %1").arg(sections.isEmpty() ? QStringLiteral("-") : sections));
    return sound ? ExitOk : ExitFailed;
}

int runExtract(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("replace existing files"));
    parser.addOption(force);
    if (!parseCommand(parser, QStringLiteral("extract"), args))
        return ExitUsage;
    if (parser.positionalArguments().size() != 2)
        return usageError(QStringLiteral("extract: FILE and DIR expected"));
    QFile file(parser.positionalArguments()[0]);
    const QString dirPath = parser.positionalArguments()[1];
    const auto trailer = openPackage(file);
    if (!trailer)
        return ExitFailed;
    if (trailer->version != pf::SupportedVersion)
        return fail(QStringLiteral("format version %1 is not supported").arg(trailer->version));
    if (trailer->count > pf::MaxRecords)
        return fail(QStringLiteral("%1 records; a package holds at most %2")
                        .arg(trailer->count)
                        .arg(pf::MaxRecords));
    if (!QDir().mkpath(dirPath))
        return fail(QStringLiteral("cannot create %1").arg(dirPath));
    fw::TempDirectory dir;
    if (!dir.openExisting(dirPath))
        return fail(dir.errorString());

    QList<QByteArray> created;
    const auto undo = [&](const QString& why) {
        for (const QByteArray& name : std::as_const(created))
            dir.removeFile(name);
        return fail(why);
    };
    const auto buffer = std::make_unique<char[]>(size_t(pf::CopyBufferSize));
    qint64 pos = trailer->packageStart();
    for (int i = 0; i < trailer->count; ++i) {
        QString why;
        const auto h = pf::readRecordHeader(file, pos, trailer->trailerStart(), &why);
        if (!h)
            return undo(QStringLiteral("record %1: %2").arg(i).arg(why));
        if (const QString problem = pf::storedNameProblem(h->storedName); !problem.isEmpty())
            return undo(QStringLiteral("record %1: stored name refused: %2").arg(i).arg(problem));
        if (created.contains(h->storedName))
            return undo(QStringLiteral("record %1: stored name \"%2\" repeats an earlier one")
                            .arg(i)
                            .arg(QString::fromLatin1(h->storedName)));
        const int fd = dir.createFile(h->storedName, parser.isSet(force));
        if (fd < 0)
            return undo(dir.errorString() + (parser.isSet(force)
                                                 ? QString()
                                                 : QStringLiteral(" (--force replaces files)")));
        created.append(h->storedName);
        QFile target;
        if (!target.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                         QFileDevice::AutoCloseHandle)) {
            fw::TempDirectory::closeFile(fd);
            return undo(QStringLiteral("cannot write %1").arg(dir.filePath(h->storedName)));
        }
        const auto result = file.seek(pos + pf::RecordHeaderSize)
                                ? pf::streamCopy(file, target, h->dataSize(), buffer.get())
                                : pf::CopyResult::ReadFailed;
        target.close();
        if (result != pf::CopyResult::Ok)
            return undo(QStringLiteral("record %1: cannot %2")
                            .arg(i)
                            .arg(result == pf::CopyResult::ReadFailed
                                     ? QStringLiteral("read its data")
                                     : QStringLiteral("write ") + dir.filePath(h->storedName)));
        out(QStringLiteral("%1  %2 bytes  %3")
                .arg(dir.filePath(h->storedName))
                .arg(h->dataSize())
                .arg(hex4(h->attribute)));
        pos += h->length;
    }
    if (pos != trailer->trailerStart())
        return undo(QStringLiteral("the records end %1 bytes before the trailer")
                        .arg(trailer->trailerStart() - pos));
    return ExitOk;
}

} // namespace fwpack

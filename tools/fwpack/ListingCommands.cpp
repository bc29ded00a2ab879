// fwpack list and fwpack extract: reading a package with the same checks as the program.

#include "FwpackSupport.h"

#include "package/PackageFormat.h"
#include "package/Sha256.h"
#include "package/TempDirectory.h"
#include "transfer/FileAttributes.h"

#include <QDir>
#include <QFileInfo>
#include <functional>
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

QString nameOf(const pf::RecordHeader& h) {
    return QString::fromLatin1(h.storedName);
}

// One record as list and verify see it.
struct RecordView {
    int index = 0;
    pf::RecordHeader header;
    bool digestRecord = false;
    QByteArray digest;   // computed; empty for the digest record
    QByteArray expected; // held by the digest record; empty without one
};

// What a walk over the records found.
struct Walk {
    bool digestPresent = false;
    QString digestProblem; // the first record bears a mark of the digest record but is no whole one
    int checked = 0;       // records compared with their digest
    QByteArray firstMismatch;
    int mismatches = 0;
};

// Walks the records in order, hashing each one, with the program's rules for the digest record.
// Returns the structural problem that ends the walk, or an empty text.
QString walkRecords(QFile& file, const pf::Trailer& trailer, Walk& walk,
                    const std::function<void(const RecordView&)>& visit) {
    pf::DigestTable digests;
    fw::Sha256 hash;
    const auto buffer = std::make_unique<char[]>(size_t(pf::CopyBufferSize));
    qint64 pos = trailer.packageStart();
    for (int i = 0; i < trailer.count; ++i) {
        QString why;
        const auto h = pf::readRecordHeader(file, pos, trailer.trailerStart(), &why);
        if (!h)
            return QStringLiteral("record %1: %2").arg(i).arg(why);
        RecordView v;
        v.index = i;
        v.header = *h;
        if (i == 0 && pf::claimsDigest(*h)) {
            v.digestRecord = true;
            walk.digestPresent = digests.load(file, pos, *h, trailer.count, &why);
            if (!walk.digestPresent) {
                walk.digestProblem = why;
                walk.firstMismatch = h->storedName;
                ++walk.mismatches;
            }
        } else {
            pf::beginRecordDigest(hash, *h);
            if (!file.seek(pos + pf::RecordHeaderSize) ||
                !pf::streamHash(file, h->dataSize(), buffer.get(), hash))
                return QStringLiteral("record %1: cannot read its data").arg(i);
            v.digest = hash.result();
            if (walk.digestPresent) {
                v.expected = digests.expected(i - 1);
                ++walk.checked;
                if (v.digest != v.expected && walk.mismatches++ == 0)
                    walk.firstMismatch = h->storedName;
            }
        }
        visit(v);
        pos += h->length;
    }
    if (pos != trailer.trailerStart())
        return QStringLiteral("the records end %1 bytes before the trailer")
            .arg(trailer.trailerStart() - pos);
    return QString();
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
    Walk walk;
    const QString broken = walkRecords(file, *trailer, walk, [&](const RecordView& v) {
        const pf::RecordHeader& h = v.header;
        const char letter = fw::sectionLetter(fw::SectionOf(h.attribute));
        fw::AddSectionLetter(sections, h.attribute);
        QString line = QStringLiteral("%1  %2     %3        %4  %5  %6")
                           .arg(v.index, 3)
                           .arg(hex4(h.attribute))
                           .arg(letter ? QChar::fromLatin1(letter) : QLatin1Char('-'))
                           .arg(h.dataSize(), -10)
                           .arg(nameOf(h), -32)
                           .arg(describeAttribute(h.attribute));
        if (const QString problem = pf::storedNameProblem(h.storedName); !problem.isEmpty()) {
            line += QStringLiteral("  (name refused: %1)").arg(problem);
            sound = false;
        }
        out(line);
        if (v.digestRecord)
            return;
        QString state = QStringLiteral("(no digest record)");
        if (walk.digestPresent)
            state = v.digest == v.expected
                        ? QStringLiteral("matches")
                        : QStringLiteral("DOES NOT MATCH (the digest record holds %1)")
                              .arg(v.expected.isEmpty() ? QStringLiteral("none")
                                                        : QString::fromLatin1(v.expected.toHex()));
        out(QStringLiteral("       sha256 %1  %2").arg(QString::fromLatin1(v.digest.toHex()), state));
    });
    if (!broken.isEmpty())
        return fail(broken);
    out(QStringLiteral("sections: %1").arg(sections.isEmpty() ? QStringLiteral("-") : sections));
    if (!walk.digestProblem.isEmpty())
        out(QStringLiteral("digest: DAMAGED, the digest record is no whole one: %1")
                .arg(walk.digestProblem));
    else if (!walk.digestPresent)
        out(QStringLiteral("digest: none (fwupgrade extracts the files unchecked)"));
    else if (walk.mismatches > 0)
        out(QStringLiteral("digest: DAMAGED, %1 of %2 files do not match")
                .arg(walk.mismatches)
                .arg(walk.checked));
    else
        out(QStringLiteral("digest: all %1 files match").arg(walk.checked));
    return sound && walk.mismatches == 0 ? ExitOk : ExitFailed;
}

int runVerify(const QStringList& args) {
    QCommandLineParser parser;
    if (!parseCommand(parser, QStringLiteral("verify"), args))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("verify: exactly one PROGRAM expected"));
    const QString path = parser.positionalArguments()[0];
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return ExitNoPackage;
    }
    const qint64 size = file.size();
    if (size < pf::SignatureSize || !file.seek(size - pf::SignatureSize) ||
        !pf::hasSignature(file.read(pf::SignatureSize))) {
        fail(QStringLiteral("%1: carries no package (no signature at its end)").arg(path));
        return ExitNoPackage;
    }
    // From here on the file is a package: whatever keeps it from being whole is damage.
    QString why;
    const auto trailer = pf::readTrailer(file, size, &why);
    if (!trailer)
        return fail(QStringLiteral("%1: damaged: %2").arg(path, why));
    if (trailer->version != pf::SupportedVersion)
        return fail(QStringLiteral("%1: format version %2; fwupgrade reads only version 4")
                        .arg(path)
                        .arg(trailer->version));
    Walk walk;
    QString badName;
    const QString broken = walkRecords(file, *trailer, walk, [&](const RecordView& v) {
        if (const QString problem = pf::storedNameProblem(v.header.storedName);
            !problem.isEmpty() && badName.isEmpty())
            badName = QStringLiteral("record %1: stored name refused: %2").arg(v.index).arg(problem);
        if (walk.digestPresent && !v.digestRecord)
            out(QStringLiteral("%1: %2").arg(nameOf(v.header),
                                              v.digest == v.expected
                                                  ? QStringLiteral("matches its digest")
                                                  : QStringLiteral("does NOT match its digest")));
    });
    if (!broken.isEmpty())
        return fail(QStringLiteral("%1: damaged: %2").arg(path, broken));
    if (!badName.isEmpty())
        return fail(QStringLiteral("%1: damaged: %2").arg(path, badName));
    if (!walk.digestProblem.isEmpty())
        return fail(QStringLiteral("%1: damaged: %2").arg(path, walk.digestProblem));
    if (!walk.digestPresent)
        return fail(QStringLiteral("%1: carries no digest; its files cannot be checked").arg(path));
    if (walk.mismatches > 0)
        return fail(QStringLiteral("%1: damaged: %2 does not match its digest")
                        .arg(path, QString::fromLatin1(walk.firstMismatch)));
    out(QStringLiteral("%1: whole, %2 files match their digests").arg(path).arg(walk.checked));
    return ExitOk;
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
    pf::DigestTable digests;
    fw::Sha256 hash;
    qint64 pos = trailer->packageStart();
    for (int i = 0; i < trailer->count; ++i) {
        QString why;
        const auto h = pf::readRecordHeader(file, pos, trailer->trailerStart(), &why);
        if (!h)
            return undo(QStringLiteral("record %1: %2").arg(i).arg(why));
        // The digest record is no embedded file: it checks the others as they are written.
        if (i == 0 && pf::claimsDigest(*h)) {
            if (!digests.load(file, pos, *h, trailer->count, &why))
                return undo(QStringLiteral("record 0: %1").arg(why));
            pos += h->length;
            continue;
        }
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
        pf::beginRecordDigest(hash, *h);
        const auto result = file.seek(pos + pf::RecordHeaderSize)
                                ? pf::streamCopy(file, target, h->dataSize(), buffer.get(),
                                                 nullptr, 0, &hash)
                                : pf::CopyResult::ReadFailed;
        target.close();
        if (result != pf::CopyResult::Ok)
            return undo(QStringLiteral("record %1: cannot %2")
                            .arg(i)
                            .arg(result == pf::CopyResult::ReadFailed
                                     ? QStringLiteral("read its data")
                                     : QStringLiteral("write ") + dir.filePath(h->storedName)));
        if (digests.present() && hash.result() != digests.expected(i - 1))
            return undo(QStringLiteral("record %1: %2 does not match its digest")
                            .arg(i)
                            .arg(nameOf(*h)));
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

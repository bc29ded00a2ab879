// fwpack create: a base executable followed by a package of files.

#include "FwpackSupport.h"

#include "package/PackageFormat.h"
#include "transfer/FileAttributes.h"

#include <QFileInfo>

namespace fwpack {

namespace pf = fw::PackageFormat;

namespace {

struct Input {
    QString path;
    quint16 attribute = fw::AttrHandPicked; // an ordinary firmware image
    QByteArray storedName;
    qint64 size = 0;
};

const char* const kMalformedKinds[] = {
    "package-length-large", "package-length-small",    "trailer-length", "record-length-short",
    "record-past-trailer",  "record-short-of-trailer", "unsafe-names",   "too-many",
};

bool knownKind(const QString& kind) {
    for (const char* k : kMalformedKinds)
        if (kind == QLatin1String(k))
            return true;
    return false;
}

// FILE[:ATTR[:NAME]]: FILE ends at the first ':', NAME is everything after the second.
std::optional<Input> parseInput(const QString& spec, bool unsafeNames, QString* why) {
    Input in;
    const qsizetype first = spec.indexOf(QLatin1Char(':'));
    in.path = first < 0 ? spec : spec.left(first);
    QString name;
    bool nameGiven = false;
    if (first >= 0) {
        const qsizetype second = spec.indexOf(QLatin1Char(':'), first + 1);
        const QString attr =
            second < 0 ? spec.mid(first + 1) : spec.mid(first + 1, second - first - 1);
        if (!attr.isEmpty()) {
            const auto a = parseAttribute(attr, why);
            if (!a) {
                *why = spec + QStringLiteral(": ") + *why;
                return std::nullopt;
            }
            in.attribute = *a;
        }
        if (second >= 0) {
            name = spec.mid(second + 1);
            nameGiven = true;
        }
    }
    const QFileInfo fi(in.path);
    if (in.path.isEmpty() || !fi.exists()) {
        *why = QStringLiteral("%1: no such file").arg(in.path);
        return std::nullopt;
    }
    if (!fi.isFile()) {
        *why = QStringLiteral("%1: not a regular file").arg(in.path);
        return std::nullopt;
    }
    if (!nameGiven)
        name = fi.fileName();
    for (const QChar c : name)
        if (c.unicode() > 0x7F) {
            *why = QStringLiteral("%1: stored name \"%2\" is not ASCII").arg(in.path, name);
            return std::nullopt;
        }
    in.storedName = name.toLatin1();
    if (in.storedName.size() > pf::StoredNameSize) {
        *why = QStringLiteral("%1: stored name \"%2\" is %3 bytes; at most %4 fit")
                   .arg(in.path, name)
                   .arg(in.storedName.size())
                   .arg(pf::StoredNameSize);
        return std::nullopt;
    }
    if (!unsafeNames) {
        if (const QString problem = pf::storedNameProblem(in.storedName); !problem.isEmpty()) {
            *why = QStringLiteral("%1: stored name \"%2\" refused: %3").arg(in.path, name, problem);
            return std::nullopt;
        }
    }
    in.size = fi.size();
    return in;
}

} // namespace

int runCreate(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("output file"), QStringLiteral("OUT"));
    const QCommandLineOption version({QStringLiteral("format-version"), QStringLiteral("version")},
                                     QStringLiteral("format version to store"),
                                     QStringLiteral("N"));
    const QCommandLineOption malformed(QStringLiteral("malformed"), QStringLiteral("defect"),
                                       QStringLiteral("KIND"));
    parser.addOptions({output, version, malformed});
    if (!parseCommand(parser, QStringLiteral("create"), args))
        return ExitUsage;
    const QStringList positional = parser.positionalArguments();
    if (!parser.isSet(output))
        return usageError(QStringLiteral("create: -o OUT is required"));
    if (positional.isEmpty())
        return usageError(QStringLiteral("create: the base executable is missing"));

    pf::Defects defects;
    QStringList kinds = parser.values(malformed);
    for (const QString& kind : std::as_const(kinds))
        if (!knownKind(kind))
            return usageError(QStringLiteral("create: unknown --malformed kind \"%1\"").arg(kind));
    defects.allowUnsafeNames = kinds.contains(QLatin1String("unsafe-names"));
    defects.allowTooManyRecords = kinds.contains(QLatin1String("too-many"));
    if (parser.isSet(version)) {
        const auto v = parseNumber(parser.value(version), 0, 0xFFFF);
        if (!v)
            return usageError(QStringLiteral("create: --format-version must be 0..65535"));
        defects.version = quint16(*v);
    }

    const QString basePath = positional[0];
    const QFileInfo base(basePath);
    if (!base.isFile())
        return fail(QStringLiteral("%1: no such file").arg(basePath));
    QList<Input> inputs;
    for (const QString& spec : positional.mid(1)) {
        QString why;
        const auto in = parseInput(spec, defects.allowUnsafeNames, &why);
        if (!in)
            return fail(why);
        inputs.append(*in);
    }
    // The digest record is one of the 64 records a program reads.
    if (inputs.size() > pf::MaxRecords - 1 && !defects.allowTooManyRecords)
        return fail(QStringLiteral("%1 files given; a package holds at most %2 besides its digest")
                        .arg(inputs.size())
                        .arg(pf::MaxRecords - 1));

    qint64 dataBytes = 0;
    for (const Input& in : std::as_const(inputs))
        dataBytes += in.size;
    const qint64 recordBytes = dataBytes + (inputs.size() + 1) * pf::RecordHeaderSize +
                               inputs.size() * pf::DigestSize;
    if (kinds.contains(QLatin1String("package-length-large")))
        defects.packageLengthDelta = base.size() + 1;
    if (kinds.contains(QLatin1String("package-length-small")))
        defects.packageLengthDelta = -(recordBytes + 1);
    if (kinds.contains(QLatin1String("trailer-length")))
        defects.trailerLengthDelta = 4;
    if (kinds.contains(QLatin1String("record-length-short")))
        defects.firstRecordLength = pf::RecordHeaderSize - 1;
    if (kinds.contains(QLatin1String("record-past-trailer")))
        defects.lastRecordLengthDelta = 1;
    if (kinds.contains(QLatin1String("record-short-of-trailer")))
        defects.lastRecordLengthDelta = -1;

    QString why;
    const bool ok = writeAtomically(
        parser.value(output), base.permissions() | QFileDevice::WriteOwner | QFileDevice::ReadOwner,
        [&](QFile& file, QString* error) {
            pf::PackageWriter writer(file, defects);
            QFile baseFile(basePath);
            if (!baseFile.open(QIODevice::ReadOnly)) {
                *error = QStringLiteral("%1: %2").arg(basePath, baseFile.errorString());
                return false;
            }
            if (!writer.appendBody(baseFile) || !writer.beginDigest(int(inputs.size()))) {
                *error = writer.errorString();
                return false;
            }
            for (const Input& in : std::as_const(inputs)) {
                QFile data(in.path);
                if (!data.open(QIODevice::ReadOnly)) {
                    *error = QStringLiteral("%1: %2").arg(in.path, data.errorString());
                    return false;
                }
                if (!writer.addRecord(in.storedName, in.attribute, data, in.size)) {
                    *error = writer.errorString();
                    return false;
                }
            }
            if (!writer.finish()) {
                *error = writer.errorString();
                return false;
            }
            return true;
        },
        &why);
    if (!ok)
        return fail(why);
    out(QStringLiteral("%1: %2 files, %3 bytes of data, and their digests")
            .arg(parser.value(output))
            .arg(inputs.size())
            .arg(dataBytes));
    return ExitOk;
}

} // namespace fwpack

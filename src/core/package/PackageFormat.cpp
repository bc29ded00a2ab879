#include "package/PackageFormat.h"

#include "package/Sha256.h"
#include "transfer/FileAttributes.h"

#include <QBuffer>
#include <QIODevice>
#include <QtEndian>
#include <cstring>

namespace fw::PackageFormat {

namespace {

void setWhy(QString* why, const QString& text) {
    if (why)
        *why = text;
}

// Reads exactly `size` bytes at `pos`.
bool readAt(QIODevice& file, qint64 pos, char* into, qint64 size) {
    if (pos < 0 || !file.seek(pos))
        return false;
    qint64 done = 0;
    while (done < size) {
        const qint64 got = file.read(into + done, size - done);
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

bool writeAll(QIODevice& out, const char* data, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        const qint64 put = out.write(data + done, size - done);
        if (put <= 0)
            return false;
        done += put;
    }
    return true;
}

} // namespace

bool hasSignature(const QByteArray& last8) {
    return last8.size() == SignatureSize && std::memcmp(last8.constData(), Signature, 8) == 0;
}

std::optional<Trailer> readTrailer(QIODevice& file, qint64 fileSize, QString* why) {
    uchar tail[TrailerFixedSize];
    if (fileSize < TrailerFixedSize || !readAt(file, fileSize - TrailerFixedSize,
                                               reinterpret_cast<char*>(tail), TrailerFixedSize)) {
        setWhy(why, QStringLiteral("file too short for a package trailer"));
        return std::nullopt;
    }
    Trailer t;
    t.fileSize = fileSize;
    t.version = qFromLittleEndian<quint16>(tail);
    t.count = qFromLittleEndian<quint16>(tail + 2);
    t.trailerLength = qFromLittleEndian<quint16>(tail + 4);
    if (int(t.trailerLength) != TrailerFixedSize + 4 * int(t.count)) {
        setWhy(why, QStringLiteral("trailer length %1 does not fit %2 records")
                        .arg(t.trailerLength)
                        .arg(t.count));
        return std::nullopt;
    }
    if (qint64(t.trailerLength) > fileSize) {
        setWhy(why, QStringLiteral("trailer length %1 exceeds the file size %2")
                        .arg(t.trailerLength)
                        .arg(fileSize));
        return std::nullopt;
    }
    if (t.count == 0) {
        t.packageLength = t.trailerLength;
        return t;
    }
    uchar entry0[4];
    if (!readAt(file, fileSize - t.trailerLength, reinterpret_cast<char*>(entry0), 4)) {
        setWhy(why, QStringLiteral("cannot read the package length"));
        return std::nullopt;
    }
    t.packageLength = qFromLittleEndian<quint32>(entry0);
    if (t.packageLength < t.trailerLength || qint64(t.packageLength) > fileSize) {
        setWhy(why, QStringLiteral("package length %1 outside %2 .. %3")
                        .arg(t.packageLength)
                        .arg(t.trailerLength)
                        .arg(fileSize));
        return std::nullopt;
    }
    return t;
}

RecordHeader decodeRecordHeader(const char* p) {
    const auto* u = reinterpret_cast<const uchar*>(p);
    RecordHeader h;
    h.length = qFromLittleEndian<quint32>(u);
    h.attribute = qFromBigEndian<quint16>(u + 4);
    const void* zero = std::memchr(p + 6, 0, StoredNameSize);
    h.storedName =
        QByteArray(p + 6, zero ? static_cast<const char*>(zero) - (p + 6) : StoredNameSize);
    h.digested = QByteArray(p + 4, RecordHeaderSize - 4);
    return h;
}

QByteArray encodeRecordHeader(quint32 length, quint16 attribute, const QByteArray& storedName) {
    QByteArray out(RecordHeaderSize, '\0');
    auto* u = reinterpret_cast<uchar*>(out.data());
    qToLittleEndian<quint32>(length, u);
    qToBigEndian<quint16>(attribute, u + 4);
    std::memcpy(out.data() + 6, storedName.constData(),
                size_t(std::min<qsizetype>(storedName.size(), StoredNameSize)));
    return out;
}

std::optional<RecordHeader> readRecordHeader(QIODevice& file, qint64 pos, qint64 trailerStart,
                                             QString* why) {
    if (trailerStart - pos < RecordHeaderSize) {
        setWhy(why, QStringLiteral("record at %1 runs into the trailer").arg(pos));
        return std::nullopt;
    }
    char raw[RecordHeaderSize];
    if (!readAt(file, pos, raw, RecordHeaderSize)) {
        setWhy(why, QStringLiteral("cannot read the record at %1").arg(pos));
        return std::nullopt;
    }
    RecordHeader h = decodeRecordHeader(raw);
    if (h.length < quint32(RecordHeaderSize)) {
        setWhy(why, QStringLiteral("record at %1 has length %2, below %3")
                        .arg(pos)
                        .arg(h.length)
                        .arg(RecordHeaderSize));
        return std::nullopt;
    }
    if (qint64(h.length) > trailerStart - pos) {
        setWhy(why, QStringLiteral("record at %1 (length %2) runs past the trailer")
                        .arg(pos)
                        .arg(h.length));
        return std::nullopt;
    }
    return h;
}

QString storedNameProblem(const QByteArray& name) {
    if (name.isEmpty())
        return QStringLiteral("empty name");
    if (name.size() > StoredNameSize)
        return QStringLiteral("name longer than %1 bytes").arg(StoredNameSize);
    if (name == "." || name == "..")
        return QStringLiteral("name \"%1\" is a directory reference").arg(QLatin1String(name));
    for (const char c : name) {
        if (c == '/' || c == '\\')
            return QStringLiteral("name holds a path separator");
        if (uchar(c) < 0x20 || uchar(c) > 0x7E)
            return QStringLiteral("name holds a byte outside printable ASCII");
    }
    return QString();
}

QByteArray encodeTrailer(const QList<qint64>& recordOffsets, qint64 packageLength,
                         quint16 version) {
    const int n = int(recordOffsets.size());
    QByteArray out(TrailerFixedSize + 4 * n, '\0');
    auto* u = reinterpret_cast<uchar*>(out.data());
    for (int i = 0; i < n; ++i)
        qToLittleEndian<quint32>(quint32(packageLength - recordOffsets[i]), u + 4 * i);
    qToLittleEndian<quint16>(version, u + 4 * n);
    qToLittleEndian<quint16>(quint16(n), u + 4 * n + 2);
    qToLittleEndian<quint16>(quint16(out.size()), u + 4 * n + 4);
    std::memcpy(u + 4 * n + 6, Signature, SignatureSize);
    return out;
}

CopyResult streamCopy(QIODevice& in, QIODevice& out, qint64 size, char* buffer, QByteArray* sink,
                      qint64 sinkLimit, Sha256* hash) {
    qint64 left = size;
    while (left > 0) {
        const qint64 want = std::min(left, CopyBufferSize);
        const qint64 got = in.read(buffer, want);
        if (got <= 0)
            return CopyResult::ReadFailed;
        if (sink && sink->size() < sinkLimit)
            sink->append(buffer, qsizetype(std::min(got, sinkLimit - sink->size())));
        if (hash)
            hash->add(buffer, got);
        if (!writeAll(out, buffer, got))
            return CopyResult::WriteFailed;
        left -= got;
    }
    return CopyResult::Ok;
}

bool streamHash(QIODevice& in, qint64 size, char* buffer, Sha256& hash) {
    for (qint64 left = size; left > 0;) {
        const qint64 got = in.read(buffer, std::min(left, CopyBufferSize));
        if (got <= 0)
            return false;
        hash.add(buffer, got);
        left -= got;
    }
    return true;
}

bool claimsDigest(const RecordHeader& header) {
    return (header.attribute & AttrDigest) || header.storedName == DigestName;
}

void beginRecordDigest(Sha256& hash, const RecordHeader& header) {
    hash.reset();
    hash.add(header.digested);
}

bool DigestTable::load(QIODevice& file, qint64 pos, const RecordHeader& header, int count,
                       QString* why) {
    present_ = false;
    table_.clear();
    if (header.attribute != AttrDigest || header.storedName != DigestName) {
        setWhy(why, QStringLiteral("the first record bears only one mark of the digest record"));
        return false;
    }
    const qint64 covered = qint64(count) - 1;
    if (header.dataSize() != covered * DigestSize) {
        setWhy(why, QStringLiteral("the digest record holds %1 bytes, not %2 for %3 records")
                        .arg(header.dataSize())
                        .arg(covered * DigestSize)
                        .arg(covered));
        return false;
    }
    // Only as many digests as records can ever be read are kept.
    const qint64 kept = std::min<qint64>(covered, MaxRecords) * DigestSize;
    table_.resize(qsizetype(kept));
    if (!readAt(file, pos + RecordHeaderSize, table_.data(), kept)) {
        table_.clear();
        setWhy(why, QStringLiteral("cannot read the digest record"));
        return false;
    }
    present_ = true;
    return true;
}

QByteArray DigestTable::expected(int i) const {
    if (i < 0 || qint64(i + 1) * DigestSize > table_.size())
        return QByteArray();
    return table_.mid(qsizetype(i) * DigestSize, DigestSize);
}

// ---------------------------------------------------------------------------------------------

PackageWriter::PackageWriter(QIODevice& out, Defects defects)
    : out_(out), defects_(std::move(defects)) {}

PackageWriter::~PackageWriter() = default;

bool PackageWriter::beginDigest(int covered) {
    if (!error_.isEmpty())
        return false;
    if (!offsets_.isEmpty() || hash_)
        return fail(QStringLiteral("the digest record must come first"));
    if (out_.isSequential())
        return fail(QStringLiteral("the digest record needs a seekable output"));
    if (covered < 0 || covered > (0xFFFF - TrailerFixedSize) / 4)
        return fail(QStringLiteral("too many records for the trailer"));
    const qint64 size = qint64(covered) * DigestSize;
    if (!writeHeader(DigestName, AttrDigest, size))
        return false;
    digestDataPos_ = out_.pos();
    digestCovered_ = covered;
    digests_.clear();
    // Zeros for now: finish() writes the digests over them.
    if (!writeAll(out_, QByteArray(qsizetype(size), '\0').constData(), size))
        return fail(QStringLiteral("cannot write: %1").arg(out_.errorString()));
    hash_ = std::make_unique<Sha256>();
    return true;
}

bool PackageWriter::fail(const QString& why) {
    if (error_.isEmpty())
        error_ = why;
    return false;
}

bool PackageWriter::appendBody(QIODevice& in) {
    if (!error_.isEmpty())
        return false;
    if (!offsets_.isEmpty())
        return fail(QStringLiteral("the body must come before the records"));
    if (buffer_.isEmpty())
        buffer_.resize(CopyBufferSize);
    for (;;) {
        const qint64 got = in.read(buffer_.data(), CopyBufferSize);
        if (got < 0)
            return fail(QStringLiteral("cannot read the base: %1").arg(in.errorString()));
        if (got == 0)
            return true;
        if (!writeAll(out_, buffer_.constData(), got))
            return fail(QStringLiteral("cannot write: %1").arg(out_.errorString()));
    }
}

bool PackageWriter::appendBody(const QByteArray& bytes) {
    if (!error_.isEmpty())
        return false;
    if (!offsets_.isEmpty())
        return fail(QStringLiteral("the body must come before the records"));
    if (!writeAll(out_, bytes.constData(), bytes.size()))
        return fail(QStringLiteral("cannot write: %1").arg(out_.errorString()));
    return true;
}

bool PackageWriter::writeHeader(const QByteArray& storedName, quint16 attribute, qint64 size) {
    if (!error_.isEmpty())
        return false;
    if (storedName.size() > StoredNameSize)
        return fail(QStringLiteral("stored name \"%1\" is longer than %2 bytes")
                        .arg(QString::fromLatin1(storedName))
                        .arg(StoredNameSize));
    if (!defects_.allowUnsafeNames) {
        if (const QString why = storedNameProblem(storedName); !why.isEmpty())
            return fail(QStringLiteral("stored name \"%1\" refused: %2")
                            .arg(QString::fromLatin1(storedName), why));
    }
    if (!defects_.allowTooManyRecords && offsets_.size() >= MaxRecords)
        return fail(QStringLiteral("more than %1 files").arg(MaxRecords));
    // The trailer length is 16-bit: 14 + 4*n must stay below 65536.
    if (offsets_.size() >= (0xFFFF - TrailerFixedSize) / 4)
        return fail(QStringLiteral("too many records for the trailer"));
    if (size < 0 || size > qint64(0xFFFFFFFFu) - RecordHeaderSize)
        return fail(QStringLiteral("file \"%1\" is too large for a record")
                        .arg(QString::fromLatin1(storedName)));
    qint64 length = RecordHeaderSize + size;
    if (offsets_.isEmpty() && defects_.firstRecordLength)
        length = *defects_.firstRecordLength;
    offsets_.append(packageBytes_);
    lastHeaderPos_ = out_.pos();
    lastLength_ = quint32(length);
    const QByteArray header = encodeRecordHeader(quint32(length), attribute, storedName);
    if (!writeAll(out_, header.constData(), header.size()))
        return fail(QStringLiteral("cannot write: %1").arg(out_.errorString()));
    packageBytes_ += RecordHeaderSize + size;
    if (hash_)
        hash_->add(header.constData() + 4, header.size() - 4);
    return true;
}

bool PackageWriter::addRecord(const QByteArray& storedName, quint16 attribute, QIODevice& data,
                              qint64 size) {
    if (!writeHeader(storedName, attribute, size))
        return false;
    if (buffer_.isEmpty())
        buffer_.resize(CopyBufferSize);
    switch (streamCopy(data, out_, size, buffer_.data(), nullptr, 0, hash_.get())) {
    case CopyResult::Ok:
        if (hash_)
            digests_ += hash_->result();
        return true;
    case CopyResult::ReadFailed:
        return fail(QStringLiteral("cannot read \"%1\": %2")
                        .arg(QString::fromLatin1(storedName), data.errorString()));
    case CopyResult::WriteFailed:
        break;
    }
    return fail(QStringLiteral("cannot write: %1").arg(out_.errorString()));
}

bool PackageWriter::addRecord(const QByteArray& storedName, quint16 attribute,
                              const QByteArray& data) {
    if (!writeHeader(storedName, attribute, data.size()))
        return false;
    if (!writeAll(out_, data.constData(), data.size()))
        return fail(QStringLiteral("cannot write: %1").arg(out_.errorString()));
    if (hash_) {
        hash_->add(data);
        digests_ += hash_->result();
    }
    return true;
}

bool PackageWriter::finish() {
    if (!error_.isEmpty())
        return false;
    if (hash_) {
        if (digests_.size() != qint64(digestCovered_) * DigestSize)
            return fail(QStringLiteral("the digest record covers %1 records, %2 were added")
                            .arg(digestCovered_)
                            .arg(digests_.size() / DigestSize));
        const qint64 end = out_.pos();
        if (!out_.seek(digestDataPos_) || !writeAll(out_, digests_.constData(), digests_.size()) ||
            !out_.seek(end))
            return fail(QStringLiteral("cannot write the digest record: %1").arg(out_.errorString()));
        hash_.reset();
    }
    const qint64 trailerSize = TrailerFixedSize + 4 * offsets_.size();
    const qint64 packageLength = packageBytes_ + trailerSize;
    if (packageLength > qint64(0xFFFFFFFFu))
        return fail(QStringLiteral("the package exceeds 4 GiB"));
    QByteArray trailer =
        encodeTrailer(offsets_, packageLength, defects_.version.value_or(SupportedVersion));
    auto* u = reinterpret_cast<uchar*>(trailer.data());
    const int n = int(offsets_.size());
    if (defects_.packageLengthDelta && n > 0)
        qToLittleEndian<quint32>(quint32(packageLength + *defects_.packageLengthDelta), u);
    if (defects_.trailerLengthDelta)
        qToLittleEndian<quint16>(quint16(trailer.size() + *defects_.trailerLengthDelta),
                                 u + 4 * n + 4);
    if (!writeAll(out_, trailer.constData(), trailer.size()))
        return fail(QStringLiteral("cannot write: %1").arg(out_.errorString()));
    if (defects_.lastRecordLengthDelta && n > 0) {
        // Patched afterwards: which record is the last is known only now.
        uchar field[4];
        qToLittleEndian<quint32>(quint32(qint64(lastLength_) + *defects_.lastRecordLengthDelta),
                                 field);
        const qint64 end = out_.pos();
        if (!out_.seek(lastHeaderPos_) || !writeAll(out_, reinterpret_cast<char*>(field), 4) ||
            !out_.seek(end))
            return fail(QStringLiteral("cannot patch the last record: output not seekable"));
    }
    return true;
}

QByteArray buildPackage(const QByteArray& body, const QList<MemoryRecord>& records,
                        const Defects& defects, bool digest) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    PackageWriter writer(buffer, defects);
    writer.appendBody(body);
    if (digest)
        writer.beginDigest(int(records.size()));
    for (const MemoryRecord& r : records)
        writer.addRecord(r.storedName, r.attribute, r.data);
    if (!writer.finish())
        return QByteArray();
    buffer.close();
    return out;
}

} // namespace fw::PackageFormat

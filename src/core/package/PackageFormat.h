#pragma once
// Layout of the package appended to an executable: trailer, file records, stored names. The one
// place that knows the byte layout; the reader (EmbeddedPackage), the packaging tool and the tests
// all go through it. No state of its own; usable from any thread.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

class QIODevice;

namespace fw {
class Sha256;
}

namespace fw::PackageFormat {

inline constexpr char Signature[8] = {'q', 'u', 'a', 'r', 'n', 'e', 'l', '\0'};
inline constexpr int SignatureSize = 8;
inline constexpr quint16 SupportedVersion = 4;
inline constexpr int MaxRecords = 64;
inline constexpr int TrailerFixedSize = 14; // version, count, trailer length, signature
inline constexpr int RecordHeaderSize = 38; // length, attribute, stored name
inline constexpr int StoredNameSize = 32;
// Offsets seen from the end of the file.
inline constexpr int VersionFromEnd = 14;
inline constexpr int CountFromEnd = 12;
inline constexpr int TrailerLengthFromEnd = 10;

// Copies go through a buffer of this size, whatever the size of the piece.
inline constexpr qint64 CopyBufferSize = 1 << 20;

// True when the last 8 bytes of a file are the signature.
bool hasSignature(const QByteArray& last8);

struct Trailer {
    quint16 version = 0;
    quint16 count = 0;
    quint16 trailerLength = 0;
    quint32 packageLength = 0; // offset table entry 0
    qint64 fileSize = 0;

    qint64 packageStart() const { return fileSize - qint64(packageLength); }
    qint64 trailerStart() const { return fileSize - qint64(trailerLength); }
};

// Reads the trailer of an open, seekable file of `fileSize` bytes that ends in the signature and
// checks every length against the file: trailer length 14 + 4*count, package length between the
// trailer length and the file size. A package without records has no offset table and its
// package length is the trailer length. The version is returned as stored, not checked.
std::optional<Trailer> readTrailer(QIODevice& file, qint64 fileSize, QString* why = nullptr);

struct RecordHeader {
    quint32 length = 0; // 38 + data size
    quint16 attribute = 0;
    QByteArray storedName; // up to the first zero, at most 32 bytes
    QByteArray digested;   // attribute and stored name field as stored: what the digest covers

    qint64 dataSize() const { return qint64(length) - RecordHeaderSize; }
};

// Decodes the 38 header bytes at `p` (no checks beyond the layout).
RecordHeader decodeRecordHeader(const char* p);
QByteArray encodeRecordHeader(quint32 length, quint16 attribute, const QByteArray& storedName);

// Reads the header of the record at `pos` and checks that it lies whole before `trailerStart`.
std::optional<RecordHeader> readRecordHeader(QIODevice& file, qint64 pos, qint64 trailerStart,
                                             QString* why = nullptr);

// Empty when `name` may be used as a file name inside a directory; otherwise why not. Refused:
// empty, ".", "..", a '/' or '\', bytes outside printable ASCII, more than 32 bytes.
QString storedNameProblem(const QByteArray& name);

// The trailer bytes for records starting `recordOffsets` bytes after the package start, in a
// package of `packageLength` bytes. Entry i of the offset table is the distance from the end of
// the file back to record i (entry 0: the package length).
QByteArray encodeTrailer(const QList<qint64>& recordOffsets, qint64 packageLength, quint16 version);

// Copies `size` bytes from `in` to `out` (both positioned) through `buffer` of CopyBufferSize
// bytes. `sink` also receives up to `sinkLimit` of the first bytes copied (may be null); `hash`
// (may be null) every byte, in the same pass.
enum class CopyResult { Ok, ReadFailed, WriteFailed };
CopyResult streamCopy(QIODevice& in, QIODevice& out, qint64 size, char* buffer,
                      QByteArray* sink = nullptr, qint64 sinkLimit = 0, Sha256* hash = nullptr);
// Feeds `size` bytes of `in` (positioned) to `hash` through `buffer`; false when a read fails.
bool streamHash(QIODevice& in, qint64 size, char* buffer, Sha256& hash);

// The digest record: the first record of a package, attribute exactly AttrDigest and this
// stored name, its data the SHA-256 of each later record in record order (32 bytes each). A
// record's digest covers its attribute (big-endian) and 32-byte stored name field as laid out in
// its header, then its data: every byte of the record but its length.
inline constexpr char DigestName[] = "package.sha256";
inline constexpr int DigestSize = 32;

// True when a first record bears either mark of the digest record; it must then be one whole.
bool claimsDigest(const RecordHeader& header);
// Starts `hash` on a record: its attribute and stored name field, as stored.
void beginRecordDigest(Sha256& hash, const RecordHeader& header);

// The digests a package's digest record holds, for at most MaxRecords records after it.
class DigestTable {
public:
    // Reads the digest record `header` at `pos` of a package of `count` records. False (with
    // why) when it is not a whole digest record for them.
    bool load(QIODevice& file, qint64 pos, const RecordHeader& header, int count,
              QString* why = nullptr);
    bool present() const { return present_; }
    // The stored digest of the i-th record after the digest record (empty beyond the table).
    QByteArray expected(int i) const;

private:
    QByteArray table_;
    bool present_ = false;
};

// Deliberate defects for tests of the reader (never used by a normal build of a package).
struct Defects {
    std::optional<quint16> version;              // format version other than 4
    std::optional<qint64> packageLengthDelta;    // added to offset table entry 0
    std::optional<qint32> trailerLengthDelta;    // added to the trailer length field
    std::optional<quint32> firstRecordLength;    // replaces record 0's length field
    std::optional<qint64> lastRecordLengthDelta; // added to the last record's length field
    bool allowUnsafeNames = false;               // hostile stored names
    bool allowTooManyRecords = false;            // more than 64 records
};

// Writes a package-carrying file: the body, then the records, then the trailer. Streams every
// piece; memory does not grow with the sizes. Runs on the caller's thread.
class PackageWriter {
public:
    explicit PackageWriter(QIODevice& out, Defects defects = Defects{});
    ~PackageWriter();

    bool appendBody(QIODevice& in);
    bool appendBody(const QByteArray& bytes);
    // Writes the digest record for the `covered` records that follow (each added record is
    // hashed as it is written; finish() fills the record in). Needs a seekable output.
    bool beginDigest(int covered);
    // `size` bytes are read from `data` at its current position.
    bool addRecord(const QByteArray& storedName, quint16 attribute, QIODevice& data, qint64 size);
    bool addRecord(const QByteArray& storedName, quint16 attribute, const QByteArray& data);
    bool finish();

    int recordCount() const { return int(offsets_.size()); }
    QString errorString() const { return error_; }

private:
    bool writeHeader(const QByteArray& storedName, quint16 attribute, qint64 size);
    bool fail(const QString& why);

    QIODevice& out_;
    Defects defects_;
    QList<qint64> offsets_; // record starts, from the package start
    qint64 packageBytes_ = 0;
    qint64 lastHeaderPos_ = 0;
    quint32 lastLength_ = 0;
    QByteArray buffer_;
    QString error_;
    bool bodyDone_ = false;
    std::unique_ptr<Sha256> hash_; // while a digest record waits to be filled
    qint64 digestDataPos_ = 0;
    int digestCovered_ = 0;
    QByteArray digests_;
};

// Builds a whole package-carrying file in memory (tests, small packages).
struct MemoryRecord {
    QByteArray storedName;
    quint16 attribute = 0;
    QByteArray data;
};
// With `digest`, a digest record precedes the records.
QByteArray buildPackage(const QByteArray& body, const QList<MemoryRecord>& records,
                        const Defects& defects = Defects{}, bool digest = false);

} // namespace fw::PackageFormat

#include "package/EmbeddedPackage.h"
#include "package/PackageFormat.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace fw;
namespace pf = fw::PackageFormat;

namespace {

std::optional<pf::Trailer> trailerOf(QByteArray bytes, QString* why = nullptr) {
    QBuffer b(&bytes);
    b.open(QIODevice::ReadOnly);
    return pf::readTrailer(b, bytes.size(), why);
}

TEST(PackageLayout, OneRecordPackageByteForByte) {
    const QByteArray got = pf::buildPackage("BODY", {{"a", 0x080D, "xy"}});
    QByteArray want = "BODY";
    want += QByteArray("\x28\x00\x00\x00", 4); // record length 38 + 2
    want += QByteArray("\x08\x0D", 2);         // attribute, big-endian
    want += "a" + QByteArray(31, '\0');
    want += "xy";
    want += QByteArray("\x3A\x00\x00\x00", 4); // package length 40 + 18
    want += QByteArray("\x04\x00\x01\x00\x12\x00", 6);
    want += QByteArray("quarnel\0", 8);
    EXPECT_EQ(got.toHex(), want.toHex());
}

TEST(PackageLayout, TrailerOfThreeRecordsIs26BytesAndPointsBackToEachRecord) {
    const QByteArray bytes =
        pf::buildPackage("B", {{"r0", 1, "aaaa"}, {"r1", 2, ""}, {"r2", 3, "cc"}});
    const auto t = trailerOf(bytes);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->trailerLength, 26);
    EXPECT_EQ(t->count, 3);
    EXPECT_EQ(t->version, 4);
    EXPECT_EQ(t->packageStart(), 1);
    EXPECT_EQ(t->trailerStart(), bytes.size() - 26);
    // Entries 1 and 2: distance from the end back to records 1 and 2.
    const auto* u = reinterpret_cast<const uchar*>(bytes.constData() + bytes.size() - 26);
    EXPECT_EQ(qFromLittleEndian<quint32>(u + 4), quint32(bytes.size() - 1 - 42));
    EXPECT_EQ(qFromLittleEndian<quint32>(u + 8), quint32(bytes.size() - 1 - 42 - 38));

    QBuffer b;
    b.setData(bytes);
    b.open(QIODevice::ReadOnly);
    const auto h = pf::readRecordHeader(b, t->packageStart(), t->trailerStart());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->length, 42u);
    EXPECT_EQ(h->attribute, 1);
    EXPECT_EQ(h->storedName, QByteArray("r0"));
}

TEST(PackageLayout, TrailerChecksNameTheirReason) {
    const QByteArray good = pf::buildPackage("BODY", {{"a", 0x080D, "xy"}});
    QString why;
    EXPECT_FALSE(trailerOf(good.right(13), &why));
    EXPECT_EQ(why, QStringLiteral("file too short for a package trailer"));
    EXPECT_FALSE(trailerOf(good.right(20), &why));
    EXPECT_EQ(why, QStringLiteral("package length 58 outside 18 .. 20"));
    pf::Defects d;
    d.trailerLengthDelta = 4;
    EXPECT_FALSE(trailerOf(pf::buildPackage("BODY", {{"a", 1, "xy"}}, d), &why));
    EXPECT_EQ(why, QStringLiteral("trailer length 22 does not fit 1 records"));
}

TEST(PackageLayout, PackageWithoutRecordsHasNoOffsetTable) {
    const QByteArray bytes = pf::buildPackage("BODYBODY", {});
    EXPECT_EQ(bytes.size(), 8 + 14);
    const auto t = trailerOf(bytes);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->packageLength, 14u);

    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("exe")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    Sinks none;
    EmbeddedPackage reader(none, dir.path());
    EXPECT_EQ(reader.ReadinputExeFile(f.fileName()), 0);
    ASSERT_EQ(reader.extractionList().count, 1);
    QFile body(reader.extractionList()[0].path);
    ASSERT_TRUE(body.open(QIODevice::ReadOnly));
    EXPECT_EQ(body.readAll(), QByteArray("BODYBODY"));
}

TEST(StoredNames, OnlyPlainFileNamesPass) {
    for (const char* ok :
         {"code.bin", "a", "QEMO note.msg", "x..y", "abcdefghijklmnopqrstuvwxyz012345"})
        EXPECT_TRUE(pf::storedNameProblem(ok).isEmpty()) << ok;
    for (const QByteArray& bad :
         {QByteArray(), QByteArray("."), QByteArray(".."), QByteArray("a/b"), QByteArray("/abs"),
          QByteArray("a\\b"), QByteArray("tab\there"), QByteArray("\x7f"), QByteArray("\xc3\xa9"),
          QByteArray(33, 'n')})
        EXPECT_FALSE(pf::storedNameProblem(bad).isEmpty()) << bad.toHex().toStdString();
}

TEST(PackageWriterTest, RefusesWhatTheReaderWouldRefuse) {
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    {
        pf::PackageWriter w(b);
        for (int i = 0; i < 64; ++i)
            ASSERT_TRUE(w.addRecord("f" + QByteArray::number(i), 0x080D, QByteArray("d")));
        EXPECT_FALSE(w.addRecord("f64", 0x080D, QByteArray("d")));
        EXPECT_EQ(w.errorString(), QStringLiteral("more than 64 files"));
        EXPECT_FALSE(w.finish());
    }
    {
        pf::PackageWriter w(b);
        EXPECT_FALSE(w.addRecord(QByteArray(33, 'n'), 1, QByteArray()));
        EXPECT_TRUE(w.errorString().contains(QStringLiteral("longer than 32 bytes")));
    }
    {
        pf::PackageWriter w(b);
        EXPECT_FALSE(w.addRecord("../x", 1, QByteArray()));
        EXPECT_EQ(w.errorString(),
                  QStringLiteral("stored name \"../x\" refused: name holds a path separator"));
    }
    {
        pf::PackageWriter w(b);
        ASSERT_TRUE(w.addRecord("a", 1, QByteArray()));
        EXPECT_FALSE(w.appendBody(QByteArray("late")));
    }
    EXPECT_TRUE(pf::buildPackage("B", {{"..", 1, ""}}).isEmpty());
    pf::Defects d;
    d.allowUnsafeNames = true;
    EXPECT_FALSE(pf::buildPackage("B", {{"..", 1, ""}}, d).isEmpty());
}

TEST(PackageWriterTest, StreamsRecordsFromDevices) {
    QByteArray big(5 * 1024 * 1024 + 3, 'q');
    big[0] = 'Z';
    QBuffer src(&big);
    src.open(QIODevice::ReadOnly);
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    pf::PackageWriter w(b);
    ASSERT_TRUE(w.appendBody(QByteArray("BODY")));
    ASSERT_TRUE(w.addRecord("big.bin", 0x080D, src, big.size()));
    ASSERT_TRUE(w.finish());
    EXPECT_EQ(out.size(), 4 + 38 + big.size() + 18);
    EXPECT_EQ(out.mid(42, big.size()), big);

    // A source shorter than announced is a read failure, not a short record.
    QByteArray small("abc");
    QBuffer s(&small);
    s.open(QIODevice::ReadOnly);
    pf::PackageWriter w2(b);
    EXPECT_FALSE(w2.addRecord("s", 1, s, 10));
}

TEST(StreamCopy, SinkKeepsOnlyTheFirstBytes) {
    QByteArray data(3 * 1024 * 1024, 'a');
    data[0] = 'X';
    QBuffer in(&data);
    in.open(QIODevice::ReadOnly);
    QByteArray copied;
    QBuffer out(&copied);
    out.open(QIODevice::WriteOnly);
    std::vector<char> buffer(pf::CopyBufferSize);
    QByteArray head;
    EXPECT_EQ(pf::streamCopy(in, out, data.size(), buffer.data(), &head, 100), pf::CopyResult::Ok);
    EXPECT_EQ(copied, data);
    EXPECT_EQ(head, data.left(100));
    EXPECT_EQ(pf::streamCopy(in, out, 1, buffer.data()), pf::CopyResult::ReadFailed);
}

} // namespace

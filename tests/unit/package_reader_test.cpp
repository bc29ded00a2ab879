#include "message/MessageRecord.h"
#include "package/EmbeddedPackage.h"
#include "package/ExtractionCleanup.h"
#include "package/PackageFormat.h"
#include "package/TempDirectory.h"
#include "transfer/FileAttributes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fw;
namespace pf = fw::PackageFormat;

namespace {

struct BoxCall {
    QString text;
    QString caption;
    BoxButtons buttons;
    BoxIcon icon;
};

class RecordingBox : public BoxSink {
public:
    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                      BoxIcon icon) override {
        calls.append({text, caption, buttons, icon});
        return BoxAnswer::Ok;
    }
    QList<BoxCall> calls;
};

class RecordingLog : public LogSink {
public:
    void appendLog(const QString& line) override { lines.append(line); }
    QStringList lines;
};

class RecordingWindow : public MessageWindowSink {
public:
    void showMessageWindow(const MessageRecord& record) override { shown.append(record); }
    QList<MessageRecord> shown;
};

const QString kReadError = QStringLiteral("Error to open file in read_imbed_file function");
const QByteArray kBody = QByteArray("\x7f"
                                    "ELF body of the executable proper",
                                    34);

QByteArray pattern(int size, int seed) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 31 + seed * 7) & 0xFF);
    return b;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

MessageRecord sampleMessage() {
    MessageRecord m;
    m.name = "QEMOnote";
    m.caption = "Before you upgrade";
    m.liveTime = 20;
    m.modeByte1 = 1;
    m.modeByte2 = 1;
    m.colour = 0x00FFEEDD;
    m.text = "Keep the router powered.";
    return m;
}

class PackageReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(base.isValid());
        ASSERT_TRUE(work.isValid());
        sinks.box = &box;
        sinks.log = &log;
        sinks.messageWindow = &window;
    }

    QString writeExe(const QByteArray& bytes, const QString& name = QStringLiteral("fwupgrade")) {
        const QString path = work.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return path;
    }

    qint32 read(const QByteArray& exeBytes) {
        reader = std::make_unique<EmbeddedPackage>(sinks, base.path());
        return reader->ReadinputExeFile(writeExe(exeBytes));
    }

    // Entries of the temporary base, and of every directory in it.
    QStringList leftovers() const {
        QStringList all;
        QDir dir(base.path());
        for (const QFileInfo& fi :
             dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            all << fi.fileName();
            if (fi.isDir())
                for (const QString& inner :
                     QDir(fi.filePath())
                         .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
                    all << fi.fileName() + QLatin1Char('/') + inner;
        }
        return all;
    }

    void expectOnlyBox(const QString& text, const QString& caption, BoxButtons buttons) {
        ASSERT_EQ(box.calls.size(), 1);
        EXPECT_EQ(box.calls[0].text, text);
        EXPECT_EQ(box.calls[0].caption, caption);
        EXPECT_EQ(box.calls[0].buttons, buttons);
    }

    QTemporaryDir base;
    QTemporaryDir work;
    RecordingBox box;
    RecordingLog log;
    RecordingWindow window;
    Sinks sinks;
    std::unique_ptr<EmbeddedPackage> reader;
};

TEST_F(PackageReaderTest, FileWithoutSignatureIsCopiedWholeAsEntryZero) {
    const QByteArray exe = pattern(300000, 1);
    EXPECT_EQ(read(exe), 0);
    EXPECT_TRUE(box.calls.isEmpty());
    const QString dir = reader->extractionDirectory();
    EXPECT_EQ(QFileInfo(dir).absolutePath(), QFileInfo(base.path()).absoluteFilePath());
    EXPECT_TRUE(QFileInfo(dir).fileName().startsWith(QStringLiteral("fwupgrade-")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const ExtractionList& list = reader->extractionList();
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(list[0].path, dir + QStringLiteral("/fwupgrade.tmp"));
    EXPECT_EQ(list[0].attribute, 0);
    EXPECT_EQ(list[0].kind, 0);
    EXPECT_EQ(readAll(list[0].path), exe);
    EXPECT_EQ(reader->fileCount(), 0);
    EXPECT_EQ(reader->ListToLog(log), 1);
    EXPECT_EQ(log.lines, QStringList({QStringLiteral("Imbed file 0 : ") + list[0].path,
                                      QStringLiteral("Imbed File Attrib : 0")}));
    reader.reset();
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
}

TEST_F(PackageReaderTest, TinyAndEmptyFilesCarryNoPackage) {
    for (const QByteArray& exe : {QByteArray(), QByteArray("quarnel"), QByteArray("abc\0", 4)}) {
        EXPECT_EQ(read(exe), 0);
        EXPECT_EQ(readAll(reader->extractionList()[0].path), exe);
    }
    EXPECT_TRUE(box.calls.isEmpty());
}

TEST_F(PackageReaderTest, OtherFormatVersionsAreRefusedOnceWithNothingExtracted) {
    for (const quint16 version : {quint16(3), quint16(5)}) {
        box.calls.clear();
        pf::Defects d;
        d.version = version;
        const QByteArray exe = pf::buildPackage(kBody, {{"code.bin", 0x080D, pattern(100, 2)}}, d);
        EXPECT_EQ(read(exe), -2);
        expectOnlyBox(QStringLiteral("Please change append tool to version V1.23."),
                      QStringLiteral("Version Not support"), BoxButtons::Ok);
        EXPECT_EQ(reader->extractionList().count, 0);
        EXPECT_EQ(reader->fileCount(), 0);
        EXPECT_TRUE(QDir(reader->extractionDirectory()).isEmpty());
    }
}

TEST_F(PackageReaderTest, ExtractsRecordsByAttributeWithTheirNames) {
    const QByteArray settings = pattern(224, 3);
    const QByteArray code = pattern(3 * 1024 * 1024 + 17, 4); // several buffer rounds
    const QByteArray message = sampleMessage().serialize();
    const QByteArray kept = pattern(10, 5);
    // As fwpack makes it: the digest record first, checked, neither extracted nor listed.
    const QByteArray exe = pf::buildPackage(kBody,
                                            {{"control.cfg", 0x1000, settings},
                                             {"code.bin", 0x080D, code},
                                             {"note.msg", 0x0401, message},
                                             {"keep.bin", 0x0904, kept}},
                                            {}, true);
    const qint32 total = read(exe);
    EXPECT_TRUE(box.calls.isEmpty());
    EXPECT_EQ(total, settings.size() + code.size() + message.size() + kept.size());

    const QString dir = reader->extractionDirectory();
    const ExtractionList& list = reader->extractionList();
    ASSERT_EQ(list.count, 5);
    const QStringList names = {"fwupgrade.tmp", "control.cfg.tmp", "code.bin.tmp", "note.msg",
                               "keep.bin"};
    const QList<quint16> attributes = {0, 0x1000, 0x080D, 0x0401, 0x0904};
    const QList<QByteArray> contents = {kBody, settings, code, message, kept};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list[i].path, dir + QLatin1Char('/') + names[i]);
        EXPECT_EQ(list[i].attribute, attributes[i]);
        EXPECT_EQ(list[i].kind, i == 0 ? 0 : 1);
        EXPECT_EQ(readAll(list[i].path), contents[i]) << i;
    }
    ASSERT_EQ(reader->fileCount(), 4);
    EXPECT_EQ(reader->file(1).storedName, QStringLiteral("code.bin"));
    EXPECT_EQ(reader->file(1).type, 1);
    EXPECT_EQ(reader->file(1).dataSize, code.size());
    EXPECT_EQ(reader->file(2).type, 2);
    EXPECT_EQ(reader->file(2).attribute, 0x0401);
    EXPECT_EQ(reader->CountUpgradeFiles(), 2);

    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_EQ(window.shown[0].caption, QByteArray("Before you upgrade"));
    EXPECT_EQ(window.shown[0].text, sampleMessage().text);

    EXPECT_EQ(reader->ListToLog(log), 5);
    ASSERT_EQ(log.lines.size(), 10);
    EXPECT_EQ(log.lines[4],
              QStringLiteral("Imbed file 2 : ") + dir + QStringLiteral("/code.bin.tmp"));
    EXPECT_EQ(log.lines[5], QStringLiteral("Imbed File Attrib : 2061"));

    ExtractionList copy;
    copy.entries[0].path = QStringLiteral("stale");
    reader->CopyExtractionList(copy);
    EXPECT_EQ(copy.count, 5);
    EXPECT_EQ(copy[3].path, list[3].path);
    EXPECT_EQ(copy[3].attribute, 0x0401);
    EXPECT_EQ(copy[0].path, list[0].path);

    reader.reset();
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
}

TEST_F(PackageReaderTest, AFileThatDoesNotMatchItsDigestEndsTheReadingWithNothingLeft) {
    const QByteArray settings = pattern(224, 3);
    const QByteArray message = sampleMessage().serialize();
    const QByteArray code = pattern(1500000, 4);
    const QByteArray exe = pf::buildPackage(kBody,
                                            {{"control.cfg", 0x1000, settings},
                                             {"note.msg", 0x0401, message},
                                             {"code.bin", 0x080D, code}},
                                            {}, true);
    const qsizetype codeAt = exe.indexOf(code);
    struct Flip {
        qsizetype at;
        const char* name;
    };
    const Flip flips[] = {
        {exe.indexOf(settings) + 100, "control.cfg"},
        {exe.indexOf(message) + 130, "note.msg"}, // never shown
        {codeAt + code.size() - 1, "code.bin"},
        {codeAt - 33, "code.bin"}, // its attribute, 0x080D -> 0x080C
        {codeAt - 20, "code.bin"}, // its stored name's zero padding
        {kBody.size() + 4, "package.sha256"}, // the digest record's own attribute
    };
    for (const Flip& f : flips) {
        QByteArray bad = exe;
        bad[f.at] = char(bad[f.at] ^ 0x01);
        box.calls.clear();
        window.shown.clear();
        EXPECT_EQ(read(bad), EmbeddedPackage::Damaged) << f.name;
        expectOnlyBox(QStringLiteral("The package is damaged: %1 does not match its digest")
                          .arg(QLatin1String(f.name)),
                      QStringLiteral("Package Error"), BoxButtons::Ok);
        EXPECT_EQ(box.calls.value(0).icon, BoxIcon::Error);
        EXPECT_EQ(reader->extractionList().count, 0);
        EXPECT_EQ(window.shown.size(), qsizetype(QByteArray(f.name) == "code.bin")) << f.name;
        // Removed at once, before the reader is gone: only its empty private directory is left.
        EXPECT_EQ(leftovers(), QStringList{QFileInfo(reader->extractionDirectory()).fileName()});
    }
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(QLatin1Char('\n')).toStdString();

    // Without a digest record the files are extracted unchecked, said once in the log.
    const QByteArray plain = pf::buildPackage(kBody, {{"code.bin", 0x080D, code}});
    EXPECT_EQ(read(plain), code.size());
    EXPECT_EQ(log.lines, QStringList{"The package carries no digest: its files are extracted "
                                     "unchecked"});
}

TEST_F(PackageReaderTest, RecordsWithoutDataYieldZeroButAreListed) {
    const QByteArray exe =
        pf::buildPackage(kBody, {{"a.bin", 0x080D, QByteArray()}, {"b.bin", 0x0811, {}}});
    EXPECT_EQ(read(exe), 0);
    EXPECT_TRUE(box.calls.isEmpty());
    ASSERT_EQ(reader->extractionList().count, 3);
    EXPECT_TRUE(QFileInfo::exists(reader->extractionList()[2].path));
    EXPECT_EQ(QFileInfo(reader->extractionList()[2].path).size(), 0);
    EXPECT_EQ(reader->fileCount(), 2);
}

TEST_F(PackageReaderTest, StoredNameOfExactly32BytesIsUsedWhole) {
    const QByteArray name = "abcdefghijklmnopqrstuvwxyz012345";
    ASSERT_EQ(name.size(), 32);
    const QByteArray exe = pf::buildPackage(kBody, {{name, 0x0100, "x"}});
    EXPECT_EQ(read(exe), 1);
    EXPECT_EQ(reader->extractionList()[1].path,
              reader->extractionDirectory() + QLatin1Char('/') + QString::fromLatin1(name));
    EXPECT_EQ(reader->file(0).storedName, QString::fromLatin1(name));
}

TEST_F(PackageReaderTest, SixtyFourRecordsAreReadWholeAndTheSixtyFifthFails) {
    QList<pf::MemoryRecord> records;
    for (int i = 0; i < 65; ++i)
        records.append({QByteArray("f") + QByteArray::number(i), 0x080D, pattern(5, i)});
    EXPECT_EQ(read(pf::buildPackage(kBody, records.mid(0, 64))), 64 * 5);
    EXPECT_EQ(reader->fileCount(), 64);
    EXPECT_EQ(reader->extractionList().count, 65);
    EXPECT_TRUE(box.calls.isEmpty());

    pf::Defects d;
    d.allowTooManyRecords = true;
    EXPECT_EQ(read(pf::buildPackage(kBody, records, d)), -1);
    expectOnlyBox(QStringLiteral("Max Add File is 64"), QStringLiteral("Add AppendFile Error"),
                  BoxButtons::YesNoCancel);
    EXPECT_EQ(reader->fileCount(), 64);
    EXPECT_EQ(QDir(reader->extractionDirectory()).entryList(QDir::Files).size(), 65);
    reader.reset();
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(PackageReaderTest, SectionListInOrderOfFirstAppearance) {
    const auto sections = [&](QList<quint16> attributes) {
        QList<pf::MemoryRecord> records;
        for (int i = 0; i < attributes.size(); ++i)
            records.append({QByteArray("s") + QByteArray::number(i), attributes[i], "d"});
        EXPECT_GT(read(pf::buildPackage(kBody, records)), 0);
        return reader->SectionList();
    };
    EXPECT_EQ(sections({0x0810, 0x0820, 0x0810}), QStringLiteral("AB"));
    EXPECT_EQ(sections({0x08E0}), QStringLiteral("T"));
    EXPECT_EQ(sections({0x08F0}), QStringLiteral("X"));
    EXPECT_EQ(sections({0x0800, 0x1000, 0x08D0, 0x0830}), QStringLiteral("MC"));
}

struct Malformed {
    const char* what;
    pf::Defects defects;
    int records;
};

void PrintTo(const Malformed& m, std::ostream* os) {
    *os << m.what;
}

class MalformedPackageTest : public PackageReaderTest,
                             public ::testing::WithParamInterface<Malformed> {};

TEST_P(MalformedPackageTest, FailsWithTheGeneralReadError) {
    QList<pf::MemoryRecord> records;
    for (int i = 0; i < GetParam().records; ++i)
        records.append({QByteArray("r") + QByteArray::number(i), 0x080D, pattern(64, i)});
    const QByteArray exe = pf::buildPackage(kBody, records, GetParam().defects);
    ASSERT_FALSE(exe.isEmpty());
    EXPECT_EQ(read(exe), -1);
    expectOnlyBox(kReadError, QStringLiteral("File Error"), BoxButtons::OkCancel);
    reader.reset();
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
}

pf::Defects defects(void (*set)(pf::Defects&)) {
    pf::Defects d;
    set(d);
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, MalformedPackageTest,
    ::testing::Values(
        Malformed{"TrailerLongerByFour", defects([](pf::Defects& d) { d.trailerLengthDelta = 4; }),
                  2},
        Malformed{"TrailerShorterByFour",
                  defects([](pf::Defects& d) { d.trailerLengthDelta = -4; }), 2},
        Malformed{"TrailerLengthZero", defects([](pf::Defects& d) { d.trailerLengthDelta = -22; }),
                  2},
        Malformed{"PackageLargerThanFile",
                  defects([](pf::Defects& d) { d.packageLengthDelta = 1000000; }), 2},
        Malformed{"PackageOneByteBeyondFile",
                  defects([](pf::Defects& d) { d.packageLengthDelta = 35; }), 2},
        Malformed{"PackageSmallerThanTrailer",
                  defects([](pf::Defects& d) { d.packageLengthDelta = -(2 * 102 + 1); }), 2},
        Malformed{"PackageStartsInsideRecord",
                  defects([](pf::Defects& d) { d.packageLengthDelta = -7; }), 2},
        Malformed{"RecordLength37", defects([](pf::Defects& d) { d.firstRecordLength = 37; }), 2},
        Malformed{"RecordLength0", defects([](pf::Defects& d) { d.firstRecordLength = 0; }), 1},
        Malformed{"RecordLengthHuge",
                  defects([](pf::Defects& d) { d.firstRecordLength = 0xFFFFFFFF; }), 3},
        Malformed{"LastRecordOneIntoTrailer",
                  defects([](pf::Defects& d) { d.lastRecordLengthDelta = 1; }), 3},
        Malformed{"LastRecordShortOfTrailer",
                  defects([](pf::Defects& d) { d.lastRecordLengthDelta = -1; }), 3}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(PackageReaderTest, TruncatedPackagesFail) {
    const QByteArray whole = pf::buildPackage(kBody, {{"a.bin", 0x080D, pattern(50, 1)}});
    // Everything before the trailer cut away: the package length exceeds the file.
    EXPECT_EQ(read(whole.right(18 + 5)), -1);
    expectOnlyBox(kReadError, QStringLiteral("File Error"), BoxButtons::OkCancel);
    // Signature and version only: shorter than a trailer.
    box.calls.clear();
    EXPECT_EQ(read(whole.right(14)), -1);
    expectOnlyBox(kReadError, QStringLiteral("File Error"), BoxButtons::OkCancel);
    // Signature alone: the version cannot even be read.
    box.calls.clear();
    EXPECT_EQ(read(whole.right(10)), -1);
    expectOnlyBox(QStringLiteral("Error to open file in ReadinputExeFile!!!"),
                  QStringLiteral("File Error"), BoxButtons::YesNoCancel);
}

TEST_F(PackageReaderTest, HostileStoredNamesAreRefused) {
    pf::Defects d;
    d.allowUnsafeNames = true;
    for (const QByteArray& name :
         {QByteArray(".."), QByteArray("."), QByteArray("a/b"), QByteArray("../escape"),
          QByteArray("a\\b"), QByteArray(), QByteArray("line\nbreak"), QByteArray("\xe9t\xe9")}) {
        box.calls.clear();
        const QByteArray exe =
            pf::buildPackage(kBody, {{"fine.bin", 0x080D, "ok"}, {name, 0x0100, "evil"}}, d);
        EXPECT_EQ(read(exe), -1) << name.toStdString();
        expectOnlyBox(kReadError, QStringLiteral("File Error"), BoxButtons::OkCancel);
        EXPECT_EQ(reader->fileCount(), 1);
    }
    reader.reset();
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(work.filePath(QStringLiteral("escape"))));
}

TEST_F(PackageReaderTest, RecordNamedLikeTheBodyCopyIsRefused) {
    for (const auto& [name, attribute] : {std::pair{QByteArray("fwupgrade"), quint16(0x080D)},
                                          std::pair{QByteArray("fwupgrade.tmp"), quint16(0x0100)}}) {
        box.calls.clear();
        EXPECT_EQ(read(pf::buildPackage(kBody, {{name, attribute, "evil"}})), -1);
        expectOnlyBox(kReadError, QStringLiteral("File Error"), BoxButtons::OkCancel);
    }
}

TEST_F(PackageReaderTest, ExtractedFilesAreOwnerWritableWhateverTheSourceOrUmask) {
    const QString exePath = writeExe(pf::buildPackage(kBody, {{"a.bin", 0x080D, "data"}}));
    ASSERT_TRUE(QFile::setPermissions(exePath, QFile::ReadOwner));
    const mode_t previous = ::umask(0277);
    reader = std::make_unique<EmbeddedPackage>(sinks, base.path());
    const qint32 result = reader->ReadinputExeFile(exePath);
    ::umask(previous);
    EXPECT_EQ(result, 4);
    for (int i = 0; i < reader->extractionList().count; ++i) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(reader->extractionList()[i].path).constData(), &st), 0);
        EXPECT_TRUE(st.st_mode & S_IWUSR) << i;
        EXPECT_EQ(st.st_mode & 077, 0u) << i;
    }
}

TEST_F(PackageReaderTest, MissingExecutableAndUnusableTemporaryDirectory) {
    reader = std::make_unique<EmbeddedPackage>(sinks, base.path());
    const QString missing = work.filePath(QStringLiteral("absent"));
    EXPECT_EQ(reader->ReadinputExeFile(missing), -1);
    expectOnlyBox(QStringLiteral("Error to open exeFile : ") + missing,
                  QStringLiteral("Function Error"), BoxButtons::YesNoCancel);

    const QString noBase = work.filePath(QStringLiteral("no/such/dir"));
    box.calls.clear();
    reader = std::make_unique<EmbeddedPackage>(sinks, noBase);
    EXPECT_EQ(reader->ReadinputExeFile(writeExe("plain")), -1);
    expectOnlyBox(QStringLiteral("Myfilecopy function error >> ") + noBase +
                      QStringLiteral("/fwupgrade.tmp"),
                  QStringLiteral("Function Error"), BoxButtons::OkCancel);

    // With a package, a body copy that cannot be created fails without a box.
    box.calls.clear();
    reader = std::make_unique<EmbeddedPackage>(sinks, noBase);
    EXPECT_EQ(reader->ReadinputExeFile(writeExe(pf::buildPackage(kBody, {{"a", 0x0800, "d"}}))),
              -1);
    EXPECT_TRUE(box.calls.isEmpty());
}

TEST_F(PackageReaderTest, LongMessageFileIsExtractedWholeButReadBoundedForTheWindow) {
    MessageRecord m = sampleMessage();
    m.text = QByteArray(65535, 'x');
    const QByteArray data = m.serialize() + QByteArray(300000, 'y');
    EXPECT_EQ(read(pf::buildPackage(kBody, {{"long.msg", 0x0401, data}})), data.size());
    EXPECT_EQ(readAll(reader->extractionList()[1].path), data);
    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_EQ(window.shown[0].text.size(), 65535);
}

TEST_F(PackageReaderTest, MessageFileWithoutWindowSinkIsStillExtracted) {
    sinks.messageWindow = nullptr;
    EXPECT_GT(read(pf::buildPackage(kBody, {{"n.msg", 0x0401, sampleMessage().serialize()}})), 0);
    EXPECT_TRUE(box.calls.isEmpty());
}

TEST(TempDirectoryBase, OverrideThenTmpdirTempTmpThenSlashTmp) {
    const QByteArray saved[3] = {qgetenv("TMPDIR"), qgetenv("TEMP"), qgetenv("TMP")};
    qputenv("TMPDIR", "");
    qputenv("TEMP", "/t/temp");
    qputenv("TMP", "/t/tmp");
    EXPECT_EQ(TempDirectory::base(QStringLiteral("/given")), QStringLiteral("/given"));
    EXPECT_EQ(TempDirectory::base(), QStringLiteral("/t/temp"));
    qputenv("TMPDIR", "/t/tmpdir");
    EXPECT_EQ(TempDirectory::base(), QStringLiteral("/t/tmpdir"));
    qunsetenv("TMPDIR");
    qunsetenv("TEMP");
    EXPECT_EQ(TempDirectory::base(), QStringLiteral("/t/tmp"));
    qunsetenv("TMP");
    EXPECT_EQ(TempDirectory::base(), QStringLiteral("/tmp"));
    const char* names[3] = {"TMPDIR", "TEMP", "TMP"};
    for (int i = 0; i < 3; ++i)
        if (!saved[i].isNull())
            qputenv(names[i], saved[i]);
}

// The child extracts a package, then ends abnormally; the parent checks that nothing is left.
class TerminationCleanupTest : public PackageReaderTest {
protected:
    void extractInChild() {
        reader = std::make_unique<EmbeddedPackage>(sinks, base.path());
        const QString exe =
            writeExe(pf::buildPackage(kBody, {{"a.bin", 0x080D, "1"}, {"b.msg", 0x0401, "2"}}));
        if (reader->ReadinputExeFile(exe) != 2 || QDir(reader->extractionDirectory()).isEmpty())
            ::_exit(90);
    }
};

TEST_F(TerminationCleanupTest, SigtermRemovesExtractedFilesAndEndsBySignal) {
    // Forked: the child shares this fixture's temporary base.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            installTerminationCleanup();
            extractInChild();
            ::raise(SIGTERM);
            ::_exit(91);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
}

TEST_F(TerminationCleanupTest, SigintRemovesExtractedFiles) {
    // Forked: the child shares this fixture's temporary base.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            installTerminationCleanup();
            extractInChild();
            ::raise(SIGINT);
            ::_exit(91);
        },
        ::testing::KilledBySignal(SIGINT), "");
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
}

TEST_F(TerminationCleanupTest, CleanupNowBeforeAnAbnormalEnd) {
    // Forked: the child shares this fixture's temporary base.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            extractInChild();
            cleanupExtractedFilesNow();
            ::_exit(3);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
}

// In a child: a file size limit makes the write fail as a full disk would.
bool writeFailureShowsDialog(const Sinks& sinks, const RecordingBox& box, const QString& base,
                             const QString& exe) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 4096;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    EmbeddedPackage r(sinks, base);
    return r.ReadinputExeFile(exe) == -1 && box.calls.size() == 1 &&
           box.calls[0].text == QStringLiteral("Write tmp file Error. Check Disk space !") &&
           box.calls[0].caption.isNull() && box.calls[0].buttons == BoxButtons::YesOnly &&
           box.calls[0].icon == BoxIcon::Error && r.fileCount() == 0;
}

TEST_F(TerminationCleanupTest, FailedWriteShowsTheDiskSpaceDialog) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const QString exe = writeExe(pf::buildPackage(kBody, {{"big.bin", 0x080D, pattern(8192, 1)}}));
    EXPECT_EXIT(::_exit(writeFailureShowsDialog(sinks, box, base.path(), exe) ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
}

TEST(ExtractionCleanupRegistry, DirectoriesAreUnregisteredWithTheirReader) {
    QTemporaryDir base;
    const int before = ExtractionCleanup::registeredDirectories();
    {
        Sinks none;
        EmbeddedPackage a(none, base.path());
        EmbeddedPackage b(none, base.path());
        QTemporaryDir work;
        QFile f(work.filePath(QStringLiteral("x")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("plain");
        f.close();
        EXPECT_EQ(a.ReadinputExeFile(f.fileName()), 0);
        EXPECT_EQ(b.ReadinputExeFile(f.fileName()), 0);
        EXPECT_NE(a.extractionDirectory(), b.extractionDirectory());
        EXPECT_EQ(ExtractionCleanup::registeredDirectories(), before + 2);
    }
    EXPECT_EQ(ExtractionCleanup::registeredDirectories(), before);
    EXPECT_TRUE(QDir(base.path()).isEmpty());
}

} // namespace

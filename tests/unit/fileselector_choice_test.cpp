#include "message/MessageRecord.h"
#include "package/FileSelector.h"
#include "socket_test_support.h"
#include "transfer/FileAttributes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

constexpr quint16 kDefault = 0x080D;  // upgrade, TFTP, normal, default
constexpr quint16 kFallback = 0x0807; // upgrade, normal, default + ROM id (the fallback)
constexpr quint16 kSpecific = 0x0806; // upgrade, normal, ROM id

class FileSelectorTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ExtractionList list;
    RecordingSinks rec;

    void SetUp() override { list.append(dir.filePath(QStringLiteral("self.exe.tmp")), 0, 0); }

    QString add(const QString& name, quint16 attribute, qsizetype size = 10) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(size, 'x'));
        list.append(path, attribute, 1);
        return path;
    }
    FileSelector http(const QString& romId) {
        return FileSelector(list, romId, FileChoiceRules::http(), rec.sinks());
    }
};

} // namespace

TEST_F(FileSelectorTest, MatchingSpecificFileTakesThePlaceOfTheNextDefault) {
    const QString specific = add(QStringLiteral("ABC123.bin.tmp"), kSpecific, 100);
    const QString fallback = add(QStringLiteral("generic.bin.tmp"), kFallback, 7);
    FileSelector s = http(QStringLiteral("abc"));
    EXPECT_EQ(s.UploadLength(), 100);
    EXPECT_FALSE(s.skipDefault);
    EXPECT_EQ(s.SelectNextFile(0), 1);
    EXPECT_TRUE(s.skipDefault);
    // The look-ahead sees the end but leaves everything as it was.
    EXPECT_EQ(s.SelectNextFile(2, false), FileSelector::NoMoreFiles);
    EXPECT_TRUE(s.skipDefault);
    EXPECT_EQ(s.SelectNextFile(2), FileSelector::NoMoreFiles);
    const QStringList log = rec.log();
    EXPECT_GE(log.indexOf(QStringLiteral("Put Upgrade File >>") + specific), 0);
    EXPECT_GE(log.indexOf(QStringLiteral("Default Upgrade File Ignore >>") + fallback), 0);
    EXPECT_EQ(log.first(), QStringLiteral("Upgrade File Length : 100"));
    EXPECT_EQ(log.mid(1, 5),
              (QStringList{QStringLiteral("File Count : 3"), QStringLiteral("i= 0"),
                           QStringLiteral("File Attribute : 0"), QStringLiteral("i= 1"),
                           QStringLiteral("File Attribute : 2054")}));
}

TEST_F(FileSelectorTest, DefaultBeforeSpecificSendsBoth) {
    add(QStringLiteral("generic.bin.tmp"), kFallback, 7);
    add(QStringLiteral("ABC123.bin.tmp"), kSpecific, 100);
    FileSelector s = http(QStringLiteral("ABC"));
    EXPECT_EQ(s.UploadLength(), 107);
    EXPECT_EQ(s.SelectNextFile(0), 1);
    EXPECT_EQ(s.SelectNextFile(2, false), 2);
    EXPECT_EQ(s.SelectNextFile(2), 2);
    EXPECT_EQ(s.SelectNextFile(3, false), FileSelector::NoMoreFiles);
}

TEST_F(FileSelectorTest, DifferentModuleFallsBackToTheDefault) {
    const QString specific = add(QStringLiteral("ABC123.bin.tmp"), kSpecific);
    const QString fallback = add(QStringLiteral("generic.bin.tmp"), kFallback);
    FileSelector s = http(QStringLiteral("ABD"));
    EXPECT_EQ(s.UploadLength(), 10);
    EXPECT_EQ(s.SelectNextFile(0), 2);
    EXPECT_GE(
        rec.indexOf(QStringLiteral("Module name different. Ignore Upgrade File >>") + specific), 0);
    EXPECT_GE(rec.indexOf(QStringLiteral("Put Default Upgrade File >>") + fallback), 0);
}

TEST_F(FileSelectorTest, EmptyRomIdMatchesEverySpecificFile) {
    add(QStringLiteral("ABC123.bin.tmp"), kSpecific, 3);
    add(QStringLiteral("XYZ.bin.tmp"), kSpecific, 4);
    FileSelector s = http(QString());
    EXPECT_EQ(s.UploadLength(), 7);
    EXPECT_EQ(s.SelectNextFile(0), 1);
    EXPECT_EQ(s.SelectNextFile(2), 2);
}

TEST_F(FileSelectorTest, WithoutNormalCheckNothingIsSentAndEveryPassSaysWhy) {
    const QString tftpOnly = add(QStringLiteral("rescue.bin.tmp"), 0x0809);
    FileSelector s = http(QString());
    EXPECT_EQ(s.UploadLength(), 0);
    EXPECT_EQ(s.SelectNextFile(0), FileSelector::NoFiles);
    EXPECT_EQ(s.resultText, QStringLiteral("ignore all files error"));
    const QString ignored =
        QStringLiteral("Ignore Upgrade File for Normal check disable >>") + tftpOnly;
    EXPECT_EQ(rec.log().count(ignored), 1);
    // The look-ahead logs the missing bit too, and nothing else.
    const qsizetype before = rec.log().size();
    EXPECT_EQ(s.SelectNextFile(1, false), FileSelector::NoMoreFiles);
    EXPECT_EQ(rec.log().mid(before), QStringList{ignored});
}

TEST_F(FileSelectorTest, UnknownAttributesDifferBetweenHttpAndFtp) {
    const QString bare = add(QStringLiteral("bare.bin.tmp"), 0x0800);
    const QString checkedBare = add(QStringLiteral("cbare.bin.tmp"), 0x0804);
    list.append(dir.filePath(QStringLiteral("settings")), 0x1000, 1);
    FileSelector h = http(QString());
    EXPECT_EQ(h.SelectNextFile(0), FileSelector::NoFiles);
    EXPECT_GE(rec.indexOf(QStringLiteral("Unkown Attribute. Ignore Upgrade File >>") + bare), 0);
    EXPECT_GE(rec.indexOf(QStringLiteral("Unkown Attribute. Ignore Upgrade File >>") + checkedBare),
              0);
    EXPECT_GE(rec.indexOf(QStringLiteral("Unknow File Attribute -> 4096")), 0);

    RecordingSinks ftpRec;
    FileSelector f(list, QString(), FileChoiceRules::ftp(), ftpRec.sinks());
    EXPECT_EQ(f.SelectNextFile(0), FileSelector::NoFiles);
    EXPECT_GE(
        ftpRec.indexOf(QStringLiteral("Ignore Upgrade File for Normal check disable >>") + bare),
        0);
    EXPECT_GE(
        ftpRec.indexOf(QStringLiteral("Unkown Attribute. Ignore Upgrade File >>") + checkedBare),
        0);
}

TEST_F(FileSelectorTest, TftpRulesHonourTheTftpBit) {
    const QString normalOnly = add(QStringLiteral("n.bin.tmp"), 0x0805, 5);
    add(QStringLiteral("t.bin.tmp"), 0x0809, 9);
    FileSelector t(list, QString(), FileChoiceRules::tftp(), rec.sinks());
    EXPECT_EQ(t.UploadLength(), 9);
    EXPECT_EQ(t.SelectNextFile(0), 2);
    EXPECT_EQ(t.filesSelected, 1);
    EXPECT_GE(
        rec.indexOf(QStringLiteral("Ignore Upgrade File for TFTP check disable >>") + normalOnly),
        0);
    EXPECT_EQ(rec.indexOf(QStringLiteral("File Count : 3")), -1);
    EXPECT_EQ(rec.indexOf(QStringLiteral("i= 1")), -1);
}

TEST_F(FileSelectorTest, SectionLettersOfTheSelectedFiles) {
    add(QStringLiteral("a.bin.tmp"), 0x0815);
    add(QStringLiteral("b.bin.tmp"), 0x0825);
    add(QStringLiteral("c.bin.tmp"), 0x0815);
    FileSelector s = http(QString());
    int i = -1;
    for (int round = 0; round < 5; ++round) {
        i = s.SelectNextFile(i + 1);
        if (i >= FileSelector::NoMoreFiles)
            break;
    }
    EXPECT_EQ(i, FileSelector::NoMoreFiles);
    EXPECT_EQ(s.sentSections, QStringLiteral("AB"));
}

TEST_F(FileSelectorTest, MissingFileFailsTheLength) {
    list.append(dir.filePath(QStringLiteral("gone.bin.tmp")), kDefault, 1);
    FileSelector s = http(QString());
    EXPECT_EQ(s.UploadLength(), -1);
    EXPECT_EQ(s.resultText,
              QStringLiteral("File Seek error : ") + dir.filePath(QStringLiteral("gone.bin.tmp")));
    RecordingSinks tftpRec;
    FileSelector t(list, QString(), FileChoiceRules::tftp(), tftpRec.sinks());
    EXPECT_EQ(t.UploadLength(), -1);
    EXPECT_TRUE(t.resultText.isEmpty());
    EXPECT_EQ(tftpRec.log(), QStringList{QStringLiteral("File Seek error : ") +
                                         dir.filePath(QStringLiteral("gone.bin.tmp"))});
}

TEST_F(FileSelectorTest, MessageFilesAreShownInVerbosePassesOnly) {
    MessageRecord m;
    m.caption = "Before you start";
    m.text = "hello";
    const QString msg = dir.filePath(QStringLiteral("note.msg"));
    {
        QFile f(msg);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(m.serialize());
    }
    list.append(msg, 0x0401, 1);
    add(QStringLiteral("fw.bin.tmp"), kDefault, 4);
    // A message file that is also marked as an upgrade file is still only a message file.
    const QString odd = add(QStringLiteral("odd.msg"), 0x0C05, 4);
    FileSelector s = http(QString());
    EXPECT_EQ(s.UploadLength(), 4);
    EXPECT_EQ(s.SelectNextFile(1, false), 2);
    EXPECT_TRUE(rec.messages().isEmpty());
    EXPECT_EQ(s.SelectNextFile(1), 2);
    EXPECT_EQ(rec.messages(), QStringList{QStringLiteral("Before you start")});
    EXPECT_GE(rec.indexOf(QStringLiteral("Show Message to User : ") + msg), 0);
    EXPECT_EQ(s.SelectNextFile(3), FileSelector::NoMoreFiles);
}

TEST_F(FileSelectorTest, UnopenableMessageFileStopsTheSelection) {
    const QString gone = dir.filePath(QStringLiteral("gone.msg"));
    list.append(gone, 0x0401, 1);
    add(QStringLiteral("fw.bin.tmp"), kDefault);
    FileSelector s = http(QString());
    EXPECT_EQ(s.SelectNextFile(0), FileSelector::MessageOpenError);
    EXPECT_EQ(s.resultText, QStringLiteral("Message file onen error : ") + gone);
    EXPECT_GE(rec.indexOf(QStringLiteral("Message file onen error : ") + gone), 0);

    FileSelector f(list, QString(), FileChoiceRules::ftp(), rec.sinks());
    EXPECT_EQ(f.SelectNextFile(0), FileSelector::MessageOpenError);
    EXPECT_TRUE(f.resultText.isEmpty());

    // An engine may show messages its own way.
    FileSelector c = http(QString());
    QStringList shown;
    c.setMessageShower([&](const ExtractionEntry& e) {
        shown << e.path;
        return 0;
    });
    EXPECT_EQ(c.SelectNextFile(0), 2);
    EXPECT_EQ(shown, QStringList{gone});
}

TEST_F(FileSelectorTest, UnreadableMessageFileGivesTheReadErrorBoxAndGoesOn) {
    const QString big =
        add(QStringLiteral("big.msg"), 0x0401, qsizetype(FileSelector::MaxMessageFileSize + 1));
    add(QStringLiteral("fw.bin.tmp"), kDefault);
    Q_UNUSED(big);
    FileSelector s = http(QString());
    EXPECT_EQ(s.SelectNextFile(0), 2);
    ASSERT_EQ(rec.boxes().size(), 1);
    EXPECT_EQ(rec.boxes()[0].text, QStringLiteral("Show and Msg File read error"));
    EXPECT_EQ(rec.boxes()[0].caption, QStringLiteral("File Error"));
    EXPECT_EQ(rec.boxes()[0].buttons, BoxButtons::OkCancel);
}

#include "message/MessageRecord.h"
#include "package/MessageSelection.h"
#include "transfer/FileAttributes.h"

#include <gtest/gtest.h>

using namespace fw;

namespace {

struct RecordingLog : LogSink {
    QStringList lines;
    void appendLog(const QString& line) override { lines.append(line); }
};

struct RecordingWindow : MessageWindowSink {
    QList<MessageRecord> shown;
    void showMessageWindow(const MessageRecord& r) override { shown.append(r); }
};

QByteArray messageFile(const QByteArray& name, quint8 mode1, quint8 mode2) {
    MessageRecord m;
    m.name = name;
    m.caption = "Before you upgrade";
    m.liveTime = 20;
    m.modeByte1 = mode1;
    m.modeByte2 = mode2;
    m.text = "Do not switch the router off.";
    return m.serialize();
}

constexpr quint16 Msg = AttrMessageFile;
constexpr quint16 Def = AttrMessageFile | AttrDefault;    // 1025
constexpr quint16 Rom = AttrMessageFile | AttrRomIdCheck; // 1026
constexpr quint16 Both = AttrMessageFile | AttrDefault | AttrRomIdCheck;

struct Case {
    MessageMode mode;
    quint8 mode1, mode2;
    quint16 attribute;
    const char* name;
    const char* romId;
    const char* path;
    bool shown;
    QStringList log;
};

struct Outcome {
    bool shown;
    QStringList log;
};

Outcome run(const QByteArray& bytes, quint16 attribute, MessageMode mode, const QString& romId,
            const QString& path) {
    RecordingLog log;
    RecordingWindow window;
    SelectAndShow(bytes, attribute, mode, romId, path, &log, &window);
    EXPECT_LE(window.shown.size(), 1);
    return {!window.shown.isEmpty(), log.lines};
}

const QString P = QStringLiteral("/tmp/fw/NOTE.msg");
const QString Ftp = QStringLiteral("Unknow Message File in FTP Mode >>");
const QString Tftp = QStringLiteral("Unknow Message File in TFTP Mode >>");
const QString Diff = QStringLiteral("Message name different. Ignore Message File >>");

} // namespace

// Every mode against the four mode-byte pairs, with the default and the ROM-identifier bits.
TEST(MessageSelection, ModeBytesAndAttributes) {
    const MessageMode M = MessageMode::Menu, F = MessageMode::Ftp, T = MessageMode::Tftp;
    const QStringList none;
    const std::vector<Case> cases = {
        // Menu Mode: only both mode bytes set; Default, or a QEMO name with the ROM check.
        {M, 0, 0, Def, "NOTE", "", "", false, none},
        {M, 1, 0, Def, "NOTE", "", "", false, none},
        {M, 0, 1, Def, "NOTE", "", "", false, none},
        {M, 1, 1, Def, "NOTE", "", "", true, none},
        {M, 7, 255, Def, "NOTE", "", "", true, none},
        {M, 1, 1, Msg, "QEMO1", "", "", false, none},
        {M, 1, 1, Rom, "NOTE", "", "", false, none},
        {M, 1, 1, Rom, "QEMO1", "", "", true, none},
        {M, 1, 1, Rom, "QEMO", "", "", false, none},
        {M, 1, 1, Rom, "qemo1", "", "", false, none},
        {M, 1, 1, Rom, "XQEMO1", "", "", false, none},
        {M, 1, 1, Both, "NOTE", "", "", true, none},
        {M, 0, 0, Rom, "QEMO1", "", "", false, none},
        // FTP Mode: mode byte 2 excludes it.
        {F, 0, 0, Def, "NOTE", "", "/tmp/fw/NOTE.msg", true, none},
        {F, 1, 0, Def, "NOTE", "", "/tmp/fw/NOTE.msg", true, none},
        {F,
         0,
         1,
         Def,
         "NOTE",
         "",
         "/tmp/fw/NOTE.msg",
         false,
         {Ftp + P, QStringLiteral("Message Attribute > 1025")}},
        {F,
         1,
         1,
         Rom,
         "NOTE",
         "",
         "/tmp/fw/NOTE.msg",
         false,
         {Ftp + P, QStringLiteral("Message Attribute > 1026")}},
        {F, 0, 0, Msg, "NOTE", "", "/tmp/fw/NOTE.msg", false, none},
        {F, 0, 0, Rom, "NOTE", "", "/tmp/fw/NOTE.msg", true, none}, // empty ROM id: every file
        {F, 0, 0, Rom, "NOTE", "note", "/tmp/fw/NOTE.msg", true, none},
        {F,
         0,
         0,
         Rom,
         "NOTE",
         "NOX",
         "/tmp/fw/NOTE.msg",
         false,
         {Diff + P, QStringLiteral("Message Attribute > 1026")}},
        {F, 0, 0, Both, "NOTE", "NOX", "/tmp/fw/NOTE.msg", true, none},
        // TFTP Mode: mode byte 1 excludes it.
        {T, 0, 0, Def, "NOTE", "", "/tmp/fw/NOTE.msg", true, none},
        {T, 0, 1, Def, "NOTE", "", "/tmp/fw/NOTE.msg", true, none},
        {T,
         1,
         0,
         Def,
         "NOTE",
         "",
         "/tmp/fw/NOTE.msg",
         false,
         {Tftp + P, QStringLiteral("Message Attribute > 1025")}},
        {T,
         1,
         1,
         Both,
         "NOTE",
         "",
         "/tmp/fw/NOTE.msg",
         false,
         {Tftp + P, QStringLiteral("Message Attribute > 1027")}},
        {T, 0, 0, Msg, "NOTE", "", "/tmp/fw/NOTE.msg", false, none},
        {T, 0, 0, Rom, "NOTE", "", "/tmp/fw/NOTE.msg", true, none},
        {T,
         0,
         0,
         Rom,
         "NOTE",
         "NOX",
         "/tmp/fw/NOTE.msg",
         false,
         {Diff + P, QStringLiteral("Message Attribute > 1026")}},
        {T, 0, 0, Both, "NOTE", "NOX", "/tmp/fw/NOTE.msg", true, none},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(testing::Message()
                     << "case " << i << " mode " << int(c.mode) << " bytes " << int(c.mode1) << ","
                     << int(c.mode2) << " attr " << c.attribute << " name " << c.name);
        const Outcome o = run(messageFile(c.name, c.mode1, c.mode2), c.attribute, c.mode,
                              QString::fromLatin1(c.romId), QString::fromLatin1(c.path));
        EXPECT_EQ(o.shown, c.shown);
        EXPECT_EQ(o.log, c.log);
    }
}

// The ROM identifier is compared with the file name of the path, not with the stored name.
TEST(MessageSelection, RomIdentifierPrefixOfFileName) {
    const QByteArray bytes = messageFile("ABC123", 0, 0);
    const QString path = QStringLiteral("/tmp/fw/ABC123.msg");
    for (const char* id : {"abc", "ABC", "aBc", "ABC123", ""}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(run(bytes, Rom, MessageMode::Ftp, QString::fromLatin1(id), path).shown);
        EXPECT_TRUE(run(bytes, Rom, MessageMode::Tftp, QString::fromLatin1(id), path).shown);
    }
    const Outcome skipped = run(bytes, Rom, MessageMode::Ftp, QStringLiteral("ABD"), path);
    EXPECT_FALSE(skipped.shown);
    EXPECT_EQ(skipped.log,
              QStringList({QStringLiteral("Message name different. Ignore Message File >>"
                                          "/tmp/fw/ABC123.msg"),
                           QStringLiteral("Message Attribute > 1026")}));

    // Backslash paths, and a directory that matches while the file name does not.
    EXPECT_TRUE(run(bytes, Rom, MessageMode::Ftp, QStringLiteral("abc"),
                    QStringLiteral("C:\\Temp\\abc123.msg"))
                    .shown);
    EXPECT_FALSE(
        run(bytes, Rom, MessageMode::Ftp, QStringLiteral("abc"), QStringLiteral("/abc/OTHER.msg"))
            .shown);
    EXPECT_TRUE(
        run(messageFile("ZZZ", 0, 0), Rom, MessageMode::Ftp, QStringLiteral("abc"), path).shown);
    EXPECT_FALSE(run(bytes, Rom, MessageMode::Ftp, QStringLiteral("ABC1234"), path).shown);
}

TEST(MessageSelection, ShownRecordCarriesTheFields) {
    RecordingWindow window;
    SelectAndShow(messageFile("QEMO7", 1, 1), Rom, MessageMode::Menu, QString(), QString(), nullptr,
                  &window);
    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_EQ(window.shown[0].name, QByteArray("QEMO7"));
    EXPECT_EQ(window.shown[0].caption, QByteArray("Before you upgrade"));
    EXPECT_EQ(window.shown[0].text, QByteArray("Do not switch the router off."));
    EXPECT_EQ(window.shown[0].liveTime, 20);

    // No log and no window: nothing to report to, and nothing breaks.
    SelectAndShow(messageFile("NOTE", 0, 1), Def, MessageMode::Ftp, QString(), P, nullptr, nullptr);
    // A mode value outside the three does nothing.
    RecordingLog log;
    SelectAndShow(messageFile("NOTE", 1, 1), Def, MessageMode(103), QString(), P, &log, &window);
    EXPECT_EQ(window.shown.size(), 1);
    EXPECT_TRUE(log.lines.isEmpty());
}

// A record shorter than its header, or whose text runs past the data, is never shown.
TEST(MessageSelection, TruncatedRecordsAreRefusedAndLogged) {
    const QByteArray whole = messageFile("NOTE", 0, 0);
    const QString path = QStringLiteral("/tmp/fw/NOTE.msg");
    for (int size : {0, 1, 82, MessageRecord::HeaderSize - 1}) {
        SCOPED_TRACE(size);
        const Outcome o = run(whole.left(size), Def, MessageMode::Ftp, QString(), path);
        EXPECT_FALSE(o.shown);
        EXPECT_EQ(o.log, QStringList({QStringLiteral("Message file too short >>") + path,
                                      QStringLiteral("Message Attribute > 1025")}));
    }
    const Outcome cut = run(whole.left(whole.size() - 1), Def, MessageMode::Tftp, QString(), path);
    EXPECT_FALSE(cut.shown);
    EXPECT_EQ(cut.log, QStringList({QStringLiteral("Message text runs past end of file >>") + path,
                                    QStringLiteral("Message Attribute > 1025")}));

    // The header alone with text length 0 is a valid, empty note.
    QByteArray header = whole.left(MessageRecord::HeaderSize);
    header[118] = 0;
    header[119] = 0;
    EXPECT_TRUE(run(header, Def, MessageMode::Ftp, QString(), path).shown);
    // Length 0xFFFF over a short file is refused, also in Menu Mode (which has no log).
    header[82] = 1;
    header[83] = 1;
    header[118] = char(0xFF);
    header[119] = char(0xFF);
    RecordingWindow window;
    SelectAndShow(header, Def, MessageMode::Menu, QString(), QString(), nullptr, &window);
    EXPECT_TRUE(window.shown.isEmpty());
}

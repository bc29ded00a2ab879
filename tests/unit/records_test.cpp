#include "message/MessageRecord.h"
#include "settings/SettingsRecord.h"
#include "transfer/FileAttributes.h"

#include <gtest/gtest.h>

using namespace fw;

TEST(SectionLetters, FollowTheLetterRule) {
    EXPECT_EQ(sectionLetter(0), '\0');
    EXPECT_EQ(sectionLetter(1), 'A');
    EXPECT_EQ(sectionLetter(13), 'M');
    EXPECT_EQ(sectionLetter(14), 'T');
    EXPECT_EQ(sectionLetter(15), 'X');
    QString letters;
    for (quint16 a : {0x0810, 0x0820, 0x0810, 0x0800, 0x08E0, 0x08F0})
        AddSectionLetter(letters, a);
    EXPECT_EQ(letters, QStringLiteral("ABTX"));
}

TEST(RomIdMatch, PrefixOfFileNameWithoutCase) {
    EXPECT_TRUE(romIdMatches(QStringLiteral("abc"), QStringLiteral("/tmp/x/ABC123.bin.tmp")));
    EXPECT_TRUE(romIdMatches(QStringLiteral("abc"), QStringLiteral("C:\\temp\\abc123.bin")));
    EXPECT_FALSE(romIdMatches(QStringLiteral("ABD"), QStringLiteral("/tmp/ABC123.bin")));
    EXPECT_FALSE(romIdMatches(QStringLiteral("abc"), QStringLiteral("/abc/x.bin")));
    EXPECT_TRUE(romIdMatches(QString(), QStringLiteral("/tmp/anything")));
    EXPECT_EQ(cutPath(QStringLiteral("a\\b/c.bin")), QStringLiteral("c.bin"));
    EXPECT_EQ(cutPath(QStringLiteral("plain")), QStringLiteral("plain"));
}

TEST(SettingsRecordTest, ShortFileOverwritesOnlyItsBytes) {
    SettingsRecord r;
    EXPECT_EQ(r.settingFlags(), 0x9F);
    QByteArray part(20, '\0');
    part.replace(0, 8, "10.0.0.1");
    part[18] = 'p';
    r.overlay(part);
    EXPECT_EQ(r.dstIP(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(r.passWd(), QStringLiteral("p"));
    EXPECT_EQ(r.settingFlags(), 0x9F);
}

TEST(SettingsRecordTest, UnterminatedTextIsReadToFieldWidth) {
    SettingsRecord r;
    QByteArray all(SettingsRecord::Size, 'A');
    r.overlay(all);
    EXPECT_EQ(r.dstIP().size(), 18);
    EXPECT_EQ(r.windowCaption().size(), 32);
    EXPECT_EQ(r.getText(SettingsRecord::GetOffset).size(), 16);
    EXPECT_EQ(r.timeOut(), qint8('A'));
}

TEST(MessageRecordTest, RoundTripAndBounds) {
    MessageRecord m;
    m.name = "QEMO1";
    m.caption = "Note";
    m.liveTime = 300;
    m.modeByte1 = 1;
    m.colour = 0x00FF8040;
    m.text = "hello";
    const QByteArray bytes = m.serialize();
    ASSERT_EQ(bytes.size(), 130);
    auto back = MessageRecord::parse(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->name, QByteArray("QEMO1"));
    EXPECT_EQ(back->cappedLiveTime(), 80);
    EXPECT_EQ(back->colour, 0x00FF8040u);
    EXPECT_EQ(back->text, QByteArray("hello"));

    MessageRecord::Problem why;
    EXPECT_FALSE(MessageRecord::parse(bytes.left(124), &why).has_value());
    EXPECT_EQ(why, MessageRecord::Problem::ShorterThanHeader);
    EXPECT_FALSE(MessageRecord::parse(bytes.left(129), &why).has_value());
    EXPECT_EQ(why, MessageRecord::Problem::TextPastEnd);
}

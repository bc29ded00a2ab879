#include "message/RtfReader.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace fw;

namespace {

RtfDocument readRtf(const char* text) {
    return RtfReader::read(QByteArrayView(text));
}

// All runs of a document, paragraph by paragraph.
QList<RtfRun> runs(const RtfDocument& d) {
    QList<RtfRun> out;
    for (const auto& p : d.paragraphs)
        out.append(p.runs);
    return out;
}

const RtfRun* runWith(const RtfDocument& d, const QString& text) {
    for (const auto& p : d.paragraphs)
        for (const auto& r : p.runs)
            if (r.text == text)
                return &r;
    return nullptr;
}

} // namespace

TEST(RtfReader, RecognisesRtfByItsOpening) {
    EXPECT_TRUE(RtfReader::isRtf("{\\rtf1\\ansi hi}"));
    EXPECT_TRUE(RtfReader::isRtf("{\\rtf"));
    EXPECT_FALSE(RtfReader::isRtf(" {\\rtf1 hi}"));
    EXPECT_FALSE(RtfReader::isRtf("{\\RTF1 hi}"));
    EXPECT_FALSE(RtfReader::isRtf("Plain note"));
    EXPECT_FALSE(RtfReader::isRtf(""));
}

// The kind of note a word processor writes: font and colour tables, a centred coloured
// heading, a bold word, a second paragraph.
TEST(RtfReader, TypicalWordProcessorNote) {
    const RtfDocument d =
        readRtf("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fswiss\\fcharset0 "
                "Arial;}{\\f1\\fnil Courier New;}}\r\n"
                "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\r\n"
                "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
                "\\pard\\qc\\cf1\\b\\f0\\fs32 Warning\\cf0\\b0\\fs20\\par\r\n"
                "\\pard Do \\b not\\b0  switch the router \\ul off\\ulnone  during the "
                "upgrade.\\par\r\n"
                "\\i\\cf2 Thank you\\i0\\cf0\\par\r\n}\r\n");
    ASSERT_EQ(d.paragraphs.size(), 3);
    EXPECT_EQ(d.plainText(), QStringLiteral("Warning\nDo not switch the router off during the "
                                            "upgrade.\nThank you"));
    EXPECT_EQ(d.paragraphs[0].alignment, RtfAlignment::Center);
    EXPECT_EQ(d.paragraphs[1].alignment, RtfAlignment::Left);

    const RtfRun* warning = runWith(d, QStringLiteral("Warning"));
    ASSERT_NE(warning, nullptr);
    EXPECT_TRUE(warning->bold);
    EXPECT_EQ(warning->halfPoints, 32);
    EXPECT_TRUE(warning->hasForeground);
    EXPECT_EQ(warning->foreground, 0xFF0000u);

    const RtfRun* notRun = runWith(d, QStringLiteral("not"));
    ASSERT_NE(notRun, nullptr);
    EXPECT_TRUE(notRun->bold);
    EXPECT_EQ(notRun->halfPoints, 20);
    EXPECT_FALSE(notRun->hasForeground); // \cf0 is the automatic colour
    const RtfRun* off = runWith(d, QStringLiteral("off"));
    ASSERT_NE(off, nullptr);
    EXPECT_TRUE(off->underline);
    EXPECT_FALSE(off->bold);

    const RtfRun* thanks = runWith(d, QStringLiteral("Thank you"));
    ASSERT_NE(thanks, nullptr);
    EXPECT_TRUE(thanks->italic);
    EXPECT_EQ(thanks->foreground, 0x0000FFu);
}

TEST(RtfReader, GroupsScopeFormattingAndResets) {
    const RtfDocument d = readRtf("{\\rtf1 a{\\b\\i\\strike b{\\b0 c}d}e\\b f\\plain g"
                                  "\\qr\\b h\\pard\\par i}");
    EXPECT_EQ(d.plainText(), QStringLiteral("abcdefgh\ni"));
    const RtfRun* b = runWith(d, QStringLiteral("b"));
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->bold && b->italic && b->strike);
    const RtfRun* c = runWith(d, QStringLiteral("c"));
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(c->bold);
    EXPECT_TRUE(c->italic);
    EXPECT_TRUE(runWith(d, QStringLiteral("d"))->bold);
    const RtfRun* e = runWith(d, QStringLiteral("e"));
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->bold || e->italic || e->strike);
    EXPECT_TRUE(runWith(d, QStringLiteral("f"))->bold);
    EXPECT_FALSE(runWith(d, QStringLiteral("g"))->bold); // \plain
    // \pard before \par: the paragraph ends left-aligned.
    EXPECT_EQ(d.paragraphs[0].alignment, RtfAlignment::Left);
    // Adjacent text in one format is one run.
    EXPECT_EQ(runs(readRtf("{\\rtf1 one \\b\\b0 two}")).size(), 1);
}

TEST(RtfReader, AlignmentBreaksAndTabs) {
    const RtfDocument d =
        readRtf("{\\rtf1 {\\qr right\\par}{\\qj just\\par}\\qc mid\\line next\\tab end\\par\\ql "
                "left}");
    ASSERT_EQ(d.paragraphs.size(), 4);
    EXPECT_EQ(d.paragraphs[0].alignment, RtfAlignment::Right);
    EXPECT_EQ(d.paragraphs[1].alignment, RtfAlignment::Justify);
    EXPECT_EQ(d.paragraphs[2].alignment, RtfAlignment::Center);
    EXPECT_EQ(d.paragraphs[3].alignment, RtfAlignment::Left);
    EXPECT_EQ(d.paragraphs[2].runs[0].text, QString::fromUtf16(u"mid\u2028next\tend"));
    // Line ends in the source are not text; a backslash before one is a paragraph.
    EXPECT_EQ(readRtf("{\\rtf1 a\r\nb\\\nc}").plainText(), QStringLiteral("ab\nc"));
}

TEST(RtfReader, CodePageAndUnicodeEscapes) {
    EXPECT_EQ(readRtf("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'80 \\'93q\\'94}").plainText(),
              QString::fromUtf16(u"café € “q”"));
    // Another code page falls back to Latin-1.
    EXPECT_EQ(readRtf("{\\rtf1\\ansi\\ansicpg1251 \\'e9\\'80}").plainText(),
              QString::fromUtf16(u"é\u0080"));
    // \uN with its one fallback character, \uc2 with two, \uc0 with none.
    EXPECT_EQ(readRtf("{\\rtf1 price 5\\u8364? net}").plainText(),
              QString::fromUtf16(u"price 5€ net"));
    EXPECT_EQ(readRtf("{\\rtf1\\uc2 \\u8364\\'80\\'80!}").plainText(), QString::fromUtf16(u"€!"));
    EXPECT_EQ(readRtf("{\\rtf1\\uc0 \\u8364!}").plainText(), QString::fromUtf16(u"€!"));
    EXPECT_EQ(readRtf("{\\rtf1 \\u-3913?}").plainText(), QString::fromUtf16(u"\uF0B7"));
    // A surrogate pair written as two negative numbers.
    EXPECT_EQ(readRtf("{\\rtf1 \\u-10179?\\u-8704?}").plainText(), QString::fromUtf16(u"😀"));
    // \ucN is scoped to its group.
    EXPECT_EQ(readRtf("{\\rtf1 {\\uc3 x}\\u233?y}").plainText(), QString::fromUtf16(u"xéy"));
    // Escaped braces and backslash, symbols.
    EXPECT_EQ(readRtf("{\\rtf1 \\{a\\}\\\\ b\\~c\\emdash d}").plainText(),
              QString::fromUtf16(u"{a}\\ b\u00A0c\u2014d"));
}

TEST(RtfReader, ColourTableForegroundAndBackground) {
    const RtfDocument d = readRtf("{\\rtf1{\\colortbl;\\red0\\green128\\blue0;\\red255\\green255"
                                  "\\blue0;}\\cf1\\highlight2 go\\cb0 \\cf9 on}");
    const RtfRun* go = runWith(d, QStringLiteral("go"));
    ASSERT_NE(go, nullptr);
    EXPECT_EQ(go->foreground, 0x008000u);
    EXPECT_TRUE(go->hasBackground);
    EXPECT_EQ(go->background, 0xFFFF00u);
    const RtfRun* on = runWith(d, QStringLiteral("on"));
    ASSERT_NE(on, nullptr);
    EXPECT_FALSE(on->hasForeground); // index past the table
    EXPECT_FALSE(on->hasBackground);
}

TEST(RtfReader, SkipsDestinationsItDoesNotShow) {
    const RtfDocument d =
        readRtf("{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}"
                "{\\author A}}{\\header head}{\\footer foot}{\\*\\unknown{nested} x}"
                "{\\pict\\pngblip 89504e47}{\\*\\shppict{\\pict 00}}{\\nonshppict{\\pict 00}}"
                "{\\pict\\bin4 {}\\}}body}");
    EXPECT_EQ(d.plainText(), QStringLiteral("body"));
    // \bin is skipped byte for byte, braces and all.
    EXPECT_EQ(readRtf("{\\rtf1 a\\bin3 }{\\b}").plainText(), QStringLiteral("ab"));
}

TEST(RtfReader, Cp1252DecodingOfPlainBytes) {
    EXPECT_EQ(RtfReader::decodeCp1252("A\x80\x99\xe9\x81"), QString::fromUtf16(u"A€™é\uFFFD"));
}

// Hostile or broken input ends quickly and with bounded output.
TEST(RtfReader, MalformedInputIsBounded) {
    // Unbalanced braces: the text that can be read is kept.
    EXPECT_EQ(readRtf("{\\rtf1 {\\b open").plainText(), QStringLiteral("open"));
    EXPECT_EQ(readRtf("{\\rtf1 a}}}} after").plainText(), QStringLiteral("a"));
    EXPECT_EQ(readRtf("{\\rtf1 a}{\\b b}").plainText(), QStringLiteral("a"));

    // Truncated escapes at the very end.
    EXPECT_EQ(readRtf("{\\rtf1 x\\'").plainText(), QStringLiteral("x"));
    EXPECT_EQ(readRtf("{\\rtf1 x\\'4").plainText(), QStringLiteral("x"));
    EXPECT_EQ(readRtf("{\\rtf1 x\\'zz").plainText(), QStringLiteral("xzz"));
    EXPECT_EQ(readRtf("{\\rtf1 x\\").plainText(), QStringLiteral("x"));
    EXPECT_EQ(readRtf("{\\rtf1 x\\u").plainText(), QStringLiteral("x"));
    EXPECT_EQ(readRtf("{\\rtf1 x\\u-").plainText(), QStringLiteral("x-"));

    // Huge numbers are capped, never overflow.
    const RtfDocument big = readRtf("{\\rtf1\\fs999999999999999999999 a\\fs-5 b\\cf99999999999"
                                    " c\\uc999999999 \\u99999999999 d e f g h i j k l}");
    ASSERT_FALSE(big.paragraphs.isEmpty());
    EXPECT_EQ(big.paragraphs[0].runs[0].halfPoints, RtfReader::MaxHalfPoints);
    // \uc is capped at 8 fallback characters: "d e f g " are dropped.
    EXPECT_EQ(big.plainText(), QStringLiteral("abch i j k l"));
    EXPECT_EQ(readRtf("{\\rtf1 \\bin99999999999 abc}").plainText(), QString());
    EXPECT_EQ(readRtf("{\\rtf1 \\averyveryveryverylongcontrolwordthatgoesonandon1 x}").plainText(),
              QStringLiteral("x"));

    // 100000 nested groups: depth is capped, the text outside the deep part survives.
    QByteArray deep = "{\\rtf1 start";
    deep.append(QByteArray(100000, '{'));
    deep.append("\\b deep");
    deep.append(QByteArray(100000, '}'));
    deep.append(" end}");
    QElapsedTimer t;
    t.start();
    const RtfDocument nested = RtfReader::read(deep);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(nested.plainText(), QStringLiteral("start end"));

    // Shallower nesting than the cap keeps the text and the scope.
    QByteArray ok = "{\\rtf1 ";
    ok.append(QByteArray(200, '{'));
    ok.append("\\b in");
    ok.append(QByteArray(200, '}'));
    ok.append("out}");
    const RtfDocument shallow = RtfReader::read(ok);
    EXPECT_EQ(shallow.plainText(), QStringLiteral("inout"));
    EXPECT_TRUE(runWith(shallow, QStringLiteral("in"))->bold);
    EXPECT_FALSE(runWith(shallow, QStringLiteral("out"))->bold);

    // Output never outgrows the input, whatever the mix of paragraphs and escapes.
    QByteArray pars = "{\\rtf1 ";
    for (int i = 0; i < 20000; ++i)
        pars.append("\\par\\line\\u8364?\\'e9\\tab");
    const RtfDocument many = RtfReader::read(pars);
    qsizetype units = many.paragraphs.size();
    for (const auto& r : runs(many))
        units += r.text.size();
    EXPECT_LE(units, pars.size());

    // Arbitrary bytes: every prefix of a realistic note reads without trouble.
    const QByteArray note = "{\\rtf1\\ansi{\\colortbl;\\red1\\green2\\blue3;}\\qc\\cf1\\b "
                            "Hi\\'e9\\u8364?{\\*\\x y}\\par}";
    for (qsizetype n = 0; n <= note.size(); ++n)
        (void)RtfReader::read(QByteArrayView(note).first(n));
}

// Random mixes of RTF tokens and bytes (fixed seed): every one reads within its bounds.
TEST(RtfReader, RandomTokenSoup) {
    static const char* const tokens[] = {
        "{",    "}",      "\\",         "\\'",     "\\'e9",     "\\u",  "\\u-", "\\u8364",
        "\\uc", "\\uc9",  "\\bin",      "\\bin5",  "\\par",     "\\b0", "\\fs", "\\cf1",
        "\\*",  "\\pict", "\\colortbl", ";",       "\\red9",    "x",    " ",    "\\line",
        "\\qc", "9",      "-",          "\\plain", "\\u-10179", "\\\n", "\xff", "\\fonttbl"};
    quint32 seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 3000; ++round) {
        QByteArray in = "{\\rtf1 ";
        const int count = int(next() % 60);
        for (int i = 0; i < count; ++i)
            in.append(tokens[next() % std::size(tokens)]);
        const RtfDocument d = RtfReader::read(in);
        qsizetype units = d.paragraphs.size();
        for (const auto& p : d.paragraphs)
            for (const auto& r : p.runs) {
                units += r.text.size();
                EXPECT_LE(r.halfPoints, RtfReader::MaxHalfPoints);
            }
        EXPECT_LE(units, in.size());
    }
}

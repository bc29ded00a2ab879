// How texts from outside are presented: every control character written out, nothing else
// touched, so one presented text can never become two lines.

#include "ui/VisibleText.h"

#include <gtest/gtest.h>

using fw::isVisibleText;
using fw::visibleText;

TEST(VisibleText, ControlCharactersBecomeLowercaseHexEscapes) {
    EXPECT_EQ(visibleText(QStringLiteral("\nbox: Success: OK\n")),
              QStringLiteral("\\x0abox: Success: OK\\x0a"));
    EXPECT_EQ(visibleText(QString::fromLatin1("a\0b\r\x1b[2J\x7f\x1f", 10)),
              QStringLiteral("a\\x00b\\x0d\\x1b[2J\\x7f\\x1f"));
    // C1 controls (NEL among them) and the Unicode line separators break lines for some readers.
    EXPECT_EQ(visibleText(QString(QChar(0x85)) + QChar(0x9F) + QChar(0x2028) + QChar(0x2029)),
              QStringLiteral("\\x85\\x9f\\u2028\\u2029"));
}

TEST(VisibleText, PrintableTextStaysAsItIs) {
    const QString plain = QStringLiteral("192.168.1.1  ABC123 - Router \u00e9\u20ac\\x0a ~");
    EXPECT_TRUE(isVisibleText(plain));
    EXPECT_EQ(visibleText(plain), plain);
    EXPECT_EQ(visibleText(QString()), QString());
    EXPECT_FALSE(isVisibleText(QStringLiteral("a\tb")));
    EXPECT_TRUE(isVisibleText(visibleText(QStringLiteral("a\tb\n"))));
}

#include "MessageWindow.h"
#include "message/MessageRecord.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <gtest/gtest.h>

using namespace fw;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "message_screenshot_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QApplication(argc, argv);
    return *a;
}

MessageRecord sampleNote() {
    MessageRecord m;
    m.name = "QEMO-NOTE";
    m.caption = "Firmware Upgrade Notice";
    m.liveTime = 0;
    m.noBlink = 1;
    m.colour = 0x00D0FFFF; // 0x00BBGGRR: a pale yellow
    m.text = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
             "{\\colortbl ;\\red200\\green0\\blue0;\\red0\\green0\\blue160;\\red255\\green255"
             "\\blue0;}\r\n"
             "\\pard\\qc\\cf1\\b\\fs36 Important\\b0\\cf0\\fs24\\par\r\n"
             "\\pard\\qc\\i Please read before you upgrade\\i0\\par\\par\r\n"
             "\\pard Do \\b not\\b0  switch the router off while the new firmware is "
             "written. The upgrade takes about \\cf2\\b two minutes\\b0\\cf0 ; the router "
             "restarts by itself.\\par\\par\r\n"
             "\\highlight3 Keep this window open\\highlight0  until it closes: the "
             "settings you made in the caf\\'e9 \\ul stay\\ulnone  as they are. "
             "Support: 5 \\u8364? per call.\\par\r\n}";
    return m;
}

} // namespace

// Renders a sample note as a person sees it. With FW_SHOT_PATH set, the picture is saved there
// (docs/shoot-message.sh uses this for the documentation).
TEST(MessageScreenshot, SampleNoteRendersWithItsColour) {
    app();
    MessageWindow form(sampleNote());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form, 2000));
    QTest::qWait(50);
    const QImage image = form.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size() / image.devicePixelRatio(), QSize(500, 300));

    // The note's background fills the view; its coloured words are drawn.
    const QColor background(0xFF, 0xFF, 0xD0);
    int backgroundPixels = 0;
    int redPixels = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            backgroundPixels += c == background;
            redPixels += c.red() > 150 && c.green() < 80 && c.blue() < 80;
        }
    }
    EXPECT_GT(backgroundPixels, image.width() * image.height() / 2);
    EXPECT_GT(redPixels, 20);

    const QByteArray path = qgetenv("FW_SHOT_PATH");
    if (!path.isEmpty()) {
        EXPECT_TRUE(image.save(QString::fromLocal8Bit(path), "PNG", 9));
    }
    form.close();
}

// A router whose discovery texts carry line feeds cannot forge report lines in a headless run:
// the texts arrive (routersim sends the raw bytes) and are written with "\x0a", each report
// stays one line, and no box or status line appears that the program never showed.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

using namespace fw::test;

namespace {

const QString Home = QStringLiteral("192.168.123.254");

TEST(ForgedLines, DiscoveryTextsWithLineFeedsStayInsideTheirListLine) {
    FW_REQUIRE_NETNS();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(NetNamespace::addAddress(Home).toStdString(), "");
    QFile f(dir.filePath(QStringLiteral("fw.bin")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(QByteArray(4000, '\x5A')), 4000);
    f.close();

    // routersim turns "\x0a" in a text knob into the byte itself.
    SimProcess sim({QStringLiteral("--router"),
                    Home + QStringLiteral(",answers=query,romid=\\x0abox: Success: OK\\x0a,"
                                          "detail=\\x0astatus: Upgrade Success\\x0a")});
    QString error;
    ASSERT_TRUE(sim.start(&error)) << error.toStdString();
    // Start "set" without a file, log shown (flag 0x20): the search fills the detailed router
    // list, with the ROM id and detail, and the program waits for a person.
    const QString packed =
        packProgram(dir.path(), {f.fileName() + QStringLiteral(":0x080D")},
                    QStringList{QStringLiteral("--start-mode"), QStringLiteral("4"),
                                QStringLiteral("--flags"), QStringLiteral("0x21")});
    const ProgramRun r = runHeadless(packed, {});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 3) << why;

    QStringList list;
    for (const QByteArray& line : r.err.split('\n')) {
        EXPECT_FALSE(line.startsWith("box:")) << why;
        EXPECT_FALSE(line.startsWith("status: Upgrade")) << why;
        if (line.startsWith("list:"))
            list << QString::fromLocal8Bit(line);
    }
    for (const QByteArray& line : r.out.split('\n'))
        EXPECT_FALSE(line.startsWith("box:") || line.startsWith("status:")) << why;
    EXPECT_EQ(list, QStringList{QStringLiteral("list: 192.168.123.254  \\x0abox: Success: OK\\x0a"
                                               " - \\x0astatus: Upgrade Success\\x0a   normal")})
        << why;
    EXPECT_TRUE(r.err.contains("status: 1 device found\n")) << why;
}

} // namespace

FW_NETNS_TEST_MAIN(QCoreApplication)

// Headless TFTP recovery of a crashed router by the real program, inside the test's private
// network namespace: the search finds the crashed loader, the controller chooses TFTP, the file
// goes out block by block and the router is told to reboot.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");

QByteArray image(int size) {
    QByteArray b;
    for (int i = 0; i < size; ++i)
        b.append(char((i * 11 + i / 509) & 0xFF));
    return b;
}

class TftpHeadless : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("got")));
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    void writeFile(const char* name, const QByteArray& bytes) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    // One crashed router; `knobs` go to its TFTP server, which keeps files in got/.
    void startCrashedRouter(const QString& knobs) {
        QString options = Router + QStringLiteral(":dir=") + path("got");
        if (!knobs.isEmpty())
            options += QStringLiteral(",") + knobs;
        sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--router"), Router + QStringLiteral(",state=crashed,romid=ABC123"),
            QStringLiteral("--tftp-options"), options});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }

    ProgramRun put(const QString& file) {
        return runHeadless(fwupgradePath(), {QStringLiteral("put"), Router, QStringLiteral("null"),
                                             QStringLiteral("ABC123"), file});
    }
};

} // namespace

TEST_F(TftpHeadless, CrashedRouterGetsItsFirmwareBackAndReboots) {
    // Five whole blocks and a short one.
    const QByteArray firmware = image(5 * 512 + 300);
    writeFile("fw.bin", firmware);
    startCrashedRouter(QString());
    const ProgramRun r = put(path("fw.bin"));
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    QFile got(path("got") + QStringLiteral("/fw.bin"));
    ASSERT_TRUE(got.open(QIODevice::ReadOnly)) << why;
    EXPECT_EQ(got.readAll(), firmware);
    EXPECT_TRUE(r.err.contains("list: 192.168.123.254   crash\n")) << why;
    EXPECT_TRUE(r.out.contains("Unsing TFTP upgrade mode to : 192.168.123.254\n")) << why;
    EXPECT_TRUE(r.out.contains("Segment: 5\nmod: 300\n")) << why;
    EXPECT_TRUE(r.err.contains("status: Recover success\n")) << why;
    EXPECT_FALSE(r.err.contains("box: ")) << why;
}

TEST_F(TftpHeadless, RefusedWriteRequestFailsTheRun) {
    writeFile("fw.bin", image(2000));
    startCrashedRouter(QStringLiteral("errorwrq=1,errorcode=2,errortext=Access violation"));
    const ProgramRun r = put(path("fw.bin"));
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_FALSE(QFile::exists(path("got") + QStringLiteral("/fw.bin"))) << why;
    EXPECT_FALSE(r.err.contains("status: Recover success")) << why;
}

TEST_F(TftpHeadless, LostDatagramsAreSentAgainAndTheRecoveryCompletes) {
    // The first write request, block 3 and the last block each lose their first copy.
    const QByteArray firmware = image(6 * 512 + 100);
    writeFile("fw.bin", firmware);
    startCrashedRouter(QStringLiteral("dropwrq=1,dropblock=3,droplast=yes"));
    const ProgramRun r = put(path("fw.bin"));
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    QFile got(path("got") + QStringLiteral("/fw.bin"));
    ASSERT_TRUE(got.open(QIODevice::ReadOnly)) << why;
    EXPECT_EQ(got.readAll(), firmware);
    EXPECT_TRUE(r.out.contains("Resend write request fw.bin (1 of 5)\n")) << why;
    EXPECT_TRUE(r.out.contains("Resend block 3 (1 of 5)\n")) << why;
    EXPECT_TRUE(r.out.contains("Resend block 7 (1 of 5)\n")) << why;
    EXPECT_FALSE(r.out.contains("(2 of 5)")) << why;
    EXPECT_TRUE(r.err.contains("status: Recover success\n")) << why;
}

FW_NETNS_TEST_MAIN(QCoreApplication)

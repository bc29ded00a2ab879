// Headless FTP upgrades of the real program inside the test's private network namespace: an
// old-firmware router is logged in over HTTP, then given its files over FTP; a router whose FTP
// server stalls is ended by the watchdog, which also ends the FTP call in progress.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");

class FtpHeadless : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QByteArray firmware;
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("got")));
        for (int i = 0; i < 70000; ++i)
            firmware.append(char((i * 5 + i / 1021) & 0xFF));
        QFile f(path("fw.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(firmware), firmware.size());
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString received() const { return path("got") + QStringLiteral("/fw.bin"); }

    // An old-firmware router: its web server knows no CAS codes, its FTP server takes the files.
    void startOldRouter(const QString& ftpKnobs) {
        sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--router"), Router + QStringLiteral(",state=normal,romid=ABC123"),
            QStringLiteral("--web"), QStringLiteral("--web-options"),
            Router + QStringLiteral(":firmware=old,password=pw1"), QStringLiteral("--ftp"),
            QStringLiteral("--ftp-options"),
            Router + QStringLiteral(":password=pw1,dir=") + path("got") + ftpKnobs});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }

    // The program with the firmware and a settings record of the given options appended.
    QString pack(const QStringList& settingsOptions) {
        return packProgram(dir.path(), {path("fw.bin") + QStringLiteral(":0x080D")},
                           settingsOptions);
    }
};

} // namespace

TEST_F(FtpHeadless, OldFirmwareRouterIsUpgradedOverFtp) {
    startOldRouter(QString());
    const ProgramRun r =
        runHeadless(fwupgradePath(), {QStringLiteral("put"), Router, QStringLiteral("pw1"),
                                      QStringLiteral("ABC123"), path("fw.bin")});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    QFile got(received());
    ASSERT_TRUE(got.open(QIODevice::ReadOnly)) << why;
    EXPECT_EQ(got.readAll(), firmware);
    EXPECT_TRUE(r.out.contains("Old version detect\n")) << why;
    EXPECT_TRUE(r.out.contains("Unsing FTP upgrade mode to : 192.168.123.254\n")) << why;
    EXPECT_TRUE(r.out.contains("Unsing FTP upgrade to : 192.168.123.254 success\n")) << why;
    EXPECT_TRUE(r.err.contains("status: Upgrade Successfully\n")) << why;
    EXPECT_FALSE(r.out.contains("Unsing HTTP upgrade mode")) << why;
    EXPECT_FALSE(r.err.contains("box: ")) << why;
}

TEST_F(FtpHeadless, RouterHangingUpAfterTheWholeFileHasAcceptedIt) {
    startOldRouter(QStringLiteral(",noreply=STOR"));
    const ProgramRun r =
        runHeadless(fwupgradePath(), {QStringLiteral("put"), Router, QStringLiteral("pw1"),
                                      QStringLiteral("ABC123"), path("fw.bin")});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    QFile got(received());
    ASSERT_TRUE(got.open(QIODevice::ReadOnly)) << why;
    EXPECT_EQ(got.readAll(), firmware);
    EXPECT_TRUE(r.out.contains("No reply after fw.bin: the router hung up after taking the whole "
                               "file; counted as accepted\n"))
        << why;
    // Sent once: no HTTP fall-back with the image a second time.
    EXPECT_FALSE(r.out.contains("Unsing HTTP upgrade mode")) << why;
    EXPECT_FALSE(r.err.contains("box: ")) << why;
}

TEST_F(FtpHeadless, StalledFtpServerEndsThroughTheWatchdog) {
    startOldRouter(QStringLiteral(",stall=STOR"));
    // A put started by the packed settings, with a 4-second watchdog.
    const QString program = pack(
        {QStringLiteral("--start-mode"), QStringLiteral("put"), QStringLiteral("--dst-ip"), Router,
         QStringLiteral("--password"), QStringLiteral("pw1"), QStringLiteral("--romid"),
         QStringLiteral("ABC123"), QStringLiteral("--timeout"), QStringLiteral("4")});
    QElapsedTimer t;
    t.start();
    const ProgramRun r = runHeadless(program, {});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.out.contains("Unsing FTP upgrade mode to : 192.168.123.254\n")) << why;
    EXPECT_TRUE(r.out.contains("StopCounter : 3\n")) << why;
    EXPECT_FALSE(r.out.contains("StopCounter : 4\n")) << why;
    // The program ends there: no HTTP fall-back over files that are being deleted.
    EXPECT_FALSE(r.out.contains("Unsing HTTP upgrade mode")) << why;
    EXPECT_FALSE(r.err.contains("box: Failure")) << why;
    EXPECT_TRUE(r.err.contains("box: FTP Upgrade Failure: ")) << why;
    EXPECT_FALSE(r.err.contains("status: Upgrade Successfully")) << why;
    // The FTP call was cancelled: the run did not wait for the FTP client's own time-outs.
    EXPECT_LT(t.elapsed(), 30000);
}

FW_NETNS_TEST_MAIN(QCoreApplication)

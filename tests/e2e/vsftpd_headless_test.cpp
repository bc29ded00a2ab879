// The program against Debian's vsftpd as the router's FTP server, inside the test's network
// namespace: an old-firmware router (logged in over the simulated web server) is upgraded over
// FTP with its files byte-exact under their names, through a banner far longer than a line
// count would allow; a password vsftpd refuses ends the run as a refused password.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"
#include "support/VsftpdServer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");

QByteArray bytesOf(qsizetype size, int seed) {
    QByteArray b(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char((i * (seed + 3) + i / 509 + seed) & 0xFF);
    return b;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class VsftpdHeadless : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<VsftpdServer> ftp;
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        FW_REQUIRE_VSFTPD();
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return path(name);
    }
    void startFtp(const QByteArray& banner = {}) {
        ftp = std::make_unique<VsftpdServer>(Router, banner);
        const QString why = ftp->start();
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    }
    // The router's discovery answers and echo, and an old-firmware web server when asked.
    void startSim(bool web) {
        QStringList args{QStringLiteral("--router"),
                         Router + QStringLiteral(",state=normal,romid=ABC123")};
        if (web)
            args << QStringLiteral("--web") << QStringLiteral("--web-options")
                 << Router + QStringLiteral(":firmware=old,password=") +
                        VsftpdServer::RootPassword;
        sim = std::make_unique<SimProcess>(args);
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }
};

} // namespace

TEST_F(VsftpdHeadless, OldFirmwareRouterGetsItsFilesByteExactThroughALongBanner) {
    QByteArray banner;
    for (int i = 0; i < 1500; ++i)
        banner += "Authorised use only. Line " + QByteArray::number(i) + " of the house rules.\n";
    ASSERT_NO_FATAL_FAILURE(startFtp(banner));
    ASSERT_NO_FATAL_FAILURE(startSim(true));
    const QByteArray main = bytesOf(300000, 1);
    const QByteArray boot = bytesOf(70001, 2);
    // Section 1 for this ROM identifier, and section 2 for every router.
    const QString packed = packProgram(dir.path(),
                                       {write(QStringLiteral("ABC123_main.bin"), main) +
                                            QStringLiteral(":0x0816"),
                                        write(QStringLiteral("boot.img"), boot) +
                                            QStringLiteral(":0x0825")},
                                       std::nullopt);
    const QStringList put{QStringLiteral("put"), Router, VsftpdServer::RootPassword,
                          QStringLiteral("ABC123")};
    // A dry run logs in to the real server with the password and stores nothing.
    qputenv("FWUPGRADE_DRY_RUN", "1");
    const ProgramRun dry = runHeadless(packed, put);
    qunsetenv("FWUPGRADE_DRY_RUN");
    EXPECT_EQ(dry.exitCode, 0) << describe(dry).toStdString();
    EXPECT_TRUE(dry.out.contains("Dry run: would send 2 file(s), 370001 bytes, by FTP\n"))
        << describe(dry).toStdString();
    EXPECT_TRUE(QDir(ftp->filesDir()).entryList(QDir::Files).isEmpty());

    const ProgramRun r = runHeadless(packed, put);
    const std::string why = describe(r).toStdString() + "\n--- vsftpd\n" + ftp->log().toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_TRUE(r.out.contains("Old version detect\n")) << why;
    EXPECT_TRUE(r.out.contains("Unsing FTP upgrade to : 192.168.123.254 success\n")) << why;
    EXPECT_TRUE(r.out.contains("Total upgrade file count in FTP mode: 2\n")) << why;
    EXPECT_FALSE(r.out.contains("Unsing HTTP upgrade mode")) << why;
    EXPECT_TRUE(readAll(ftp->filesDir() + QStringLiteral("/ABC123_main.bin")) == main) << why;
    EXPECT_TRUE(readAll(ftp->filesDir() + QStringLiteral("/boot.img")) == boot) << why;
    EXPECT_EQ(QDir(ftp->filesDir()).entryList(QDir::Files).size(), 2) << why;
}

TEST_F(VsftpdHeadless, RefusedPasswordEndsAsARefusedPassword) {
    ASSERT_NO_FATAL_FAILURE(startFtp());
    ASSERT_NO_FATAL_FAILURE(startSim(false));
    // A put started by the packed settings with FTP first, so vsftpd judges the password.
    const QString packed = packProgram(
        dir.path(), {write(QStringLiteral("fw.bin"), bytesOf(5000, 3)) + QStringLiteral(":0x080D")},
        QStringList{QStringLiteral("--start-mode"), QStringLiteral("put"),
                    QStringLiteral("--dst-ip"), Router, QStringLiteral("--password"),
                    QStringLiteral("not-the-password"), QStringLiteral("--romid"),
                    QStringLiteral("ABC123"), QStringLiteral("--method-order"),
                    QStringLiteral("2")});
    const ProgramRun r = runHeadless(packed, {});
    const std::string why = describe(r).toStdString() + "\n--- vsftpd\n" + ftp->log().toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.out.contains("Password Error\n")) << why;
    EXPECT_TRUE(r.err.contains("box: Authentication Failed: Incorrect password. Please check and "
                               "input again!"))
        << why;
    EXPECT_FALSE(r.out.contains("Unsing HTTP upgrade mode")) << why;
    EXPECT_TRUE(QDir(ftp->filesDir()).entryList(QDir::Files).isEmpty()) << why;
}

FW_NETNS_TEST_MAIN(QCoreApplication)

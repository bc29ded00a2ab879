// A recovery set received by Debian's tftpd-hpa, a TFTP server nobody here wrote, inside the
// test's private network namespace. A stock server answers each transfer from a port of its own
// while the loader the program expects keeps everything on port 69, so a relay takes port 69 in
// front of it; the search's probes go on to the simulated router, which makes it look crashed.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"
#include "support/TftpRelay.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");
const QString Tftpd = QStringLiteral("/usr/sbin/in.tftpd");
constexpr quint16 ServerPort = 1069;
constexpr quint16 SimTftpPort = 6969; // the simulated router's own TFTP port, moved off 69
constexpr std::chrono::milliseconds ServerStartBound{5000};

QByteArray image(int size, int seed) {
    QByteArray b;
    for (int i = 0; i < size; ++i)
        b.append(char((i * 13 + seed + i / 509) & 0xFF));
    return b;
}

// True once something holds the UDP port on 0.0.0.0.
bool udpPortTaken(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    const bool taken = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
    if (fd >= 0)
        ::close(fd);
    return taken;
}

class TftpdHpa : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QProcess server;
    std::unique_ptr<SimProcess> sim;
    TftpRelay relay;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        if (!QFile::exists(Tftpd)) {
            if (NetNamespace::mustRun())
                GTEST_FAIL() << "tftpd-hpa is required (CI=true); scripts/setup.sh installs it";
            GTEST_SKIP() << "tftpd-hpa not installed (scripts/setup.sh installs it), skipped";
        }
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("srv")));

        // Foreground, IPv4, new files allowed, chrooted to srv/, staying root (the namespace's
        // root may be a mapped user that cannot become the package's account).
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(Tftpd, {QStringLiteral("-4"), QStringLiteral("-L"), QStringLiteral("-a"),
                             QStringLiteral(":%1").arg(ServerPort), QStringLiteral("-c"),
                             QStringLiteral("-s"), QStringLiteral("-u"), QStringLiteral("root"),
                             path("srv")});
        ASSERT_TRUE(server.waitForStarted());
        QDeadlineTimer up(ServerStartBound);
        while (!udpPortTaken(ServerPort) && !up.hasExpired() &&
               server.state() == QProcess::Running)
            QThread::msleep(20);
        ASSERT_TRUE(udpPortTaken(ServerPort)) << server.readAll().toStdString();

        sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--router"), Router + QStringLiteral(",state=crashed,romid=ABC123"),
            QStringLiteral("--ports"), QStringLiteral("9,67,%1").arg(SimTftpPort)});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
        ASSERT_TRUE(relay.start({Router, 69, ServerPort, Router, SimTftpPort}, &error))
            << error.toStdString();
    }
    void TearDown() override {
        relay.stop();
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished();
        }
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void writeFile(const char* name, const QByteArray& bytes) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QByteArray received(const char* name) const {
        QFile f(path("srv") + u'/' + QString::fromLatin1(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    }
};

} // namespace

TEST_F(TftpdHpa, RecoverySetArrivesByteExact) {
    // Whole blocks and a short one; then exactly two blocks, whose last block is empty.
    const QByteArray firmware = image(5 * 512 + 300, 1);
    const QByteArray boot = image(1024, 2);
    writeFile("fw.bin", firmware);
    writeFile("boot.bin", boot);
    // Upgrade files for TFTP without a ROM check, sections 1 and 2; started by the settings.
    const QString program = packProgram(
        dir.path(), {path("fw.bin") + QStringLiteral(":0x0819"),
                     path("boot.bin") + QStringLiteral(":0x0829")},
        QStringList{QStringLiteral("--start-mode"), QStringLiteral("put"), QStringLiteral("--dst-ip"),
                    Router});
    const ProgramRun r = runHeadless(program, {});
    const std::string why = describe(r).toStdString() + server.readAll().toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(received("fw.bin.tmp"), firmware) << why;
    EXPECT_EQ(received("boot.bin.tmp"), boot) << why;
    EXPECT_EQ(relay.writeRequests(), 2) << why;
    EXPECT_EQ(relay.rebootRequests(), 1) << why;
    EXPECT_TRUE(r.out.contains("Total upgrade file count in TFTP mode: 2\n")) << why;
    EXPECT_FALSE(r.out.contains("Resend ")) << why;
    EXPECT_TRUE(r.err.contains("status: Recover success\n")) << why;
}

FW_NETNS_TEST_MAIN(QCoreApplication)

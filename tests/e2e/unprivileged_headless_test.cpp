// The packed program run as an ordinary user (nobody, no capabilities) inside the test's private
// namespace, where unprivileged ICMP is not allowed either: the search skips the boot-port probe
// with one log line and no box, the echo test falls back to a TCP connection to port 80, and a
// put upgrades the router.

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
constexpr int NeedsPerson = 3;
const QStringList AsNobody{QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                           QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups"),
                           QStringLiteral("--")};

class Unprivileged : public ::testing::Test {
protected:
    void SetUp() override {
        FW_REQUIRE_NETNS();
        int rc = -1;
        const QString out = NetNamespace::run(AsNobody + QStringList{QStringLiteral("true")}, &rc);
        if (rc != 0) {
            if (NetNamespace::mustRun())
                GTEST_FAIL() << "setpriv to nobody refused: " << out.toStdString();
            GTEST_SKIP() << "setpriv to nobody refused (no root?): " << out.toStdString();
        }
        ASSERT_TRUE(NetNamespace::setSysctl(QStringLiteral("net/ipv4/ping_group_range"), "1 0"));
        ASSERT_TRUE(dir.isValid());
        // nobody reads the program and the firmware, and extracts into a directory of its own.
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        ASSERT_TRUE(QFile::setPermissions(dir.path(), open));
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("tmp")));
        ASSERT_TRUE(
            QFile::setPermissions(path("tmp"), open | QFile::WriteGroup | QFile::WriteOther));
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        QFile f(path("fw.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(firmware), firmware.size());
        f.close();
        sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--router"), Router + QStringLiteral(",state=normal,romid=ABC123"),
            QStringLiteral("--web"), QStringLiteral("--web-options"),
            Router + QStringLiteral(":body=") + path("body.bin") +
                QStringLiteral(",password=s3cret")});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
        packed = packProgram(dir.path(), {path("fw.bin") + QStringLiteral(":0x080D")}, {});
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    ProgramRun runAsNobody(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FWUPGRADE_HEADLESS"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), path("tmp"));
        env.insert(QStringLiteral("HOME"), path("tmp"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        QStringList command = AsNobody + QStringList{packed} + args;
        const ProgramRun r = runProgram(command.takeFirst(), command, env, HeadlessRunTimeout);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }

    QTemporaryDir dir;
    QByteArray firmware = QByteArray(30000, '\x3C');
    std::unique_ptr<SimProcess> sim;
    QString packed;
};

} // namespace

TEST_F(Unprivileged, SearchSkipsTheBootPortProbeAndListsTheRouter) {
    const ProgramRun r = runAsNobody({});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, NeedsPerson) << why;
    EXPECT_FALSE(r.err.contains("box: ")) << why;
    QStringList listed;
    for (const QString& l : QString::fromLocal8Bit(r.err).split(u'\n'))
        if (l.startsWith(QStringLiteral("list: ")))
            listed << l;
    // The query probe's record, answering through the TCP fallback; no boot-port duplicate.
    EXPECT_EQ(listed, QStringList{QStringLiteral("list: ") + Router}) << why;
    const QByteArray skipped = "Boot-port probe skipped: local port 68 needs a privilege; grant "
                               "it with: sudo setcap cap_net_raw,cap_net_bind_service+ep " +
                               packed.toLocal8Bit() + "\n";
    EXPECT_EQ(r.out.count(skipped), 1) << why;
    EXPECT_EQ(r.out.count("ICMP echo not permitted: an address counts as answering when its port "
                          "80 accepts or refuses a TCP connection\n"),
              1)
        << why;
    EXPECT_FALSE(r.out.contains("winsock")) << why;
    // The other probes went out as before.
    int tftp = 0;
    for (const QString& line : sim->transcriptLines())
        tftp += line.startsWith(u"udp ") && line.endsWith(u" 0001564e006f6374657400");
    EXPECT_GE(tftp, 1);
}

TEST_F(Unprivileged, PutUpgradesTheRouterAndExitsZero) {
    const ProgramRun r =
        runAsNobody({QStringLiteral("put"), Router, QStringLiteral("s3cret"),
                     QStringLiteral("ABC123"), path("fw.bin"), QStringLiteral("log")});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_TRUE(r.out.contains("Upgrade success in New version\n")) << why;
    QFile body(path("body.bin"));
    ASSERT_TRUE(body.open(QIODevice::ReadOnly)) << why;
    EXPECT_TRUE(body.readAll().contains(firmware));
    EXPECT_FALSE(r.err.contains("box: ")) << why;
    // Nothing of ours was left in nobody's temporary directory (Qt keeps its runtime folder).
    QStringList left =
        QDir(path("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
    left.removeAll(QStringLiteral("runtime-nobody"));
    EXPECT_TRUE(left.isEmpty()) << left.join(u' ').toStdString();
}

FW_NETNS_TEST_MAIN(QCoreApplication)

// The real program's headless discovery inside the private network namespace: an interactive
// start searches, writes the router list to standard error ("list: " lines) with the count on
// the status line, and ends with exit status 3 because only a person could go on.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

using namespace fw::test;

namespace {

const QString Home = QStringLiteral("192.168.123.254");
const QString Crashed = QStringLiteral("192.168.123.9");
constexpr int NeedsPerson = 3;

class HeadlessDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        for (const QString& a : {Home, Crashed})
            ASSERT_EQ(NetNamespace::addAddress(a).toStdString(), "");
        QFile f(path("fw.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(QByteArray(4000, '\x5A')), 4000);
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // The program with one firmware image and, when options are given, a settings record.
    QString pack(const QStringList& settingsOptions = {}) {
        return packProgram(dir.path(), {path("fw.bin") + QStringLiteral(":0x080D")},
                           settingsOptions.isEmpty() ? std::nullopt
                                                     : std::optional<QStringList>(settingsOptions));
    }
    void startSim(const QStringList& routers) {
        QStringList args;
        for (const QString& r : routers)
            args << QStringLiteral("--router") << r;
        sim = std::make_unique<SimProcess>(args);
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }
    static QStringList lines(const QByteArray& err, const char* prefix) {
        QStringList out;
        for (const QString& l : QString::fromLocal8Bit(err).split(u'\n'))
            if (l.startsWith(QLatin1String(prefix)))
                out << l;
        return out;
    }
    // Hex of the datagrams routersim received on `to`.
    QStringList udpTo(const QString& to) const {
        QStringList hex;
        for (const QString& line : sim->transcriptLines()) {
            const QStringList f = line.split(u' ');
            if (f.size() == 4 && f[0] == u"udp" && f[2] == to)
                hex << f[3];
        }
        return hex;
    }

    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;
};

} // namespace

TEST_F(HeadlessDiscovery, ListsEveryRouterAndEndsForAPerson) {
    startSim({Home + QStringLiteral(",romid=ABC123,detail=Router X"),
              Crashed + QStringLiteral(",state=crashed,romid=ZZ")});
    const ProgramRun r = runHeadless(pack(), {});
    const std::string err = r.err.toStdString();
    EXPECT_EQ(r.exitCode, NeedsPerson) << err;
    // The search window searched twice (Timer1's repeat); the list is filled from the last.
    EXPECT_EQ(lines(r.err, "list: "),
              QStringList({QStringLiteral("list: 192.168.123.254"),
                           QStringLiteral("list: 192.168.123.254   IP duplicate"),
                           QStringLiteral("list: 192.168.123.9   crash")}))
        << err;
    EXPECT_TRUE(r.err.contains("status: 3 devices found\n")) << err;
    EXPECT_EQ(udpTo(QStringLiteral("255.255.255.255:9")).size(), 2);
    // The boot request carries the built-in ROM identifier.
    const QStringList boot = udpTo(QStringLiteral("255.255.255.255:67"));
    ASSERT_EQ(boot.size(), 2);
    const QByteArray request = QByteArray::fromHex(boot[0].toLatin1());
    ASSERT_EQ(request.size(), 548);
    EXPECT_EQ(request.left(3), QByteArray("\xC0\x01\x01"));
    EXPECT_EQ(request.mid(108, 7), QByteArray("Ulvika\0", 7));
}

TEST_F(HeadlessDiscovery, NoRouterGivesTheEmptyCount) {
    startSim({Crashed + QStringLiteral(",answers=none,echo=no")});
    const ProgramRun r = runHeadless(pack(), {});
    EXPECT_EQ(r.exitCode, NeedsPerson) << r.err.toStdString();
    EXPECT_TRUE(lines(r.err, "list: ").isEmpty()) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("status: 0 device found\n")) << r.err.toStdString();
}

TEST_F(HeadlessDiscovery, SettingsFlags0x1AProbeOnlyBootPortAndLoader) {
    startSim({Home + QStringLiteral(",romid=ABC123,detail=Router X,answers=query+boot"),
              Crashed + QStringLiteral(",state=crashed,romid=ZZ")});
    const ProgramRun r = runHeadless(
        pack({QStringLiteral("--start-mode"), QStringLiteral("0"), QStringLiteral("--flags"),
              QStringLiteral("0x1A"), QStringLiteral("--romid"), QStringLiteral("ABCDEFGHIJKLMN")}),
        {});
    const std::string err = r.err.toStdString();
    EXPECT_EQ(lines(r.err, "list: "), QStringList({QStringLiteral("list: 192.168.123.254"),
                                                   QStringLiteral("list: 192.168.123.9   crash")}))
        << err;
    EXPECT_TRUE(udpTo(QStringLiteral("255.255.255.255:9")).isEmpty());
    const QStringList boot = udpTo(QStringLiteral("255.255.255.255:67"));
    ASSERT_FALSE(boot.isEmpty());
    EXPECT_EQ(QByteArray::fromHex(boot[0].toLatin1()).mid(108, 16),
              QByteArray("ABCDEFGHIJKLMN\0\0", 16));
}

FW_NETNS_TEST_MAIN(QCoreApplication)

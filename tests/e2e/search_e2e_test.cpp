// The device search on its real ports (9, 67 from 68, 69) and with real ICMP echo against
// routersim, inside the test's private network namespace: broadcasts loop back on lo.

#include "net/IcmpEcho.h"
#include "search/DeviceSearch.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace fw;
using fw::test::NetNamespace;
using fw::test::SimProcess;

namespace {

const QString Home = QStringLiteral("192.168.123.254");
const QString Crashed = QStringLiteral("192.168.123.9");
const QString EchoOnly = QStringLiteral("192.168.123.7");
const QString Silent = QStringLiteral("192.168.123.20");

struct Boxes : BoxSink {
    QStringList texts;
    BoxAnswer showBox(const QString& text, const QString&, BoxButtons, BoxIcon) override {
        texts << text;
        return BoxAnswer::Ok;
    }
};

struct Log : LogSink {
    QStringList lines;
    void appendLog(const QString& line) override { lines << line; }
};

struct Progress : ProgressSink {
    qint64 position = 0;
    void setProgressMaximum(qint64) override {}
    void setProgressPosition(qint64 p) override { position = p; }
    void advanceProgress(qint64 d) override { position += d; }
};

class SearchInNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        FW_REQUIRE_NETNS();
        for (const QString& a : {Home, Crashed, EchoOnly, Silent})
            ASSERT_EQ(NetNamespace::addAddress(a).toStdString(), "");
        Sinks sinks;
        sinks.box = &boxes;
        sinks.log = &log;
        search.setSinks(sinks);
        search.setProgress(&progress);
    }
    void startSim(const QStringList& routers) {
        QStringList args;
        for (const QString& r : routers)
            args << QStringLiteral("--router") << r;
        sim = std::make_unique<SimProcess>(args);
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }
    // The transcript lines of UDP datagrams (hex) sent to `to`.
    QStringList udpTo(const QString& to) {
        QStringList hex;
        for (const QString& line : sim->transcriptLines()) {
            const QStringList f = line.split(u' ');
            if (f.size() == 4 && f[0] == u"udp" && f[2] == to)
                hex << f[3];
        }
        return hex;
    }
    const DeviceRecord& rec(int i) { return search.devices().at(i); }

    DeviceSearch search; // the program's ports
    std::unique_ptr<SimProcess> sim;
    Boxes boxes;
    Log log;
    Progress progress;
};

} // namespace

TEST(Namespace, OnlyTheLoopbackDeviceExists) {
    FW_REQUIRE_NETNS();
    QString detail;
    EXPECT_TRUE(NetNamespace::onlyLoopback(&detail)) << detail.toStdString();
    const QString routes = NetNamespace::run({QStringLiteral("ip"), QStringLiteral("route")});
    EXPECT_TRUE(routes.contains(QStringLiteral("default dev lo"))) << routes.toStdString();
}

TEST_F(SearchInNamespace, NoRouterGivesAnEmptyListAfterEveryProbe) {
    startSim({Silent + QStringLiteral(",answers=none,echo=no")});
    QElapsedTimer t;
    t.start();
    search.broadcastSearch();
    const qint64 ms = t.elapsed();
    EXPECT_EQ(search.devices().count(), 0);
    EXPECT_EQ(search.countText(), QStringLiteral("0 device found"));
    EXPECT_TRUE(search.listLines(111).isEmpty());
    EXPECT_TRUE(boxes.texts.isEmpty());
    // Three broadcast probes, four default addresses, the address-only step: 200 ms each.
    EXPECT_GE(ms, 8 * 200);
    EXPECT_LT(ms, 8 * 200 + 2000);

    EXPECT_EQ(udpTo(QStringLiteral("255.255.255.255:9")), QStringList{QStringLiteral("51440000")});
    EXPECT_EQ(udpTo(QStringLiteral("255.255.255.255:69")),
              QStringList{QStringLiteral("0001564e006f6374657400")});
    const QStringList boot = udpTo(QStringLiteral("255.255.255.255:67"));
    ASSERT_EQ(boot.size(), 1);
    EXPECT_EQ(QByteArray::fromHex(boot[0].toLatin1()), search.request(ProbeKind::BootPort));
    bool fromPort68 = false;
    for (const QString& line : sim->transcriptLines())
        fromPort68 |= line.startsWith(u"udp ") && line.section(u' ', 2, 2).endsWith(u":67") &&
                      line.section(u' ', 1, 1).endsWith(u":68");
    EXPECT_TRUE(fromPort68);
    // The default address on lo received the default-address probe.
    EXPECT_EQ(udpTo(Home + QStringLiteral(":9")), QStringList{QStringLiteral("515100")});
}

TEST_F(SearchInNamespace, NormalRouterAnswersQueryAndBootProbes) {
    startSim({Home + QStringLiteral(",state=normal,romid=ABC123,detail=Router X")});
    search.broadcastSearch();
    ASSERT_EQ(search.devices().count(), 2) << search.listLines(222).join(u'\n').toStdString();
    EXPECT_EQ(rec(0).type, 1);
    EXPECT_EQ(rec(1).type, -2);
    EXPECT_EQ(search.listLines(222),
              QStringList({Home + QStringLiteral("  ABC123 - Router X   normal"),
                           Home + QStringLiteral("  ABC123 - Router X   normal IP duplicate")}));
    EXPECT_EQ(search.listLines(111), QStringList({Home, Home + QStringLiteral("   IP duplicate")}));
    EXPECT_EQ(search.countText(), QStringLiteral("2 devices found"));
    EXPECT_EQ(progress.position, 100);
    // One echo per reply, with the program's payload; the default-address probe skipped .254.
    int echoes = 0;
    for (const QString& line : sim->transcriptLines()) {
        const QStringList f = line.split(u' ');
        if (f.size() == 4 && f[0] == u"icmp" && f[2] == Home) {
            ++echoes;
            const QByteArray icmp = QByteArray::fromHex(f[3].toLatin1());
            EXPECT_EQ(icmp.mid(8), IcmpEcho::payload());
        }
    }
    EXPECT_EQ(echoes, 2);
    EXPECT_TRUE(udpTo(Home + QStringLiteral(":9")).isEmpty());
}

TEST_F(SearchInNamespace, CrashedRouterAnswersTheLoaderProbe) {
    startSim({Crashed + QStringLiteral(",state=crashed,romid=ABC123"),
              Silent + QStringLiteral(",state=crashed,romid=NOECHO,echo=no")});
    search.broadcastSearch();
    ASSERT_EQ(search.devices().count(), 2) << search.listLines(222).join(u'\n').toStdString();
    // Both answer the same broadcast; their order is the order their answers arrived.
    const int c = rec(0).address == Crashed ? 0 : 1;
    EXPECT_EQ(rec(c).type, 0);
    EXPECT_EQ(rec(c).romId, QStringLiteral("$KestroABC123"));
    EXPECT_EQ(rec(c).detail, QStringLiteral("unknown"));
    EXPECT_EQ(rec(1 - c).address, Silent);
    EXPECT_EQ(rec(1 - c).type, 3);
    EXPECT_EQ(search.listLines(111)[c], Crashed + QStringLiteral("   crash"));
    EXPECT_EQ(search.listLines(111)[1 - c], Silent + QStringLiteral("   crash and IP unreachable"));
}

TEST_F(SearchInNamespace, AddressAnsweringOnlyTheEcho) {
    startSim({EchoOnly + QStringLiteral(",answers=none,echo=yes")});
    search.ClearDevices();
    search.SearchDevices(EchoOnly);
    ASSERT_EQ(search.devices().count(), 1);
    EXPECT_EQ(rec(0).type, 6);
    EXPECT_EQ(rec(0).romId, QStringLiteral("unknow module"));
    EXPECT_EQ(search.listLines(111), QStringList{EchoOnly + QStringLiteral("   unknow device")});
    // The query, boot and TFTP probes went to the address itself.
    EXPECT_EQ(udpTo(EchoOnly + QStringLiteral(":9")).first(), QStringLiteral("51440000"));
    EXPECT_EQ(udpTo(EchoOnly + QStringLiteral(":67")).size(), 1);
    EXPECT_EQ(udpTo(EchoOnly + QStringLiteral(":69")).size(), 1);
}

TEST_F(SearchInNamespace, DefaultAddressProbeFindsTheFactoryAddress) {
    startSim({Home + QStringLiteral(",state=default")});
    search.broadcastSearch();
    ASSERT_EQ(search.devices().count(), 1) << search.listLines(222).join(u'\n').toStdString();
    EXPECT_EQ(rec(0).type, 2);
    EXPECT_EQ(search.listLines(222),
              QStringList{Home + QStringLiteral("  default IP - unknown   default")});
    EXPECT_EQ(udpTo(Home + QStringLiteral(":9")), QStringList{QStringLiteral("515100")});
}

TEST_F(SearchInNamespace, Flags0x1AProbeBootPortAndLoaderOnly) {
    startSim({Home + QStringLiteral(",state=normal,romid=ABC123,detail=Router X,answers=query+"
                                    "boot+default"),
              Crashed + QStringLiteral(",state=crashed,romid=ABC123")});
    search.SetSearchSettings(0x1A, QStringLiteral("Ulvika"), QStringLiteral("default"),
                             QStringLiteral("default"), QStringLiteral("default"),
                             QStringLiteral("default"));
    search.broadcastSearch();
    ASSERT_EQ(search.devices().count(), 2) << search.listLines(222).join(u'\n').toStdString();
    EXPECT_EQ(rec(0).address, Home);
    EXPECT_EQ(rec(0).type, 1);
    EXPECT_EQ(rec(1).address, Crashed);
    EXPECT_EQ(rec(1).type, 0);
    EXPECT_TRUE(udpTo(QStringLiteral("255.255.255.255:9")).isEmpty());
    EXPECT_TRUE(udpTo(Home + QStringLiteral(":9")).isEmpty());
}

TEST_F(SearchInNamespace, MoreThan64RepliesKeep64) {
    startSim({Home + QStringLiteral(",extra=80,answers=query")});
    search.broadcastSearch();
    EXPECT_EQ(search.devices().count(), 64);
    EXPECT_EQ(rec(0).type, 1);
    EXPECT_EQ(rec(63).type, -2);
    EXPECT_EQ(search.countText(), QStringLiteral("64 devices found"));
}

TEST_F(SearchInNamespace, BusyBootClientPortSkipsOnlyThatProbe) {
    startSim({Crashed + QStringLiteral(",state=crashed")});
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(68);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    search.broadcastSearch();
    ::close(holder);
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_FALSE(search.lastSearchAbandoned());
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("Boot-port probe skipped: local port 68 is in "
                                                    "use by another program (another search or "
                                                    "a DHCP client)")});
    EXPECT_TRUE(udpTo(QStringLiteral("255.255.255.255:67")).isEmpty());
    EXPECT_EQ(udpTo(QStringLiteral("255.255.255.255:69")).size(), 1);
    ASSERT_EQ(search.devices().count(), 1);
    EXPECT_EQ(rec(0).type, 0);
}

TEST_F(SearchInNamespace, EchoThroughTheUnprivilegedDatagramSocket) {
    startSim({Home + QStringLiteral(",answers=none"),
              EchoOnly + QStringLiteral(",answers=none,echo=no")});
    ASSERT_TRUE(
        NetNamespace::setSysctl(QStringLiteral("net/ipv4/ping_group_range"), "0 2147483647"));
    IcmpEcho echo;
    const bool opened = echo.open();
    const IcmpEcho::SocketKind kind = echo.socketKind();
    NetNamespace::setSysctl(QStringLiteral("net/ipv4/ping_group_range"), "1 0");
    ASSERT_TRUE(opened) << echo.openError().toStdString();
    EXPECT_EQ(kind, IcmpEcho::SocketKind::Datagram);
    echo.setAddress(Home);
    EXPECT_EQ(echo.ping(), 1);
    echo.setAddress(EchoOnly);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(echo.ping(), 0);
    EXPECT_GE(t.elapsed(), 149);
    EXPECT_LT(t.elapsed(), 1000);
}

TEST_F(SearchInNamespace, EchoThroughTheRawSocket) {
    startSim({Home + QStringLiteral(",answers=none")});
    IcmpEcho echo;
    ASSERT_TRUE(echo.open()) << echo.openError().toStdString();
    EXPECT_EQ(echo.socketKind(), IcmpEcho::SocketKind::Raw); // ping_group_range is "1 0" here
    echo.setAddress(Home);
    EXPECT_EQ(echo.ping(), 1);
    echo.setAddress(Silent); // on lo, nobody answers
    EXPECT_EQ(echo.ping(), 0);
}

FW_NETNS_TEST_MAIN(QCoreApplication)

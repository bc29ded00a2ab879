// Searches against the simulator on 127.0.0.x with ephemeral ports (unicast only; broadcast
// searches run in the namespace tests). The echo is injected, so these do not depend on ICMP.

#include "DiscoveryThread.h"
#include "search/DeviceSearch.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSet>
#include <QUdpSocket>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace fw;
using routersim::DiscoveryThread;
using routersim::RouterConfig;
using routersim::SimConfig;
using routersim::Transcript;

namespace {

quint16 freeUdpPort() {
    QUdpSocket s;
    if (!s.bind(QHostAddress::AnyIPv4, 0))
        return 0;
    return s.localPort();
}

struct Progress : ProgressSink {
    qint64 position = 0, advanced = 0;
    void setProgressMaximum(qint64) override {}
    void setProgressPosition(qint64 p) override { position = p; }
    void advanceProgress(qint64 d) override {
        advanced += d;
        position += d;
    }
};

struct Log : LogSink {
    QStringList lines;
    void appendLog(const QString& line) override { lines << line; }
};

struct Boxes : BoxSink {
    QStringList texts, captions;
    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons, BoxIcon) override {
        texts << text;
        captions << caption;
        return BoxAnswer::Ok;
    }
};

RouterConfig router(const QString& spec) {
    QString error;
    auto r = SimConfig::parseRouter(spec, &error);
    EXPECT_TRUE(r.has_value()) << error.toStdString();
    return r.value_or(RouterConfig{});
}

class Loopback : public ::testing::Test {
protected:
    void SetUp() override {
        ports = {freeUdpPort(), freeUdpPort(), freeUdpPort(), freeUdpPort()};
        ASSERT_TRUE(ports.query && ports.bootServer && ports.bootClient && ports.tftp);
        search = std::make_unique<DeviceSearch>(ports);
        search->setProgress(&progress);
        Sinks sinks;
        sinks.box = &boxes;
        sinks.log = &log;
        search->setSinks(sinks);
        search->setEchoFunction([this](const QString& a) {
            echoed << a;
            return answering.contains(a);
        });
    }
    void startSim(const QList<RouterConfig>& routers) {
        SimConfig c;
        c.routers = routers;
        c.ports = {ports.query, ports.bootServer, ports.tftp};
        c.listenBroadcast = false;
        c.answerEcho = false;
        sim = std::make_unique<DiscoveryThread>(c);
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }
    QList<Transcript::Entry> received() { return sim->transcript().entries(); }
    const DeviceRecord& rec(int i) { return search->devices().at(i); }
    void flags(quint8 f) {
        search->SetSearchSettings(f, QStringLiteral("Ulvika"), QStringLiteral("default"),
                                  QStringLiteral("default"), QStringLiteral("default"),
                                  QStringLiteral("default"));
    }
    QString to(const char* address, quint16 port) {
        return QString::fromLatin1(address) + u':' + QString::number(port);
    }

    SearchPorts ports;
    std::unique_ptr<DeviceSearch> search;
    std::unique_ptr<DiscoveryThread> sim;
    Progress progress;
    Boxes boxes;
    Log log;
    QSet<QString> answering;
    QStringList echoed;
};

} // namespace

TEST_F(Loopback, TypedAddressFoundByQueryIsNotProbedAgain) {
    startSim({router(QStringLiteral("127.0.0.2,romid=ABC123,detail=Router X"))});
    answering << QStringLiteral("127.0.0.2");
    flags(0x0B);
    search->SearchDevices(QStringLiteral("127.0.0.2"));
    ASSERT_EQ(search->devices().count(), 1);
    EXPECT_EQ(rec(0).type, 1);
    EXPECT_EQ(rec(0).address, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(rec(0).romId, QStringLiteral("ABC123"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("Router X"));
    const auto got = received();
    ASSERT_EQ(got.size(), 1); // boot, TFTP and address-only steps were skipped
    EXPECT_EQ(got[0].to, to("127.0.0.2", ports.query));
    EXPECT_EQ(got[0].bytes, QByteArray("QD\0\0", 4));
    EXPECT_EQ(echoed, QStringList{QStringLiteral("127.0.0.2")});
    EXPECT_EQ(progress.advanced, 2);
    EXPECT_EQ(progress.position, 100);
    EXPECT_FALSE(search->lastSearchAbandoned());
}

TEST_F(Loopback, CrashedRouterAnswersOnlyTheLoaderProbe) {
    startSim({router(QStringLiteral("127.0.0.3,state=crashed,romid=ZZ9"))});
    answering << QStringLiteral("127.0.0.3");
    flags(0x0B);
    search->SearchDevices(QStringLiteral("127.0.0.3"));
    ASSERT_EQ(search->devices().count(), 1);
    EXPECT_EQ(rec(0).type, 0);
    EXPECT_EQ(rec(0).romId, QStringLiteral("$KestroZZ9"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("unknown"));
    const auto got = received();
    ASSERT_EQ(got.size(), 3);
    EXPECT_EQ(got[0].bytes, search->request(ProbeKind::Query));
    EXPECT_EQ(got[1].to, to("127.0.0.3", ports.bootServer));
    EXPECT_EQ(got[1].bytes, search->request(ProbeKind::BootPort));
    EXPECT_TRUE(got[1].from.endsWith(u':' + QString::number(ports.bootClient)));
    EXPECT_EQ(got[2].to, to("127.0.0.3", ports.tftp));
    EXPECT_EQ(got[2].bytes, QByteArray("\0\1VN\0octet\0", 11));
}

TEST_F(Loopback, AddressAnsweringOnlyTheEcho) {
    flags(0x01);
    answering << QStringLiteral("127.0.0.4");
    search->SearchDevices(QStringLiteral("127.0.0.4"));
    ASSERT_EQ(search->devices().count(), 1);
    EXPECT_EQ(rec(0).type, 6);
    EXPECT_EQ(rec(0).romId, QStringLiteral("unknow module"));
    EXPECT_EQ(rec(0).detail, QString());
    EXPECT_EQ(search->listLines(111), QStringList{QStringLiteral("127.0.0.4   unknow device")});
    EXPECT_EQ(progress.position, 100);

    search->ClearDevices();
    answering.clear();
    search->SearchDevices(QStringLiteral("127.0.0.4"));
    EXPECT_EQ(search->devices().count(), 0);
    EXPECT_EQ(search->countText(), QStringLiteral("0 device found"));
}

TEST_F(Loopback, DefaultAddressProbeFindsRouterInDefaultState) {
    startSim({router(QStringLiteral("127.0.0.5,state=default"))});
    answering << QStringLiteral("127.0.0.5");
    search->SetSearchSettings(0x84, QStringLiteral("Ulvika"), QStringLiteral("127.0.0.5"),
                              QString(), QString(), QString());
    search->SearchDevices(QStringLiteral("127.0.0.6"));
    ASSERT_EQ(search->devices().count(), 1);
    EXPECT_EQ(rec(0).type, 2);
    EXPECT_EQ(rec(0).address, QStringLiteral("127.0.0.5"));
    EXPECT_EQ(rec(0).romId, QStringLiteral("default IP"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("unknown"));
    // Empty default addresses are not probed; the address-only step does not echo once a
    // device is known.
    const auto got = received();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].bytes, QByteArray("QQ\0", 3));
    EXPECT_EQ(echoed, QStringList{QStringLiteral("127.0.0.5")});
}

TEST_F(Loopback, BusyBootClientPortSkipsOnlyThatProbe) {
    startSim({router(QStringLiteral("127.0.0.7,answers=none"))});
    // A socket without SO_REUSEADDR holds the boot client port (another program, not a run of
    // ours, which would share it).
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(ports.bootClient);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    answering << QStringLiteral("127.0.0.7");
    flags(0x0B);
    search->SearchDevices(QStringLiteral("127.0.0.7"));
    search->ClearDevices();
    search->SearchDevices(QStringLiteral("127.0.0.7"));
    ::close(holder);
    EXPECT_FALSE(search->lastSearchAbandoned());
    EXPECT_TRUE(boxes.texts.isEmpty());
    // Said once, however often the probe is skipped.
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("Boot-port probe skipped: local port %1 is in "
                                                    "use by another program (another search or "
                                                    "a DHCP client)")
                                         .arg(ports.bootClient)});
    QList<QByteArray> sent;
    for (const auto& e : received())
        sent << e.bytes;
    const QByteArray query("QD\0\0", 4), tftp("\0\1VN\0octet\0", 11);
    EXPECT_EQ(sent, QList<QByteArray>({query, tftp, query, tftp}));
    // The address-only step still ran and found the address by its echo.
    ASSERT_EQ(search->devices().count(), 1);
    EXPECT_EQ(rec(0).type, 6);
}

TEST_F(Loopback, OtherRunsShareTheBootClientPort) {
    startSim({router(QStringLiteral("127.0.0.8,romid=B1,answers=boot"))});
    // Another run's boot-port probe holds the port as ours does, with SO_REUSEADDR.
    UdpEndpoint other;
    other.setLocalPort(ports.bootClient);
    ASSERT_TRUE(other.open()) << other.lastError().toStdString();
    answering << QStringLiteral("127.0.0.8");
    flags(0x02);
    search->SearchDevices(QStringLiteral("127.0.0.8"));
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
    EXPECT_TRUE(boxes.texts.isEmpty());
    ASSERT_EQ(received().size(), 1);
    EXPECT_EQ(received()[0].bytes, search->request(ProbeKind::BootPort));
}

TEST_F(Loopback, MoreThan64RepliesKeep64Records) {
    startSim({router(QStringLiteral("127.0.0.8,extra=80"))});
    answering << QStringLiteral("127.0.0.8");
    flags(0x01);
    search->SearchDevices(QStringLiteral("127.0.0.8"));
    ASSERT_EQ(search->devices().count(), 64);
    EXPECT_EQ(rec(0).type, 1);
    for (int i = 1; i < 64; ++i)
        EXPECT_EQ(rec(i).type, -2) << i;
    EXPECT_EQ(echoed.size(), 64);
    EXPECT_EQ(progress.advanced, 2 * 81);
    EXPECT_EQ(search->countText(), QStringLiteral("64 devices found"));
}

TEST_F(Loopback, JunkIsSkippedAndShortRepliesReadToTheirEnd) {
    startSim({router(QStringLiteral("127.0.0.9,junk=3,short=yes,romid=ABC123,detail=Boot"))});
    flags(0x02);
    search->SearchDevices(QStringLiteral("127.0.0.9"));
    ASSERT_EQ(search->devices().count(), 1);
    EXPECT_EQ(rec(0).type, 4); // no echo answer
    EXPECT_EQ(rec(0).romId, QStringLiteral("ABC123"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("Boot"));
    EXPECT_EQ(progress.advanced, 8);
}

TEST_F(Loopback, OversizedDatagramAheadOfTheReplyIsSkipped) {
    startSim({router(QStringLiteral("127.0.0.11,oversize=2,romid=ABC123,detail=V2.40"))});
    answering << QStringLiteral("127.0.0.11");
    flags(0x01);
    search->SearchDevices(QStringLiteral("127.0.0.11"));
    ASSERT_EQ(search->devices().count(), 1);
    EXPECT_EQ(rec(0).type, 1); // found by the query, not only by the echo
    EXPECT_EQ(rec(0).romId, QStringLiteral("ABC123"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("V2.40"));
}

TEST_F(Loopback, ReplyAfterTheWaitIsNotCounted) {
    startSim({router(QStringLiteral("127.0.0.10,delay=500"))});
    answering << QStringLiteral("127.0.0.10");
    flags(0x01);
    search->SearchDevices(QStringLiteral("127.0.0.10"));
    // The late answer meets a closed socket; the address-only step finds the echo.
    ASSERT_EQ(search->devices().count(), 1);
    EXPECT_EQ(rec(0).type, 6);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

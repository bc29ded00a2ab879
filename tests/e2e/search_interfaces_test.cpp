// The broadcast search over several interfaces: two veth pairs into namespaces of their own, a
// simulated router behind each. Every broadcast probe leaves through both interfaces at once, the
// replies of both are taken, and the search keeps the time of a single interface.

#include "net/TcpProbe.h"
#include "search/DeviceSearch.h"
#include "support/NetNamespace.h"
#include "support/PeerNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>

using namespace fw;
using fw::test::NetNamespace;
using fw::test::PeerNamespace;
using fw::test::SimProcess;

namespace {

const QString RouterA = QStringLiteral("10.77.1.2");
const QString RouterC = QStringLiteral("10.77.2.2");
// Three broadcast probes, four default addresses and the address-only step, 200 ms each.
constexpr qint64 ProbeBudgetMs = 8 * 200;
constexpr qint64 EchoBudgetMs = 150;

struct Log : LogSink {
    QStringList lines;
    void appendLog(const QString& line) override { lines << line; }
};

struct Boxes : BoxSink {
    QStringList texts;
    BoxAnswer showBox(const QString& text, const QString&, BoxButtons, BoxIcon) override {
        texts << text;
        return BoxAnswer::Ok;
    }
};

class SearchOverInterfaces : public ::testing::Test {
protected:
    void SetUp() override {
        FW_REQUIRE_NETNS();
        QString error;
        ASSERT_TRUE(peerA.start(&error)) << error.toStdString();
        ASSERT_TRUE(peerC.start(&error)) << error.toStdString();
        Sinks sinks;
        sinks.log = &log;
        sinks.box = &boxes;
        search.setSinks(sinks);
    }
    // One routersim behind each interface; `knobs` are appended to both routers.
    void startRouters(const QString& knobs) {
        simA = start(peerA, RouterA + QStringLiteral(",romid=ROUTER-A,detail=A") + knobs);
        simC = start(peerC, RouterC + QStringLiteral(",romid=ROUTER-C,detail=C") + knobs);
    }
    static std::unique_ptr<SimProcess> start(const PeerNamespace& peer, const QString& router) {
        auto sim = std::make_unique<SimProcess>(QStringList{QStringLiteral("--router"), router});
        sim->setLauncher(peer.enter());
        QString error;
        EXPECT_TRUE(sim->start(&error)) << error.toStdString();
        return sim;
    }
    static QStringList udpTo(const SimProcess& sim, const QString& to) {
        QStringList hex;
        for (const QString& line : sim.transcriptLines()) {
            const QStringList f = line.split(u' ');
            if (f.size() == 4 && f[0] == u"udp" && f[2] == to)
                hex << f[3];
        }
        return hex;
    }
    qint64 timedSearch() {
        QElapsedTimer t;
        t.start();
        search.broadcastSearch();
        const qint64 ms = t.elapsed();
        RecordProperty("search_ms", int(ms)); // in --gtest_output=xml, for the benchmarks
        return ms;
    }
    QStringList sortedLines() const {
        QStringList l = search.listLines(DeviceSearch::ListDetailed);
        std::sort(l.begin(), l.end());
        return l;
    }

    PeerNamespace peerA{QStringLiteral("fwsA"), QStringLiteral("10.77.1.1/24"),
                        QStringLiteral("fwsB"), RouterA + QStringLiteral("/24")};
    PeerNamespace peerC{QStringLiteral("fwsC"), QStringLiteral("10.77.2.1/24"),
                        QStringLiteral("fwsD"), RouterC + QStringLiteral("/24")};
    std::unique_ptr<SimProcess> simA, simC;
    DeviceSearch search;
    Log log;
    Boxes boxes;
};

} // namespace

TEST_F(SearchOverInterfaces, FindsTheRouterBehindEachInterface) {
    startRouters({});
    ASSERT_FALSE(HasFailure());
    const qint64 ms = timedSearch();
    EXPECT_TRUE(boxes.texts.isEmpty());
    // Each router answers the query and the boot-port probe: two records, the second a duplicate.
    EXPECT_EQ(sortedLines(),
              QStringList({RouterA + QStringLiteral("  ROUTER-A - A   normal"),
                           RouterA + QStringLiteral("  ROUTER-A - A   normal IP duplicate"),
                           RouterC + QStringLiteral("  ROUTER-C - C   normal"),
                           RouterC + QStringLiteral("  ROUTER-C - C   normal IP duplicate")}));
    EXPECT_EQ(search.countText(), QStringLiteral("4 devices found"));
    EXPECT_EQ(log.lines.count(
                  QStringLiteral("Searching interfaces : fwsA (10.77.1.1), fwsC (10.77.2.1)")),
              1)
        << log.lines.join(u'\n').toStdString();
    EXPECT_EQ(log.lines.count(QStringLiteral("Router 10.77.1.2 answered on fwsA")), 1);
    EXPECT_EQ(log.lines.count(QStringLiteral("Router 10.77.2.2 answered on fwsC")), 1);
    // The limited broadcast itself, one copy per probe through each interface.
    for (const SimProcess* sim : {simA.get(), simC.get()}) {
        EXPECT_EQ(udpTo(*sim, QStringLiteral("255.255.255.255:9")),
                  QStringList{QStringLiteral("51440000")});
        EXPECT_EQ(udpTo(*sim, QStringLiteral("255.255.255.255:67")).size(), 1);
        EXPECT_EQ(udpTo(*sim, QStringLiteral("255.255.255.255:69")),
                  QStringList{QStringLiteral("0001564e006f6374657400")});
    }
    // The budget of one interface: 200 ms per probe, up to 150 ms per reply's echo.
    EXPECT_GE(ms, ProbeBudgetMs);
    EXPECT_LE(ms, (ProbeBudgetMs + 4 * EchoBudgetMs) * 105 / 100);
}

TEST_F(SearchOverInterfaces, SilentInterfacesCostNoTime) {
    startRouters(QStringLiteral(",answers=none"));
    ASSERT_FALSE(HasFailure());
    const qint64 ms = timedSearch();
    EXPECT_EQ(search.devices().count(), 0);
    EXPECT_EQ(udpTo(*simA, QStringLiteral("255.255.255.255:9")).size(), 1);
    EXPECT_EQ(udpTo(*simC, QStringLiteral("255.255.255.255:9")).size(), 1);
    // Probed at once: within 5 % of the single-interface budget, not twice it.
    EXPECT_GE(ms, ProbeBudgetMs);
    EXPECT_LE(ms, ProbeBudgetMs * 105 / 100);
}

TEST_F(SearchOverInterfaces, TheDefaultRouteAloneReachesNeither) {
    startRouters({});
    ASSERT_FALSE(HasFailure());
    search.setInterfaceFunction([] { return QList<NetInterface>{}; });
    search.broadcastSearch();
    EXPECT_EQ(search.devices().count(), 0);
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
    EXPECT_TRUE(udpTo(*simA, QStringLiteral("255.255.255.255:9")).isEmpty());
}

TEST_F(SearchOverInterfaces, RepliesOfAllInterfacesShareThe64Records) {
    startRouters(QStringLiteral(",answers=query,extra=40"));
    ASSERT_FALSE(HasFailure());
    search.broadcastSearch();
    ASSERT_EQ(search.devices().count(), 64);
    int fromA = 0;
    for (int i = 0; i < 64; ++i)
        fromA += search.devices().at(i).address == RouterA;
    EXPECT_GT(fromA, 0);
    EXPECT_LT(fromA, 64);
}

// The echo's stand-in: a refused connection is an answer, silence is none (after the time-out).
TEST_F(SearchOverInterfaces, TcpProbeTellsRefusalFromSilence) {
    startRouters({});
    ASSERT_FALSE(HasFailure());
    constexpr std::chrono::milliseconds Timeout{150};
    EXPECT_TRUE(TcpProbe::answers(RouterA, 80, Timeout)); // no web server: refused
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(TcpProbe::answers(QStringLiteral("10.77.1.99"), 80, Timeout)); // nobody there
    EXPECT_GE(t.elapsed(), Timeout.count() - 1);
    EXPECT_LT(t.elapsed(), Timeout.count() + 200);
}

FW_NETNS_TEST_MAIN(QCoreApplication)

// Times the broadcast search on its real ports against the in-process simulator and compares
// it with its budget: 200 ms per probe sent, 200 ms for the address-only step, up to 150 ms per
// reply. Runs only inside a private network namespace (bench/search.sh makes one).

#include "DiscoveryThread.h"
#include "search/DeviceSearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <net/if.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace fw;
using routersim::DiscoveryThread;
using routersim::SimConfig;

namespace {

constexpr int Runs = 5;
constexpr qint64 PerProbeMs = 200;
constexpr qint64 PerReplyMs = 150;
constexpr double Tolerance = 0.10;

struct Scenario {
    const char* name;
    QStringList routers; // routersim --router values
    int probesSent;      // UDP probes that go out (skipped ones not counted)
    int replies;         // datagrams the search classifies
};

// Asked over netlink, which answers for this process's namespace (sysfs may show another's).
bool onlyLoopback() {
    struct if_nameindex* all = if_nameindex();
    if (!all)
        return false;
    QStringList names;
    for (const struct if_nameindex* i = all; i->if_index != 0; ++i)
        names << QString::fromLocal8Bit(i->if_name);
    if_freenameindex(all);
    return names == QStringList{QStringLiteral("lo")};
}

struct Result {
    qint64 median, minimum, maximum;
    int devices;
};

Result measure(const Scenario& s, QString* error) {
    SimConfig config;
    for (const QString& spec : s.routers) {
        auto r = SimConfig::parseRouter(spec, error);
        if (!r)
            return {};
        config.routers << *r;
    }
    std::unique_ptr<DiscoveryThread> sim;
    if (!config.routers.isEmpty()) {
        sim = std::make_unique<DiscoveryThread>(config);
        if (!sim->start(error))
            return {};
    }
    DeviceSearch search;
    std::vector<qint64> times;
    int devices = 0;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer t;
        t.start();
        search.broadcastSearch();
        times.push_back(t.elapsed());
        devices = search.devices().count();
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front(), times.back(), devices};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!onlyLoopback()) {
        std::fprintf(stderr, "bench_search: refusing to run outside a private network namespace "
                             "(use bench/search.sh)\n");
        return 2;
    }
    const QString home = QStringLiteral("192.168.123.254");
    // Flags 0x9F: query, boot-port and TFTP broadcasts, four default addresses, address-only.
    const Scenario scenarios[] = {
        {"no router", {}, 7, 0},
        // The router's address is default address 1: once listed, that probe is skipped.
        {"one router, answers echo", {home + QStringLiteral(",romid=ABC123,detail=Bench")}, 6, 2},
        {"one router, no echo", {home + QStringLiteral(",romid=ABC123,echo=no")}, 6, 2},
    };
    std::printf("%-26s %6s %7s %10s %10s %8s %8s %8s %7s  %s\n", "scenario", "probes", "replies",
                "base_ms", "budget_ms", "median", "min", "max", "devices", "verdict");
    int failures = 0;
    for (const Scenario& s : scenarios) {
        QString error;
        const Result r = measure(s, &error);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "%s: %s\n", s.name, qPrintable(error));
            return 2;
        }
        const qint64 base = PerProbeMs * s.probesSent + PerProbeMs;
        const qint64 budget = base + PerReplyMs * s.replies;
        const bool within = r.median >= qint64(double(base) * (1.0 - Tolerance)) &&
                            r.median <= qint64(double(budget) * (1.0 + Tolerance));
        failures += within ? 0 : 1;
        std::printf("%-26s %6d %7d %10lld %10lld %8lld %8lld %8lld %7d  %s (%+.1f%% vs base, "
                    "%+.1f%% vs budget)\n",
                    s.name, s.probesSent + 1, s.replies, qint64(base), qint64(budget), r.median,
                    r.minimum, r.maximum, r.devices, within ? "within 10%" : "OUTSIDE 10%",
                    100.0 * double(r.median - base) / double(base),
                    100.0 * double(r.median - budget) / double(budget));
    }
    return failures ? 1 : 0;
}

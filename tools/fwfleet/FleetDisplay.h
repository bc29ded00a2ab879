#pragma once
// What fwfleet shows while it runs: one line per router (address, state, method, percent,
// seconds), redrawn in place on a terminal; elsewhere a plain line each time a router's state or
// method changes. Also the report file and the summary line. Main thread of fwfleet.

#include "FleetRunner.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QString>
#include <cstdio>

namespace fleet {

class FleetDisplay {
public:
    FleetDisplay(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

    static QString line(const FleetJob& job, double seconds);
    void update(const FleetRunner& runner);

    // "fwfleet: 8 routers, 6 done, 2 failed" (", N not started" when some never ran).
    static QString summary(const FleetRunner& runner);
    static QJsonDocument report(const FleetRunner& runner);
    // Whether every router's run succeeded.
    static bool allDone(const FleetRunner& runner);

private:
    std::FILE* out_;
    bool terminal_;
    int drawn_ = 0;          // lines drawn last time (terminal)
    QList<QString> shown_;   // state and method last written per router (plain lines)
};

} // namespace fleet

#pragma once
// What fwfleet shows while it runs. On a terminal: a block as tall as the terminal, the running
// routers first, then the latest finished, and the summary line, of which only the lines that
// changed are rewritten. Elsewhere: a plain line each time a router's state or method changes.
// Also the report file's contents and the summary line. Output that cannot be written (a closed
// pipe) stops the display, nothing else. Main thread of fwfleet.

#include "FleetRunner.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

namespace fleet {

class FleetDisplay {
public:
    // Rows and columns when the terminal does not say.
    static constexpr int DefaultRows = 24, DefaultColumns = 80;

    FleetDisplay(int fd, bool terminal) : fd_(fd), terminal_(terminal) {}

    static QString line(const FleetJob& job, double seconds);
    // Plain lines: called whenever the runner says a job moved.
    void jobChanged(const FleetRunner& runner, std::size_t index);
    // Terminal: the block as it is now.
    void redraw(const FleetRunner& runner);
    // The end: the last block on a terminal, else the summary line.
    void finish(const FleetRunner& runner);
    bool terminal() const { return terminal_; }
    bool closed() const { return closed_; }

    // "fwfleet: 8 routers, 5 upgraded, 1 verified, 2 failed": each outcome that occurred, failed
    // always; then the routers running, and those waiting (", N not started" at the end).
    static QString summary(const FleetRunner& runner);
    static QJsonDocument report(const FleetRunner& runner);
    // Whether every router ended upgraded, verified, up-to-date or would-upgrade.
    static bool allSucceeded(const FleetRunner& runner);

    // The lines of the terminal block for `rows` rows and `columns` columns.
    static QStringList frame(const FleetRunner& runner, int rows, int columns);
    // The bytes that turn the block `before` on the screen (the cursor below it) into `after`.
    static QByteArray repaint(const QStringList& before, const QStringList& after);

private:
    void put(const QByteArray& bytes);

    int fd_;
    bool terminal_;
    bool closed_ = false;
    QStringList drawn_;   // terminal: the block on the screen
    QStringList shown_;   // plain: state and method last written per router
};

} // namespace fleet

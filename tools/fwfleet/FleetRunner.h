#pragma once
// Runs `PROGRAM put ADDRESS - ROMID` for every router of a fleet, the password written to the
// child's standard input (never an argument), headless with JSON Lines output, at most `jobs` at
// a time in file order, each child with a TMPDIR of its own that is removed when it ends. stop()
// ends the runs in progress (SIGTERM, then SIGKILL after StopGrace) and starts no more. Main
// thread of fwfleet, with a running event loop.

#include "FleetJob.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <vector>

class QProcess;

namespace fleet {

class FleetRunner final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds StopGrace{5000};
    // A child still running after this long is ended like a stopped one.
    static constexpr std::chrono::minutes JobTimeLimit{30};
    // The status of a child that ended without an exit object and without an exit code.
    static constexpr int CrashedStatus = -1;

    FleetRunner(QString program, const QList<RouterLine>& routers, int jobs);
    ~FleetRunner() override;

    // Starts the first runs; finished() comes once every router has ended or been stopped.
    void start();
    void stop();
    bool stopping() const { return stopping_; }

    const std::vector<std::unique_ptr<FleetJob>>& jobs() const { return jobs_; }
    double elapsedSeconds(const FleetJob& job) const;

signals:
    void changed();
    void finished();

private:
    struct Slot;
    void startNext();
    void launch(std::size_t index);
    void readOutput(Slot& slot);
    void onFinished(Slot& slot, int status);
    void finish();

    QString program_;
    int maxJobs_;
    std::vector<std::unique_ptr<FleetJob>> jobs_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::size_t next_ = 0;
    bool stopping_ = false;
    bool finishedSent_ = false;
    QTemporaryDir tmp_;
};

} // namespace fleet

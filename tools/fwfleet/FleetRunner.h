#pragma once
// Runs `PROGRAM put ADDRESS - ROMID` for every router of a fleet, the password written to the
// child's standard input (never an argument), headless with JSON Lines output, at most `jobs` at
// a time in file order, each child with a TMPDIR of its own that is removed when it ends. stop()
// ends the runs in progress (SIGTERM, then SIGKILL after StopGrace) and starts no more. Keeps
// what the display needs (the running jobs, the latest finished, a count per state) up to date as
// jobs move, so that nothing has to walk the whole fleet. Main thread of fwfleet, with a running
// event loop.

#include "FleetJob.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QProcess;

namespace fleet {

// The settings every run of a fleet gets.
struct FleetOptions {
    int jobs = 4;
    std::optional<int> verifySeconds; // FWUPGRADE_VERIFY
    QString targetVersion;            // FWUPGRADE_TARGET_VERSION, when not empty
    bool dryRun = false;              // FWUPGRADE_DRY_RUN=1
};

class FleetRunner final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds StopGrace{5000};
    // A child still running after this long (and the --verify wait) is ended like a stopped one.
    static constexpr std::chrono::minutes JobTimeLimit{30};
    // The status of a child that ended without an exit object and without an exit code.
    static constexpr int CrashedStatus = -1;
    // How many of the latest finished jobs are kept for the display.
    static constexpr std::size_t RecentKept = 256;

    FleetRunner(QString program, const QList<RouterLine>& routers, const FleetOptions& options);
    ~FleetRunner() override;

    // Whether fwfleet's temporary directory exists; when not, nothing may start and
    // tempError() says why.
    bool ready() const { return tmp_.isValid(); }
    QString tempError() const;
    // The folder fwfleet's temporary directory goes into: TMPDIR, else /tmp.
    static QString tempFolder();

    // Starts the first runs; finished() comes once every router has ended or been stopped.
    void start();
    void stop();
    bool stopping() const { return stopping_; }
    bool done() const { return finishedSent_; }

    const std::vector<std::unique_ptr<FleetJob>>& jobs() const { return jobs_; }
    // The jobs running now in the order they started, and the latest finished, newest first.
    std::vector<std::size_t> running() const;
    const std::deque<std::size_t>& recentlyFinished() const { return recent_; }
    double elapsedSeconds(std::size_t index) const;
    // Jobs that ended in `state` (outcomes only), and jobs never started.
    int count(JobState state) const { return counts_[std::size_t(state)]; }
    int notStarted() const { return int(jobs_.size() - next_); }

signals:
    // A job's state, method or progress may have moved.
    void jobChanged(std::size_t index);
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
    QProcessEnvironment env_;
    std::chrono::milliseconds timeLimit_{JobTimeLimit};
    std::vector<std::unique_ptr<FleetJob>> jobs_;
    std::vector<std::unique_ptr<Slot>> slots_;   // running
    std::vector<std::unique_ptr<Slot>> retired_; // ended, deleted from the event loop
    std::deque<std::size_t> recent_;
    std::array<int, JobStateCount> counts_{};
    std::size_t next_ = 0;
    bool stopping_ = false;
    bool finishedSent_ = false;
    QTemporaryDir tmp_;
};

} // namespace fleet

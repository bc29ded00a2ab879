#include "FleetRunner.h"

#include "ui/SecretText.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace fleet {

struct FleetRunner::Slot {
    std::size_t index = 0;
    std::unique_ptr<QProcess> process;
    QElapsedTimer clock;
    QByteArray pending; // standard output after the last complete line
    bool skipping = false; // inside an over-long line
    QString tmpDir;
    QTimer limit; // the job's time limit, then the grace after SIGTERM
    bool terminated = false;
    bool ended = false;
};

QString FleetRunner::tempFolder() {
    // As it is named: QDir::tempPath() gives "" for a folder that is missing, and a template
    // made from that would land at the root of the file system.
    const QString dir = qEnvironmentVariable("TMPDIR");
    return dir.isEmpty() ? QStringLiteral("/tmp") : dir;
}

FleetRunner::FleetRunner(QString program, const QList<RouterLine>& routers,
                         const FleetOptions& options)
    : program_(std::move(program)), maxJobs_(std::max(options.jobs, 1)),
      env_(QProcessEnvironment::systemEnvironment()),
      tmp_(tempFolder() + QStringLiteral("/fwfleet-XXXXXX")) {
    for (const RouterLine& r : routers) {
        jobs_.push_back(std::make_unique<FleetJob>(r));
        fw::registerSecret(r.password);
    }
    env_.insert(QStringLiteral("FWUPGRADE_HEADLESS"), QStringLiteral("1"));
    env_.insert(QStringLiteral("FWUPGRADE_OUTPUT"), QStringLiteral("jsonl"));
    // The fleet's settings replace whatever fwfleet's own environment says.
    env_.remove(QStringLiteral("FWUPGRADE_VERIFY"));
    env_.remove(QStringLiteral("FWUPGRADE_TARGET_VERSION"));
    env_.remove(QStringLiteral("FWUPGRADE_DRY_RUN"));
    // The wait for the restart comes on top of the run's own limit.
    timeLimit_ = JobTimeLimit + std::chrono::seconds(options.verifySeconds.value_or(0));
    if (options.verifySeconds)
        env_.insert(QStringLiteral("FWUPGRADE_VERIFY"), QString::number(*options.verifySeconds));
    if (!options.targetVersion.isEmpty())
        env_.insert(QStringLiteral("FWUPGRADE_TARGET_VERSION"), options.targetVersion);
    if (options.dryRun)
        env_.insert(QStringLiteral("FWUPGRADE_DRY_RUN"), QStringLiteral("1"));
}

FleetRunner::~FleetRunner() {
    for (auto& slot : slots_)
        if (slot->process && slot->process->state() != QProcess::NotRunning) {
            slot->process->kill();
            slot->process->waitForFinished(int(StopGrace.count()));
        }
}

QString FleetRunner::tempError() const {
    return QStringLiteral("cannot create a temporary directory in %1: %2")
        .arg(tempFolder(), tmp_.errorString());
}

void FleetRunner::start() {
    startNext();
}

std::vector<std::size_t> FleetRunner::running() const {
    std::vector<std::size_t> indices;
    indices.reserve(slots_.size());
    for (const auto& slot : slots_)
        indices.push_back(slot->index);
    return indices;
}

double FleetRunner::elapsedSeconds(std::size_t index) const {
    for (const auto& slot : slots_)
        if (slot->index == index)
            return double(slot->clock.elapsed()) / 1000.0;
    return jobs_[index]->seconds();
}

void FleetRunner::startNext() {
    retired_.clear();
    while (!stopping_ && next_ < jobs_.size() && slots_.size() < std::size_t(maxJobs_))
        launch(next_++);
    if (slots_.empty() && (stopping_ || next_ == jobs_.size()))
        finish();
}

void FleetRunner::launch(std::size_t index) {
    FleetJob& job = *jobs_[index];
    auto slot = std::make_unique<Slot>();
    Slot& s = *slot;
    s.index = index;
    s.process = std::make_unique<QProcess>();
    slots_.push_back(std::move(slot));
    job.started();
    s.clock.start();
    // Only below fwfleet's own directory, which exists (ready()) and is never empty.
    s.tmpDir = tmp_.path() + QStringLiteral("/job%1").arg(index + 1);
    if (!ready() || !QDir().mkdir(s.tmpDir)) {
        job.addLog(QStringLiteral("fwfleet: cannot create %1").arg(s.tmpDir));
        s.tmpDir.clear();
        QTimer::singleShot(0, this, [this, &s] { onFinished(s, CrashedStatus); });
        emit jobChanged(index);
        return;
    }
    QProcessEnvironment env = env_;
    env.insert(QStringLiteral("TMPDIR"), s.tmpDir);
    s.process->setProcessEnvironment(env);
    s.process->setProgram(program_);
    const RouterLine& r = job.router();
    // The password goes through the child's standard input, never its arguments.
    s.process->setArguments({QStringLiteral("put"), r.address, QStringLiteral("-"),
                             RouterList::commandLineField(r.romId)});
    s.process->setChildProcessModifier([] {
        // A Ctrl-C on the terminal reaches fwfleet only, which then ends each run with SIGTERM.
        ::setpgid(0, 0);
        // fwfleet ignores SIGPIPE for itself; the runs get the usual disposition.
        ::signal(SIGPIPE, SIG_DFL);
    });
    // The children's standard error is no part of the fleet's report.
    s.process->setStandardErrorFile(QProcess::nullDevice());
    connect(s.process.get(), &QProcess::readyReadStandardOutput, this, [this, &s] {
        readOutput(s);
    });
    connect(s.process.get(), &QProcess::finished, this,
            [this, &s](int code, QProcess::ExitStatus how) {
                onFinished(s, how == QProcess::NormalExit ? code : CrashedStatus);
            });
    connect(s.process.get(), &QProcess::errorOccurred, this, [this, &s](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            onFinished(s, 127);
    });
    s.limit.setSingleShot(true);
    connect(&s.limit, &QTimer::timeout, this, [&s] {
        if (!s.terminated) {
            s.terminated = true;
            s.process->terminate();
            s.limit.start(StopGrace);
        } else {
            s.process->kill();
        }
    });
    s.limit.start(timeLimit_);
    s.process->start();
    // Buffered until the child runs; the channel closes once the line is out.
    s.process->write(r.password.toLocal8Bit() + '\n');
    s.process->closeWriteChannel();
    emit jobChanged(index);
}

namespace {
// A child's JSON line with every password of the fleet masked in its texts, should the child
// ever show one.
QByteArray maskedLine(const QByteArray& line) {
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (!doc.isObject())
        return line;
    return QJsonDocument(fw::maskSecrets(QJsonValue(doc.object())).toObject())
        .toJson(QJsonDocument::Compact);
}
} // namespace

void FleetRunner::readOutput(Slot& s) {
    FleetJob& job = *jobs_[s.index];
    s.pending += s.process->readAllStandardOutput();
    qsizetype start = 0;
    for (qsizetype end; (end = s.pending.indexOf('\n', start)) >= 0; start = end + 1) {
        if (!s.skipping)
            job.feedLine(maskedLine(s.pending.mid(start, end - start)));
        s.skipping = false;
    }
    s.pending.remove(0, start);
    if (s.pending.size() > FleetJob::MaxLineBytes) {
        s.pending.clear(); // an over-long line is dropped up to its end
        s.skipping = true;
    }
    emit jobChanged(s.index);
}

void FleetRunner::onFinished(Slot& s, int status) {
    if (s.ended)
        return;
    if (s.process->state() == QProcess::NotRunning && s.process->bytesAvailable() > 0)
        readOutput(s);
    s.ended = true;
    s.limit.stop();
    FleetJob& job = *jobs_[s.index];
    job.finished(status, double(s.clock.elapsed()) / 1000.0);
    ++counts_[std::size_t(job.state())];
    recent_.push_front(s.index);
    if (recent_.size() > RecentKept)
        recent_.pop_back();
    if (!s.tmpDir.isEmpty())
        QDir(s.tmpDir).removeRecursively();
    const std::size_t index = s.index;
    // The slot leaves the running ones now and is deleted from the event loop: its process
    // object is still in its own signal here.
    const auto it = std::find_if(slots_.begin(), slots_.end(),
                                 [&s](const auto& slot) { return slot.get() == &s; });
    retired_.push_back(std::move(*it));
    slots_.erase(it);
    emit jobChanged(index);
    QTimer::singleShot(0, this, [this] { startNext(); });
}

void FleetRunner::finish() {
    if (finishedSent_)
        return;
    finishedSent_ = true;
    emit finished();
}

void FleetRunner::stop() {
    if (stopping_)
        return;
    stopping_ = true;
    for (auto& slot : slots_) {
        slot->terminated = true;
        slot->process->terminate();
        slot->limit.start(StopGrace);
    }
    if (slots_.empty())
        QTimer::singleShot(0, this, [this] { finish(); });
}

} // namespace fleet

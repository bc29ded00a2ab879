#include "FleetRunner.h"

#include "ui/SecretText.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

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

FleetRunner::FleetRunner(QString program, const QList<RouterLine>& routers, int jobs)
    : program_(std::move(program)), maxJobs_(std::max(jobs, 1)),
      tmp_(QDir::tempPath() + QStringLiteral("/fwfleet-XXXXXX")) {
    for (const RouterLine& r : routers) {
        jobs_.push_back(std::make_unique<FleetJob>(r));
        fw::registerSecret(r.password);
    }
}

FleetRunner::~FleetRunner() {
    for (auto& slot : slots_)
        if (slot->process && slot->process->state() != QProcess::NotRunning) {
            slot->process->kill();
            slot->process->waitForFinished(int(StopGrace.count()));
        }
}

void FleetRunner::start() {
    startNext();
}

double FleetRunner::elapsedSeconds(const FleetJob& job) const {
    for (const auto& slot : slots_)
        if (!slot->ended && jobs_[slot->index].get() == &job)
            return double(slot->clock.elapsed()) / 1000.0;
    return job.seconds();
}

void FleetRunner::startNext() {
    std::size_t running = 0;
    for (const auto& slot : slots_)
        running += slot->ended ? 0 : 1;
    while (!stopping_ && next_ < jobs_.size() && running < std::size_t(maxJobs_)) {
        launch(next_++);
        ++running;
    }
    if (running == 0 && (stopping_ || next_ == jobs_.size()))
        finish();
}

void FleetRunner::launch(std::size_t index) {
    FleetJob& job = *jobs_[index];
    auto slot = std::make_unique<Slot>();
    Slot& s = *slot;
    s.index = index;
    s.tmpDir = tmp_.path() + QStringLiteral("/job%1").arg(index + 1);
    QDir().mkpath(s.tmpDir);
    s.process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FWUPGRADE_HEADLESS"), QStringLiteral("1"));
    env.insert(QStringLiteral("FWUPGRADE_OUTPUT"), QStringLiteral("jsonl"));
    env.insert(QStringLiteral("TMPDIR"), s.tmpDir);
    s.process->setProcessEnvironment(env);
    s.process->setProgram(program_);
    const RouterLine& r = job.router();
    // The password goes through the child's standard input, never its arguments.
    s.process->setArguments({QStringLiteral("put"), r.address, QStringLiteral("-"),
                             RouterList::commandLineField(r.romId)});
    // A Ctrl-C on the terminal reaches fwfleet only, which then ends each run with SIGTERM.
    s.process->setChildProcessModifier([] { ::setpgid(0, 0); });
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
    slots_.push_back(std::move(slot));
    job.started();
    s.clock.start();
    s.limit.start(JobTimeLimit);
    s.process->start();
    // Buffered until the child runs; the channel closes once the line is out.
    s.process->write(r.password.toLocal8Bit() + '\n');
    s.process->closeWriteChannel();
    emit changed();
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
    emit changed();
}

void FleetRunner::onFinished(Slot& s, int status) {
    if (s.ended)
        return;
    if (s.process->state() == QProcess::NotRunning && s.process->bytesAvailable() > 0)
        readOutput(s);
    s.ended = true;
    s.limit.stop();
    jobs_[s.index]->finished(status, double(s.clock.elapsed()) / 1000.0);
    QDir(s.tmpDir).removeRecursively();
    emit changed();
    // Later, from the event loop: the process object is still in its own signal here.
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
    bool any = false;
    for (auto& slot : slots_) {
        if (slot->ended)
            continue;
        any = true;
        slot->terminated = true;
        slot->process->terminate();
        slot->limit.start(StopGrace);
    }
    if (!any)
        QTimer::singleShot(0, this, [this] { finish(); });
}

} // namespace fleet

#include "FleetDisplay.h"

#include <QJsonArray>
#include <QJsonObject>

namespace fleet {

namespace {
void put(std::FILE* out, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
}
} // namespace

QString FleetDisplay::line(const FleetJob& job, double seconds) {
    const int percent = job.percent();
    return QStringLiteral("%1  %2  %3  %4  %5s")
        .arg(job.router().address, -15)
        .arg(FleetJob::stateName(job.state()), -10)
        .arg(job.method().isEmpty() ? QStringLiteral("-") : job.method(), -4)
        .arg(percent < 0 ? QStringLiteral("-") : QString::number(percent) + u'%', 4)
        .arg(seconds, 6, 'f', 1);
}

void FleetDisplay::update(const FleetRunner& runner) {
    const auto& jobs = runner.jobs();
    if (terminal_) {
        // Back to the first line drawn, then every line again, each cleared first.
        if (drawn_ > 0)
            put(out_, QStringLiteral("\x1b[%1A").arg(drawn_));
        for (const auto& job : jobs)
            put(out_, QStringLiteral("\r\x1b[2K") + line(*job, runner.elapsedSeconds(*job)) +
                          u'\n');
        drawn_ = int(jobs.size());
    } else {
        shown_.resize(jobs.size());
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const FleetJob& job = *jobs[i];
            if (job.state() == JobState::Waiting)
                continue;
            const QString key = FleetJob::stateName(job.state()) + u' ' + job.method();
            if (shown_[qsizetype(i)] == key)
                continue;
            shown_[qsizetype(i)] = key;
            put(out_, line(job, runner.elapsedSeconds(job)) + u'\n');
        }
    }
    std::fflush(out_);
}

QString FleetDisplay::summary(const FleetRunner& runner) {
    int done = 0, failed = 0, waiting = 0;
    for (const auto& job : runner.jobs()) {
        done += job->state() == JobState::Done ? 1 : 0;
        failed += job->state() == JobState::Failed ? 1 : 0;
        waiting += job->state() == JobState::Waiting ? 1 : 0;
    }
    QString s = QStringLiteral("fwfleet: %1 routers, %2 done, %3 failed")
                    .arg(runner.jobs().size())
                    .arg(done)
                    .arg(failed);
    if (waiting > 0)
        s += QStringLiteral(", %1 not started").arg(waiting);
    return s;
}

bool FleetDisplay::allDone(const FleetRunner& runner) {
    for (const auto& job : runner.jobs())
        if (job->state() != JobState::Done)
            return false;
    return true;
}

QJsonDocument FleetDisplay::report(const FleetRunner& runner) {
    QJsonArray routers;
    int done = 0, failed = 0;
    for (const auto& job : runner.jobs()) {
        routers.append(job->reportEntry());
        done += job->state() == JobState::Done ? 1 : 0;
        failed += job->state() == JobState::Failed ? 1 : 0;
    }
    const int total = int(runner.jobs().size());
    return QJsonDocument(QJsonObject{
        {QStringLiteral("routers"), routers},
        {QStringLiteral("summary"),
         QJsonObject{{QStringLiteral("routers"), total},
                     {QStringLiteral("done"), done},
                     {QStringLiteral("failed"), failed},
                     {QStringLiteral("notStarted"), total - done - failed},
                     {QStringLiteral("interrupted"), runner.stopping()}}}});
}

} // namespace fleet

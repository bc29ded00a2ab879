#include "FleetDisplay.h"

#include "ui/VisibleText.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fleet {

namespace {
constexpr JobState Outcomes[] = {JobState::Upgraded,   JobState::Verified,
                                 JobState::UpToDate,   JobState::WouldUpgrade,
                                 JobState::Unverified, JobState::Failed};

// What the router ran, and what it runs after the run when that is known.
QString details(const FleetJob& job) {
    const auto before = job.before(), after = job.after();
    if (!before && !after)
        return {};
    QString text = fw::visibleText(before.value_or(QStringLiteral("?")));
    if (after && after != before)
        text += QStringLiteral(" -> ") + fw::visibleText(*after);
    return text;
}
} // namespace

QString FleetDisplay::line(const FleetJob& job, double seconds) {
    const int percent = job.percent();
    QString text = QStringLiteral("%1  %2  %3  %4  %5s")
                       .arg(job.router().address, -15)
                       .arg(FleetJob::stateName(job.state()), -13)
                       .arg(job.method().isEmpty() ? QStringLiteral("-") : job.method(), -4)
                       .arg(percent < 0 ? QStringLiteral("-") : QString::number(percent) + u'%', 4)
                       .arg(seconds, 6, 'f', 1);
    if (const QString d = details(job); !d.isEmpty())
        text += QStringLiteral("  ") + d;
    return text;
}

void FleetDisplay::put(const QByteArray& bytes) {
    for (qsizetype done = 0; !closed_ && done < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            closed_ = true; // a closed pipe, a full disk: the fleet goes on without a display
    }
}

void FleetDisplay::jobChanged(const FleetRunner& runner, std::size_t index) {
    if (terminal_ || closed_)
        return;
    const FleetJob& job = *runner.jobs()[index];
    if (job.state() == JobState::Waiting)
        return;
    if (shown_.size() != qsizetype(runner.jobs().size()))
        shown_.resize(qsizetype(runner.jobs().size()));
    const QString key = FleetJob::stateName(job.state()) + u' ' + job.method();
    if (shown_[qsizetype(index)] == key)
        return;
    shown_[qsizetype(index)] = key;
    put((line(job, runner.elapsedSeconds(index)) + u'\n').toLocal8Bit());
}

QStringList FleetDisplay::frame(const FleetRunner& runner, int rows, int columns) {
    const qsizetype routerRows = std::max(rows, 2) - 1;
    QStringList lines;
    for (const std::size_t i : runner.running()) {
        if (lines.size() == routerRows)
            break;
        lines << line(*runner.jobs()[i], runner.elapsedSeconds(i));
    }
    for (const std::size_t i : runner.recentlyFinished()) {
        if (lines.size() == routerRows)
            break;
        lines << line(*runner.jobs()[i], runner.jobs()[i]->seconds());
    }
    lines << summary(runner);
    // A line as wide as the terminal would wrap and move every line below it.
    const qsizetype width = std::max(columns, 2) - 1;
    for (QString& l : lines)
        l.truncate(width);
    return lines;
}

QByteArray FleetDisplay::repaint(const QStringList& before, const QStringList& after) {
    if (before == after)
        return {};
    QByteArray out;
    if (!before.isEmpty())
        out += "\x1b[" + QByteArray::number(before.size()) + 'A';
    int skipped = 0; // unchanged lines the cursor still has to pass
    for (qsizetype i = 0; i < after.size(); ++i) {
        if (i < before.size() && before[i] == after[i]) {
            ++skipped;
            continue;
        }
        if (skipped > 0)
            out += "\x1b[" + QByteArray::number(skipped) + 'B';
        skipped = 0;
        out += "\r\x1b[2K" + after[i].toLocal8Bit() + '\n';
    }
    if (skipped > 0)
        out += "\x1b[" + QByteArray::number(skipped) + 'B';
    if (after.size() < before.size())
        out += "\x1b[J"; // what is left of the taller block
    return out;
}

void FleetDisplay::redraw(const FleetRunner& runner) {
    if (!terminal_ || closed_)
        return;
    winsize size{};
    const bool known = ::ioctl(fd_, TIOCGWINSZ, &size) == 0;
    const int rows = known && size.ws_row > 0 ? size.ws_row : DefaultRows;
    const int columns = known && size.ws_col > 0 ? size.ws_col : DefaultColumns;
    QStringList lines = frame(runner, rows, columns);
    put(repaint(drawn_, lines));
    drawn_ = std::move(lines);
}

void FleetDisplay::finish(const FleetRunner& runner) {
    if (terminal_)
        redraw(runner);
    else if (!closed_)
        put((summary(runner) + u'\n').toLocal8Bit());
}

QString FleetDisplay::summary(const FleetRunner& runner) {
    QString s = QStringLiteral("fwfleet: %1 routers").arg(runner.jobs().size());
    for (const JobState state : Outcomes)
        if (const int n = runner.count(state); n > 0 || state == JobState::Failed)
            s += QStringLiteral(", %1 %2").arg(n).arg(FleetJob::stateName(state));
    if (const std::size_t running = runner.running().size(); running > 0)
        s += QStringLiteral(", %1 running").arg(running);
    if (const int waiting = runner.notStarted(); waiting > 0)
        s += runner.done() ? QStringLiteral(", %1 not started").arg(waiting)
                           : QStringLiteral(", %1 waiting").arg(waiting);
    return s;
}

bool FleetDisplay::allSucceeded(const FleetRunner& runner) {
    int succeeded = 0;
    for (const JobState state : Outcomes)
        succeeded += FleetJob::isSuccess(state) ? runner.count(state) : 0;
    return succeeded == int(runner.jobs().size());
}

QJsonDocument FleetDisplay::report(const FleetRunner& runner) {
    QJsonArray routers;
    for (const auto& job : runner.jobs())
        routers.append(job->reportEntry());
    QJsonObject summary{{QStringLiteral("routers"), int(runner.jobs().size())},
                        {QStringLiteral("notStarted"), runner.notStarted()},
                        {QStringLiteral("interrupted"), runner.stopping()}};
    for (const JobState state : Outcomes)
        summary.insert(FleetJob::stateName(state), runner.count(state));
    return QJsonDocument(QJsonObject{{QStringLiteral("routers"), routers},
                                     {QStringLiteral("summary"), summary}});
}

} // namespace fleet

#pragma once
// One router of a fleet run as its child's JSON Lines tell it: state, method, progress, bytes
// sent, last box, log lines and exit status. Fed line by line; main thread of fwfleet.

#include "RouterList.h"

#include <QJsonObject>
#include <QStringList>
#include <optional>

namespace fleet {

enum class JobState { Waiting, Searching, LoggingIn, Sending, Done, Failed };

class FleetJob {
public:
    // Bounds on what one child can make fwfleet keep.
    static constexpr int MaxLogLines = 10000;
    static constexpr qsizetype MaxLineBytes = 1 << 20;

    explicit FleetJob(RouterLine router) : router_(std::move(router)) {}

    const RouterLine& router() const { return router_; }
    JobState state() const { return state_; }
    static QString stateName(JobState state);

    void started();
    // One line of the child's standard output (without its line end); false when it is no
    // JSON object (it is then ignored).
    bool feedLine(const QByteArray& line);
    // The child has ended: its exit object's status if one came, else `fallback`.
    void finished(int fallbackStatus, double seconds);

    QString method() const { return method_; }
    // Percent of the current bar, or -1 when there is none.
    int percent() const;
    qint64 bytesSent() const { return bytesSent_; }
    std::optional<int> exitStatus() const { return exitStatus_; }
    double seconds() const { return seconds_; }
    QStringList logLines() const { return log_; }

    // The report's entry for this router.
    QJsonObject reportEntry() const;

private:
    void onLog(const QString& text);

    RouterLine router_;
    JobState state_ = JobState::Waiting;
    QString method_;
    qint64 position_ = 0, maximum_ = 0, bytesSent_ = 0;
    std::optional<int> exitStatus_;
    std::optional<std::pair<QString, QString>> lastBox_; // caption, text
    QStringList log_;
    double seconds_ = 0;
};

} // namespace fleet

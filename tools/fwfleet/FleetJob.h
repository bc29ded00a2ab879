#pragma once
// One router of a fleet run as its child's JSON Lines tell it: where the run is (its `phase`
// objects), what the router ran before and after, how the run ended, method, progress, file
// bytes sent, last box, log lines and exit status. Fed line by line; main thread of fwfleet.

#include "RouterList.h"

#include <QJsonObject>
#include <QStringList>
#include <optional>

namespace fleet {

// Waiting to searching to verifying while the child runs; one of the states after it, the
// router's outcome.
enum class JobState {
    Waiting,
    Searching,
    LoggingIn,
    Sending,
    Verifying,
    Upgraded,    // the router accepted the upgrade; nothing confirmed it (no --verify)
    Verified,    // it came back after the upgrade
    UpToDate,    // it already ran the target version: nothing sent
    WouldUpgrade, // a dry run that would have sent the upgrade
    Unverified,  // the upgrade was sent, the router did not come back right
    Failed,
};
inline constexpr int JobStateCount = int(JobState::Failed) + 1;

class FleetJob {
public:
    // Bounds on what one child can make fwfleet keep.
    static constexpr int MaxLogLines = 10000;
    static constexpr qsizetype MaxLineBytes = 1 << 20;
    static constexpr qsizetype MaxDetailChars = 64;
    // The status a child ends with when the upgrade was sent but not confirmed.
    static constexpr int UnconfirmedStatus = 4;

    explicit FleetJob(RouterLine router) : router_(std::move(router)) {}

    const RouterLine& router() const { return router_; }
    JobState state() const { return state_; }
    static QString stateName(JobState state);
    static bool isOutcome(JobState state) { return state >= JobState::Upgraded; }
    // The outcomes that leave nothing for a person to do.
    static bool isSuccess(JobState state);

    void started();
    // One line of the child's standard output (without its line end); false when it is no
    // JSON object (it is then ignored).
    bool feedLine(const QByteArray& line);
    // The child has ended: its exit object's status if one came, else `fallback`.
    void finished(int fallbackStatus, double seconds);
    // A log line of fwfleet's own about this router (a child that could not be started).
    void addLog(const QString& text);

    QString method() const { return method_; }
    // Percent of the current bar, or -1 when there is none.
    int percent() const;
    qint64 bytesSent() const { return bytesSent_ + position_; }
    std::optional<int> exitStatus() const { return exitStatus_; }
    double seconds() const { return seconds_; }
    QStringList logLines() const { return log_; }
    // The router's firmware text before and after the run, as the child reported them.
    std::optional<QString> before() const { return before_; }
    std::optional<QString> after() const { return after_; }

    // The report's entry for this router.
    QJsonObject reportEntry() const;

private:
    void onPhase(const QJsonObject& o);
    void onVerify(const QJsonObject& o);
    void setMethod(const QJsonValue& v);
    void newTransfer();

    RouterLine router_;
    JobState state_ = JobState::Waiting;
    QString method_;
    qint64 position_ = 0, maximum_ = 0, bytesSent_ = 0;
    std::optional<int> exitStatus_;
    std::optional<std::pair<QString, QString>> lastBox_; // caption, text
    std::optional<QString> before_, after_;
    QString verifyState_; // back, timeout or mismatch
    bool skipped_ = false;
    std::optional<qint64> plannedBytes_;
    QStringList log_;
    double seconds_ = 0;
};

} // namespace fleet

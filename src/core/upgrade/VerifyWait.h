#pragma once
// The wait for a router to restart after it accepted its upgrade: probes its own address (the
// unicast query and the echo) about once a second until it is back, the new detail is not the
// version wanted, or the time is up; reports through the sinks (log, status, the verify object).
// GUI thread; between probes the event loop runs (the window may close meanwhile).

#include "search/DeviceSearch.h"
#include "ui/Sinks.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

namespace fw {

// The rule by which probe answers decide: back when the router answers after having been silent
// for at least one probe, or answers with a detail other than before; with a target version, a
// detail other than it is a mismatch. An echo alone after the silence waits for the query's
// detail until the end.
class RestartRule {
public:
    enum class Verdict { Waiting, Back, Mismatch };

    RestartRule(QString before, QString target)
        : before_(std::move(before)), target_(std::move(target)) {}

    Verdict onProbe(const RouterAnswer& answer);
    // The time is up: Back or Mismatch when only the echo came back, else Waiting (timeout).
    Verdict atEnd() const;

    const std::optional<QString>& after() const { return after_; }
    const QString& romId() const { return romId_; }

private:
    Verdict judge(const std::optional<QString>& after) const;

    QString before_;
    QString target_;
    bool silenceSeen_ = false;
    bool echoBack_ = false;
    std::optional<QString> after_;
    QString romId_;
};

class VerifyWait {
public:
    using Probe = std::function<RouterAnswer(const QString& address)>;
    struct Outcome {
        QString state; // RunEvents::Back, Timeout or Mismatch
        int seconds = 0;
    };
    using Done = std::function<void(const Outcome&)>;

    static constexpr std::chrono::milliseconds ProbeInterval{1000};

    explicit VerifyWait(Probe probe);
    ~VerifyWait();
    VerifyWait(const VerifyWait&) = delete;
    VerifyWait& operator=(const VerifyWait&) = delete;

    // Logs the start, probes at once and then every ProbeInterval; `done` runs once with the
    // outcome (after its log line and verify object), unless stop() came first.
    void start(const Sinks& sinks, const QString& address, const QString& before, int seconds,
               const QString& target, Done done);
    void stop();
    bool running() const { return timer_.isActive() || probing_; }

private:
    void tick();
    void finish(const QString& state);

    Probe probe_;
    QTimer timer_;
    QElapsedTimer clock_;
    Sinks sinks_;
    QString address_;
    QString before_;
    QString target_;
    int seconds_ = 0;
    std::optional<RestartRule> rule_;
    Done done_;
    bool probing_ = false;
};

} // namespace fw

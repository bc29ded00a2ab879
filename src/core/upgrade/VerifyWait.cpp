#include "upgrade/VerifyWait.h"

#include "ui/RunEvents.h"

#include <cmath>

namespace fw {

RestartRule::Verdict RestartRule::judge(const std::optional<QString>& after) const {
    if (!target_.isEmpty() && after != target_)
        return Verdict::Mismatch;
    return Verdict::Back;
}

RestartRule::Verdict RestartRule::onProbe(const RouterAnswer& a) {
    if (!a.answered()) {
        silenceSeen_ = true;
        return Verdict::Waiting;
    }
    if (a.query) {
        if (silenceSeen_ || echoBack_ || a.detail != before_) {
            after_ = a.detail;
            romId_ = a.romId;
            return judge(after_);
        }
        return Verdict::Waiting;
    }
    // The echo alone: the router is up, its discovery service may follow.
    if (silenceSeen_)
        echoBack_ = true;
    return Verdict::Waiting;
}

RestartRule::Verdict RestartRule::atEnd() const {
    return echoBack_ ? judge(std::nullopt) : Verdict::Waiting;
}

VerifyWait::VerifyWait(Probe probe) : probe_(std::move(probe)) {
    timer_.setInterval(ProbeInterval);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
}

VerifyWait::~VerifyWait() = default;

void VerifyWait::start(const Sinks& sinks, const QString& address, const QString& before,
                       int seconds, const QString& target, Done done) {
    sinks_ = sinks;
    address_ = address;
    before_ = before;
    target_ = target;
    seconds_ = seconds;
    done_ = std::move(done);
    rule_.emplace(before, target);
    const QString text =
        QStringLiteral("Waiting for %1 to restart (up to %2 s)").arg(address).arg(seconds);
    RunEvents::phase(sinks_, RunEvents::Verifying);
    sinks_.logLine(text);
    sinks_.setStatus(text);
    clock_.start();
    timer_.start();
    // The first probe at once, but never inside start(): the caller finishes its step first.
    QTimer::singleShot(0, &timer_, [this] { tick(); });
}

void VerifyWait::stop() {
    timer_.stop();
    done_ = nullptr;
    rule_.reset();
}

void VerifyWait::tick() {
    if (probing_ || !rule_)
        return;
    probing_ = true;
    const RouterAnswer a = probe_(address_);
    probing_ = false;
    if (!rule_) // stopped during the probe
        return;
    switch (rule_->onProbe(a)) {
    case RestartRule::Verdict::Back:
        finish(RunEvents::Back);
        return;
    case RestartRule::Verdict::Mismatch:
        finish(RunEvents::Mismatch);
        return;
    case RestartRule::Verdict::Waiting:
        break;
    }
    if (clock_.elapsed() < qint64(seconds_) * 1000)
        return;
    switch (rule_->atEnd()) {
    case RestartRule::Verdict::Back:
        finish(RunEvents::Back);
        break;
    case RestartRule::Verdict::Mismatch:
        finish(RunEvents::Mismatch);
        break;
    case RestartRule::Verdict::Waiting:
        finish(RunEvents::Timeout);
        break;
    }
}

void VerifyWait::finish(const QString& state) {
    timer_.stop();
    const RestartRule rule = *rule_;
    rule_.reset();
    const int elapsed = int(std::lround(double(clock_.elapsed()) / 1000.0));
    const std::optional<QString> after = state == RunEvents::Timeout ? std::nullopt : rule.after();
    const QString seen =
        after ? rule.romId() + QStringLiteral(" - ") + *after : QStringLiteral("echo only");
    QString text;
    if (state == RunEvents::Timeout)
        text = QStringLiteral("%1 not back within %2 s").arg(address_).arg(seconds_);
    else if (state == RunEvents::Back)
        text = QStringLiteral("%1 back after %2 s: %3").arg(address_).arg(elapsed).arg(seen);
    else
        text = QStringLiteral("%1 back after %2 s: %3, not %4")
                   .arg(address_)
                   .arg(elapsed)
                   .arg(seen, target_);
    const int seconds = state == RunEvents::Timeout ? seconds_ : elapsed;
    sinks_.logLine(text);
    sinks_.setStatus(text);
    RunEvents::verify(sinks_, state, before_, after, seconds);
    if (Done done = std::exchange(done_, nullptr))
        done({state, seconds});
}

} // namespace fw

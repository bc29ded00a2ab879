#include "ProgressBarSink.h"

#include <QProgressBar>
#include <QThread>
#include <algorithm>
#include <limits>

namespace fw {

ProgressBarSink::ProgressBarSink(QProgressBar* bar, const HeadlessPolicy& policy)
    : bar_(bar), policy_(policy) {
    clock_.start();
    held_.setSingleShot(true);
    QObject::connect(&held_, &QTimer::timeout, [this] { reportHeadless(); });
}

void ProgressBarSink::setProgressMaximum(qint64 maximum) {
    // The last bar's held-back end is reported before a new bar replaces it.
    flushHeadless();
    maximum_ = std::max<qint64>(maximum, 0);
    throttle_.setMaximum(maximum_);
    held_.stop();
    show();
}

void ProgressBarSink::setProgressPosition(qint64 position) {
    position_ = position;
    show();
}

void ProgressBarSink::advanceProgress(qint64 delta) {
    position_ += delta;
    show();
}

void ProgressBarSink::reportHeadless() {
    if (!policy_.enabled)
        return;
    const std::chrono::milliseconds now(clock_.elapsed());
    if (const auto position = throttle_.offer(position_, now))
        policy_.reportProgress(*position, throttle_.maximum());
    else if (throttle_.pending() && !held_.isActive())
        held_.start(throttle_.wait(now));
}

void ProgressBarSink::flushHeadless() {
    if (!throttle_.pending())
        return;
    held_.stop();
    QThread::msleep(ulong(throttle_.wait(std::chrono::milliseconds(clock_.elapsed())).count()));
    reportHeadless();
}

void ProgressBarSink::show() {
    reportHeadless();
    if (!bar_)
        return;
    constexpr qint64 widest = std::numeric_limits<int>::max();
    int shift = 0;
    while ((maximum_ >> shift) > widest)
        ++shift;
    const qint64 position = std::clamp<qint64>(position_, 0, maximum_);
    // A range of 0..0 would make the bar a busy indicator; an empty bar is meant.
    const int top = int(std::max<qint64>(maximum_ >> shift, 1));
    // A transfer moves the bar per datagram: the widget is touched only where it changes.
    if (bar_->minimum() != 0 || bar_->maximum() != top)
        bar_->setRange(0, top);
    const int value = int(std::min<qint64>(position >> shift, top));
    if (bar_->value() != value)
        bar_->setValue(value);
}

} // namespace fw

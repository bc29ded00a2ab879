#include "ProgressBarSink.h"

#include <QProgressBar>
#include <algorithm>
#include <limits>

namespace fw {

ProgressBarSink::ProgressBarSink(QProgressBar* bar) : bar_(bar) {}

void ProgressBarSink::setProgressMaximum(qint64 maximum) {
    maximum_ = std::max<qint64>(maximum, 0);
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

void ProgressBarSink::show() {
    if (!bar_)
        return;
    constexpr qint64 widest = std::numeric_limits<int>::max();
    int shift = 0;
    while ((maximum_ >> shift) > widest)
        ++shift;
    const qint64 position = std::clamp<qint64>(position_, 0, maximum_);
    // A range of 0..0 would make the bar a busy indicator; an empty bar is meant.
    const int top = int(std::max<qint64>(maximum_ >> shift, 1));
    bar_->setRange(0, top);
    bar_->setValue(int(std::min<qint64>(position >> shift, top)));
}

} // namespace fw

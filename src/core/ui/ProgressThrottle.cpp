#include "ui/ProgressThrottle.h"

#include <algorithm>

namespace fw {

void ProgressThrottle::setMaximum(qint64 maximum) {
    maximum_ = std::max<qint64>(maximum, 0);
    position_ = reported_ = 0;
    pending_ = false;
}

std::optional<qint64> ProgressThrottle::offer(qint64 position, std::chrono::milliseconds now) {
    position_ = std::clamp<qint64>(position, 0, maximum_);
    const qint64 moved = position_ > reported_ ? position_ - reported_ : reported_ - position_;
    // Compared as moved/maximum >= 1/100 without overflow for any byte count. The full bar is
    // always worth a report, however small its last step.
    const bool full = position_ == maximum_ && moved > 0;
    if (maximum_ == 0 || (!full && moved < maximum_ / 100 + (maximum_ % 100 != 0 ? 1 : 0))) {
        pending_ = false;
        return std::nullopt;
    }
    if (reportedAt_ && now - *reportedAt_ < MinGap) {
        pending_ = true;
        return std::nullopt;
    }
    pending_ = false;
    reported_ = position_;
    reportedAt_ = now;
    return position_;
}

std::chrono::milliseconds ProgressThrottle::wait(std::chrono::milliseconds now) const {
    if (!reportedAt_)
        return std::chrono::milliseconds(0);
    return std::max(MinGap - (now - *reportedAt_), std::chrono::milliseconds(0));
}

} // namespace fw

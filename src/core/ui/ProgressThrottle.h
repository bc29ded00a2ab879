#pragma once
// Which progress positions a headless run reports: a move of at least one percent of the
// maximum since the last report (or any move that fills the bar), and at most one report per
// MinGap. A move that comes too soon is reported once the gap has passed (the caller arms a
// timer for wait()). One thread.

#include <QtGlobal>
#include <chrono>
#include <optional>

namespace fw {

class ProgressThrottle {
public:
    static constexpr std::chrono::milliseconds MinGap{100};

    // A new maximum is a new, empty bar.
    void setMaximum(qint64 maximum);
    // The bar's position now; `now` on any steady clock. Returns the position to report now,
    // if any. When a move is held back, pending() is true and wait(now) says for how long.
    std::optional<qint64> offer(qint64 position, std::chrono::milliseconds now);
    bool pending() const { return pending_; }
    std::chrono::milliseconds wait(std::chrono::milliseconds now) const;
    qint64 maximum() const { return maximum_; }
    qint64 position() const { return position_; }

private:
    qint64 maximum_ = 0;
    qint64 position_ = 0;
    qint64 reported_ = 0;
    std::optional<std::chrono::milliseconds> reportedAt_;
    bool pending_ = false;
};

} // namespace fw

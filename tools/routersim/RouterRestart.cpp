#include "RouterRestart.h"

namespace routersim {

namespace {
// A day is more than any test waits; more is a typo.
constexpr int MaxSilenceSeconds = 86400;
} // namespace

std::optional<std::optional<std::chrono::milliseconds>>
RouterRestart::parseSilence(const QString& v) {
    if (v == u"never")
        return std::optional<std::chrono::milliseconds>{};
    bool ok = false;
    const int seconds = v.toInt(&ok);
    if (!ok || seconds < 0 || seconds > MaxSilenceSeconds)
        return std::nullopt;
    return std::optional<std::chrono::milliseconds>{std::chrono::seconds(seconds)};
}

void RouterRestart::accepted() {
    std::lock_guard lock(mutex_);
    if (!acceptedAt_)
        acceptedAt_ = Clock::now();
}

bool RouterRestart::silent() const {
    std::lock_guard lock(mutex_);
    if (!acceptedAt_)
        return false;
    return !silence_ || Clock::now() - *acceptedAt_ < *silence_;
}

bool RouterRestart::restarted() const {
    std::lock_guard lock(mutex_);
    return acceptedAt_ && silence_ && Clock::now() - *acceptedAt_ >= *silence_;
}

QByteArray RouterRestart::detail(const QByteArray& configured) const {
    return restarted() && !newDetail_.isEmpty() ? newDetail_ : configured;
}

} // namespace routersim

#pragma once
// A router that restarts after it accepted an upgrade (the upload's answer, the FTP session's
// end after a STOR, the TFTP reboot request): silent for a while (no discovery answer, no echo,
// no web, no FTP), then back with a new detail, or never back. Any thread.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace routersim {

class RouterRestart {
public:
    using Clock = std::chrono::steady_clock;

    // `silence` nullopt: never back. `newDetail` empty: back with the old detail.
    RouterRestart(std::optional<std::chrono::milliseconds> silence, QByteArray newDetail)
        : silence_(silence), newDetail_(std::move(newDetail)) {}

    // The "restart" knob: SECONDS or "never"; nullopt on anything else.
    static std::optional<std::optional<std::chrono::milliseconds>> parseSilence(const QString& v);

    // The upgrade was accepted: the restart begins now (a second one changes nothing).
    void accepted();
    bool silent() const;
    // Back from its restart.
    bool restarted() const;
    // The detail the router answers with now.
    QByteArray detail(const QByteArray& configured) const;

private:
    std::optional<std::chrono::milliseconds> silence_;
    QByteArray newDetail_;
    mutable std::mutex mutex_;
    std::optional<Clock::time_point> acceptedAt_;
};

} // namespace routersim

#pragma once
// Runs a Discovery (and its transcript) on a thread of its own, for in-process tests and
// benchmarks whose search blocks their own thread. Owned and driven by one thread.

#include "SimConfig.h"
#include "Transcript.h"

#include <QObject>
#include <QThread>

namespace routersim {

class Discovery;

class DiscoveryThread {
public:
    explicit DiscoveryThread(SimConfig config);
    ~DiscoveryThread();
    DiscoveryThread(const DiscoveryThread&) = delete;
    DiscoveryThread& operator=(const DiscoveryThread&) = delete;

    // Starts the thread and binds the sockets there; false with *error set on failure.
    bool start(QString* error);
    void stop();

    const Transcript& transcript() const { return transcript_; }
    const SimConfig& config() const { return config_; }

private:
    SimConfig config_;
    Transcript transcript_;
    QThread thread_;
    QObject* anchor_ = nullptr; // lives on thread_
    Discovery* discovery_ = nullptr;
};

} // namespace routersim

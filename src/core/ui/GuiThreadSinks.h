#pragma once
// Hands a worker thread's reports to the sinks of the GUI thread. Constructed on, and owned by,
// the GUI thread; the sinks returned by workerSinks() may be called from any thread.

#include "ui/Sinks.h"

#include <QObject>
#include <memory>

namespace fw {

// Log, status and progress calls are queued to the GUI thread in the order they were made and
// return at once. Message boxes and message windows block the calling thread until the GUI thread
// has closed them, and return the answer. On the GUI thread itself every call goes straight
// through. The GUI thread must keep running its event loop while a worker uses these sinks
// (waiting for the worker with QThread::wait() from the GUI thread would deadlock a box).
// After shutdown() (or destruction) nothing more reaches the GUI sinks: queued calls are dropped
// and a worker waiting for a box or window is released at once with Cancel. The object must
// outlive every worker thread that uses workerSinks().
class GuiThreadSinks {
public:
    explicit GuiThreadSinks(const Sinks& guiSinks);
    ~GuiThreadSinks();
    GuiThreadSinks(const GuiThreadSinks&) = delete;
    GuiThreadSinks& operator=(const GuiThreadSinks&) = delete;

    // Forwarding sinks for a worker; a slot that was null in the GUI bundle stays null.
    Sinks workerSinks() const;

    // GUI thread. Stops forwarding and releases any worker waiting on a box or window, so that
    // the GUI thread may then wait for the worker without a deadlock. Idempotent.
    void shutdown();

    // The bundle this object forwards to.
    const Sinks& guiSinks() const { return gui_; }

private:
    class Forwarder;
    Sinks gui_;
    QObject context_; // lives on the GUI thread; queued calls run in its thread
    std::unique_ptr<Forwarder> forwarder_;
};

} // namespace fw

#pragma once
// The one wait of the core that lets the calling thread's events run: each pass blocks for at
// most a slice (on what the caller waits for, e.g. a socket, or a plain sleep), then pumps the
// thread's events, until the caller's condition holds, the wait is canceled or its deadline has
// passed. Pumping makes it the core's one re-entrant place: whatever the GUI thread does on an
// event (the StopTimer's watchdog included) can run inside it. Any thread; pumping only where
// an application object exists.

#include <chrono>
#include <functional>

namespace fw {

class EventWait {
public:
    using Clock = std::chrono::steady_clock;
    enum class End { Done, Canceled, TimedOut };
    enum class Pump {
        None,        // sleep only (the search's probes spin without processing messages)
        PostedCalls, // only calls queued to this thread (a worker's reports), no input or timers
        AllEvents,   // every pending event, timers included
    };
    using Block = std::function<void(std::chrono::microseconds slice)>;

    // Sleeps for `slice`, or runs `block` when one is given; then pumps.
    static void pass(Pump pump, std::chrono::microseconds slice, const Block& block = {});

    // Passes until `done` (checked first, and after each pass) holds: Done; `canceled` holds:
    // Canceled; or `deadline` has passed: TimedOut. Null functions never hold.
    static End until(const std::function<bool()>& done, Clock::time_point deadline,
                     const std::function<bool()>& canceled, Pump pump,
                     std::chrono::microseconds slice, const Block& block = {});
};

} // namespace fw

#pragma once
// Test waits that keep the calling thread's event loop turning (queued reports, timers, sockets).

#include <chrono>
#include <functional>

namespace fw::test {

// Delivers events until `done` holds; false when `bound` passes first. Sleeps `nap` between
// rounds so a busy wait does not starve the thread being waited for.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound,
               std::chrono::milliseconds nap = std::chrono::milliseconds(2));

} // namespace fw::test

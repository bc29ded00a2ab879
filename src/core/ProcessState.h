#pragma once
// The state the program shares process-wide, in one named place. Engines receive references to
// what they need from their callers; nothing in an engine reaches for these directly unless the
// rule is process-wide by nature (the repeat-search flag, the quit-at-start flag).

#include <atomic>
#include <cstdint>

namespace fw {

// The watchdog count and signal word shared by the GUI thread and the HTTP worker.
using StopCounter = std::atomic<std::uint16_t>;

// Stop-counter signal codes.
namespace StopCode {
inline constexpr std::uint16_t HttpAccepted = 122;
inline constexpr std::uint16_t HttpFailed = 123;
inline constexpr std::uint16_t HttpDone = 124;
inline constexpr std::uint16_t TftpFinished = 1000;
inline constexpr std::uint16_t TftpRebooting = 1001;
inline constexpr std::uint16_t TftpRejected = 1002;
} // namespace StopCode

struct ProcessState {
    // Set when start-up must end the program before the other windows exist.
    static std::atomic<bool> quitAtStart;
    // Set by each search; cleared by the socket layer when it produces "No route to host.".
    static std::atomic<bool> repeatSearch;
};

} // namespace fw

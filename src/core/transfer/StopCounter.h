#pragma once
// The watchdog count and signal word shared by the GUI thread (the StopTimer), the engines and the
// HTTP worker, and the signal codes the engines store in it. Any thread.

#include <atomic>
#include <cstdint>

namespace fw {

// Grows by one per StopTimer tick; the engines reset it at each file and store their codes in it.
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

} // namespace fw

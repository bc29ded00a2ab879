#include "process/ProcessState.h"

namespace fw {
std::atomic<bool> ProcessState::quitAtStart{false};
std::atomic<bool> ProcessState::repeatSearch{false};
} // namespace fw

#pragma once
// The state the program shares process-wide, in one named place. Engines receive references to
// what they need from their callers; nothing in an engine reaches for these directly unless the
// rule is process-wide by nature (the repeat-search flag, the quit-at-start flag).

#include <atomic>

namespace fw {

struct ProcessState {
    // Set when start-up must end the program before the other windows exist.
    static std::atomic<bool> quitAtStart;
    // The repeat-search flag; written and read only through DeviceSearch.
    static std::atomic<bool> repeatSearch;
};

} // namespace fw

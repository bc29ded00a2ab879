#pragma once
// JSON Lines runs end with the "exit" object whatever ends them, termination signals included:
// SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by one thread of their own,
// which removes the extracted files, writes the exit object (128 + signal) if the stream takes
// it at once, and ends the process by the same signal, within EndLimit even when standard
// output is blocked. install() runs first in main(), before any other thread exists.

#include <chrono>

namespace fw {

class JsonLinesSignalExit {
public:
    // How long the signal's thread waits for a writer to let go of the stream.
    static constexpr std::chrono::milliseconds WriterWait{200};
    // However the exit object fares, the process is gone by then.
    static constexpr std::chrono::milliseconds EndLimit{1000};

    static void install();
};

} // namespace fw

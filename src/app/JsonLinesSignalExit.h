#pragma once
// JSON Lines runs end with the "exit" object whatever ends them, termination signals included:
// SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by one thread of their own,
// which writes the exit object (128 + signal), removes the extracted files and ends the process
// by the same signal. install() runs first in main(), before any other thread exists.

namespace fw {

class JsonLinesSignalExit {
public:
    static void install();
};

} // namespace fw

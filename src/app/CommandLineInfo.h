#pragma once
// The informational command lines (--help, --version): answered on standard output before any
// window or display is needed. Main thread, first thing in main().

#include <optional>

namespace fw {

class CommandLineInfo {
public:
    // The exit status when the command line is exactly one of --help, -h or --version (the text
    // is then printed); nullopt for every other command line, which starts the program as before.
    static std::optional<int> answer(int argc, const char* const* argv);
};

} // namespace fw

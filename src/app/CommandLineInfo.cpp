#include "CommandLineInfo.h"

#include <cstdio>
#include <cstring>

namespace fw {

namespace {

const char kUsage[] =
    R"(Usage: fwupgrade
       fwupgrade put|set ROUTER PASSWORD ROMID [FILE] [log]
       fwupgrade get ROUTER PASSWORD ROMID OFFSET LENGTH OUTPUT
       fwupgrade --help | --version

Upgrades the firmware of small-office routers, or reads a stretch of a router's ROM
back into a file. Without a command line the window opens; the settings packed onto
the program decide how it starts.

  put       upgrade the router at once, without a person
  set       preset the router, then wait for Upgrade to be pressed
  get       read LENGTH bytes of the ROM from OFFSET (decimal or 0x hexadecimal)
            into OUTPUT (31 characters at most)
  ROUTER    the router's IPv4 address; null for none
  PASSWORD  the router's password; null for none; - reads it from the first line
            of standard input (use - in scripts: arguments show in process lists)
  ROMID     the ROM identifier that picks the packed images; null for none
  FILE      the image to send instead of the packed ones
  log       show the System Log

Any other command line of four or more words clears the presets and starts the
window as without one.

Environment:
  FWUPGRADE_HEADLESS=1  no display, nobody waits: System Log lines on standard
                        output, status:, box:, list: and message: lines on standard
                        error, message boxes answered with their first button

Passwords are shown as ******** wherever the program shows text.

Exit status: 0 success or a normal end, 1 the upgrade or read-back failed, 2 the
package or settings could not be read or no password came on standard input,
3 a headless run needed a person.
)";

bool is(const char* arg, const char* name) { return std::strcmp(arg, name) == 0; }

} // namespace

std::optional<int> CommandLineInfo::answer(int argc, const char* const* argv) {
    if (argc != 2)
        return std::nullopt;
    const char* arg = argv[1];
    if (is(arg, "--help") || is(arg, "-h"))
        std::fputs(kUsage, stdout);
    else if (is(arg, "--version"))
        std::fputs("fwupgrade " FW_VERSION "\n", stdout);
    else
        return std::nullopt;
    // A closed or full standard output is a failure, not a silent success.
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

} // namespace fw

#pragma once
// The password of a command line whose password argument is "-": the first line of standard
// input, so that it never stands in the process's arguments. Bounded: a run that gets no line in
// time ends as one that got none. Main thread, before any window.

#include <QByteArray>
#include <QtGlobal>

#include <chrono>
#include <optional>

namespace fw {

// A script writes the line at once; a person at a terminal has time to type it.
inline constexpr std::chrono::seconds PasswordInputDeadline{30};
// Far more than any router takes; a longer line is no password.
inline constexpr qsizetype MaxPasswordLineBytes = 4096;

// The first line of `fd` without its line end ("\n" or "\r\n"; a last line without one counts
// too). nullopt when the input ends before its first byte, the deadline passes first or the line
// is longer than MaxPasswordLineBytes. On a terminal the typed characters are not echoed.
std::optional<QByteArray> readPasswordLine(int fd, std::chrono::milliseconds deadline);

} // namespace fw

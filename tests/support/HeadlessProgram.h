#pragma once
// Running the program headless in the end-to-end tests, and packing it with fwpack. Main thread
// of a test executable.

#include "support/NetNamespace.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace fw::test {

// Long enough for a run that waits out its own watchdog; a hang still ends the test.
constexpr std::chrono::milliseconds HeadlessRunTimeout{60000};

// Exit status, standard output and standard error of a run, for a failure message.
QString describe(const ProgramRun& run);

// Runs a program with FWUPGRADE_HEADLESS=1 on the offscreen platform; a run that does not start
// or does not end within `timeout` fails the current test.
ProgramRun runHeadless(const QString& program, const QStringList& args,
                       std::chrono::milliseconds timeout = HeadlessRunTimeout);

QString fwpackPath();

// Writes DIR/packed: the program with `files` ("PATH:ATTR") appended and then, unless
// `settingsOptions` is nullopt, a settings record that `fwpack settings` makes from those
// options as DIR/set.bin (an empty list gives the default record). A failing fwpack fails the
// current test. Returns the packed program's path.
QString packProgram(const QString& dir, const QStringList& files,
                    const std::optional<QStringList>& settingsOptions);

// The multipart body the program posts for the upgrade files `files` (their bytes, one after
// another), byte for byte as the router receives it.
QByteArray expectedUploadBody(const QByteArray& files);

} // namespace fw::test

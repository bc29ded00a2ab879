#pragma once
// The policy of headless runs: reports also go to the standard streams (one line per call,
// flushed), boxes are answered by their first button without showing anything. GUI thread.

#include "ui/Sinks.h"
#include "ui/VisibleText.h"

#include <QString>
#include <functional>

namespace fw {

// Whether this run is headless, and where its report lines go (one line per call, flushed).
struct HeadlessPolicy {
    using Writer = std::function<void(const QString& line)>;

    bool enabled = false;
    Writer out; // standard output: System Log lines
    Writer err; // standard error: boxes, status changes, router lists

    // FWUPGRADE_HEADLESS from the environment, the process's standard streams.
    static HeadlessPolicy fromEnvironment();
    // Headless, with the given writers (tests).
    static HeadlessPolicy capture(Writer out, Writer err);
    // Not headless: widgets only.
    static HeadlessPolicy interactive() { return HeadlessPolicy{}; }

    // The text writer: control characters made visible, so one line is always one report.
    void writeOut(const QString& line) const {
        if (enabled && out)
            out(visibleText(line));
    }
    void writeErr(const QString& line) const {
        if (enabled && err)
            err(visibleText(line));
    }

    // The answer a headless run gives: the first button of the set.
    static BoxAnswer firstButton(BoxButtons buttons);
};

} // namespace fw

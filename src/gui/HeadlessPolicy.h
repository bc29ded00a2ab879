#pragma once
// The policy of headless runs: reports also go to the standard streams (one line per call,
// flushed) or, in JSON Lines runs, as one object each to standard output; boxes are answered by
// their first button without showing anything. GUI thread.

#include "ui/Sinks.h"
#include "ui/SecretText.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace fw {

// Whether this run is headless, and where its report lines go (one line per call, flushed).
struct HeadlessPolicy {
    using Writer = std::function<void(const QString& line)>;

    using JsonWriter = std::function<void(const QString& kind, const QJsonObject& fields)>;

    bool enabled = false;
    Writer out; // standard output: System Log lines
    Writer err; // standard error: boxes, status changes, router lists, progress
    JsonWriter json; // JSON Lines runs: every report as one object instead of a line

    // FWUPGRADE_HEADLESS from the environment, the process's standard streams.
    static HeadlessPolicy fromEnvironment();
    // Headless, with the given writers (tests).
    static HeadlessPolicy capture(Writer out, Writer err);
    // Not headless: widgets only.
    static HeadlessPolicy interactive() { return HeadlessPolicy{}; }

    // The text writer: secrets masked and control characters made visible, so one line is
    // always one report and never shows a password.
    void writeOut(const QString& line) const {
        if (enabled && out)
            out(shownText(line));
    }
    void writeErr(const QString& line) const {
        if (enabled && err)
            err(shownText(line));
    }

    // One report: a "log" text as a bare line on standard output, any other kind as
    // "<kind>: <text>" on standard error; in JSON Lines runs an object with that text.
    void report(const QString& kind, const QString& text) const;
    // `line` is the box's text line ("box: <caption>: <text>").
    void reportBox(const QString& line, const QString& text, const QString& caption,
                   BoxButtons buttons, BoxAnswer answer) const;
    void reportProgress(qint64 position, qint64 maximum) const;
    // A structured report (ui/RunEvents.h): an object in JSON Lines runs, nothing otherwise
    // (its log and status lines have said it).
    void reportEvent(const QString& kind, const QJsonObject& fields) const {
        if (enabled && json)
            json(kind, fields);
    }

    // The answer a headless run gives: the first button of the set.
    static BoxAnswer firstButton(BoxButtons buttons);
    static QStringList buttonNames(BoxButtons buttons);
    static QString answerName(BoxAnswer answer);
};

// The run's structured reports to the headless policy.
class HeadlessEventSink final : public EventSink {
public:
    explicit HeadlessEventSink(const HeadlessPolicy& policy) : policy_(policy) {}
    void runEvent(const QString& kind, const QJsonObject& fields) override {
        policy_.reportEvent(kind, fields);
    }

private:
    const HeadlessPolicy& policy_;
};

} // namespace fw

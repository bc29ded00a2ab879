#pragma once
// The interfaces through which the core reports and asks. Implemented by the widgets (src/gui),
// by the headless front and by test doubles. Engines on a worker thread get thread hand-off
// wrappers (ui/GuiThreadSinks.h), never the widgets' own implementations.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace fw {

// The System Log (Memo1): one line per call.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void appendLog(const QString& line) = 0;
};

// The status line (StatusBar1).
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void setStatusText(const QString& text) = 0;
};

// The progress bar (ProgressBar1). Values are byte counts and may exceed int.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setProgressMaximum(qint64 maximum) = 0;
    virtual void setProgressPosition(qint64 position) = 0;
    virtual void advanceProgress(qint64 delta) = 0;
};

enum class BoxButtons { Ok, OkCancel, YesNoCancel, YesOnly };
enum class BoxIcon { None, Information, Warning, Error };
enum class BoxAnswer { Ok, Cancel, Yes, No };

// A standard message box. A null caption means "no caption of its own" (the platform's default).
// Blocks until answered; headless runs answer with the first button of the set.
class BoxSink {
public:
    virtual ~BoxSink() = default;
    virtual BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                              BoxIcon icon = BoxIcon::None) = 0;
};

struct MessageRecord;

// Shows one message window modally and returns when it has closed.
class MessageWindowSink {
public:
    virtual ~MessageWindowSink() = default;
    virtual void showMessageWindow(const MessageRecord& record) = 0;
};

// The run's structured reports (ui/RunEvents.h): JSON Lines runs write each as one object; a
// front without such a report leaves the pointer null (log and status lines say the same).
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void runEvent(const QString& kind, const QJsonObject& fields) = 0;
};

// The progress sinks every transfer engine is handed, plus the boxes and message windows it may
// ask for. Any pointer may be null: the engine then reports nothing there.
struct Sinks {
    LogSink* log = nullptr;
    StatusSink* status = nullptr;
    ProgressSink* progress = nullptr;
    BoxSink* box = nullptr;
    MessageWindowSink* messageWindow = nullptr;
    EventSink* events = nullptr;

    void logLine(const QString& line) const {
        if (log)
            log->appendLog(line);
    }
    void setStatus(const QString& text) const {
        if (status)
            status->setStatusText(text);
    }
    void setProgressMaximum(qint64 v) const {
        if (progress)
            progress->setProgressMaximum(v);
    }
    void setProgressPosition(qint64 v) const {
        if (progress)
            progress->setProgressPosition(v);
    }
    void advanceProgress(qint64 v) const {
        if (progress)
            progress->advanceProgress(v);
    }
    void event(const QString& kind, const QJsonObject& fields) const {
        if (events)
            events->runEvent(kind, fields);
    }
    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                   BoxIcon icon = BoxIcon::None) const {
        if (box)
            return box->showBox(text, caption, buttons, icon);
        return BoxAnswer::Ok;
    }
};

} // namespace fw

#pragma once
// The progress sinks over the main window's widgets: Memo1 (System Log), StatusBar1 (status line)
// and ProgressBar1. In headless runs log lines also go to standard output and status changes to
// standard error, and the bar's moves as throttled "progress:" lines. GUI thread only; workers
// reach them through GuiThreadSinks.

#include "BoxPresenter.h"
#include "ui/ProgressThrottle.h"
#include "ui/Sinks.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QtGlobal>

class QPlainTextEdit;
class QProgressBar;
class QStatusBar;

namespace fw {

class MemoSink final : public LogSink {
public:
    MemoSink(QPlainTextEdit* memo, const HeadlessPolicy& policy);
    void appendLog(const QString& line) override;

private:
    QPointer<QPlainTextEdit> memo_;
    const HeadlessPolicy& policy_;
};

class StatusBarSink final : public StatusSink {
public:
    StatusBarSink(QStatusBar* bar, const HeadlessPolicy& policy);
    void setStatusText(const QString& text) override;
    QString text() const { return text_; }

private:
    QPointer<QStatusBar> bar_;
    const HeadlessPolicy& policy_;
    QString text_;
};

// Byte counts may exceed the widget's int range: beyond it both values are scaled down alike.
class ProgressBarSink final : public ProgressSink {
public:
    ProgressBarSink(QProgressBar* bar, const HeadlessPolicy& policy);
    void setProgressMaximum(qint64 maximum) override;
    void setProgressPosition(qint64 position) override;
    void advanceProgress(qint64 delta) override;

    qint64 maximum() const { return maximum_; }
    qint64 position() const { return position_; }
    // A move still held back is reported now, after the rest of its gap (the run ends).
    void flushHeadless();

private:
    void show();
    void reportHeadless();

    QPointer<QProgressBar> bar_;
    const HeadlessPolicy& policy_;
    ProgressThrottle throttle_;
    QElapsedTimer clock_;
    QTimer held_; // reports a move the throttle held back
    qint64 maximum_ = 100;
    qint64 position_ = 0;
};

// A message window sink whose target is set after the window exists (null: nothing is shown).
class MessageWindowForward final : public MessageWindowSink {
public:
    void setTarget(MessageWindowSink* target) { target_ = target; }
    MessageWindowSink* target() const { return target_; }
    void showMessageWindow(const MessageRecord& record) override {
        if (target_)
            target_->showMessageWindow(record);
    }

private:
    MessageWindowSink* target_ = nullptr;
};

} // namespace fw

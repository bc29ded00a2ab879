#pragma once
// The progress bar over the main window's ProgressBar1; a headless run reports its moves as
// throttled progress reports. GUI thread only; workers reach it through GuiThreadSinks.

#include "HeadlessPolicy.h"
#include "ui/ProgressThrottle.h"
#include "ui/Sinks.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QtGlobal>

class QProgressBar;

namespace fw {

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

} // namespace fw

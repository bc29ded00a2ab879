#pragma once
// The progress bar over the main window's ProgressBar1. GUI thread only; workers reach it through
// GuiThreadSinks.

#include "ui/Sinks.h"

#include <QPointer>
#include <QtGlobal>

class QProgressBar;

namespace fw {

// Byte counts may exceed the widget's int range: beyond it both values are scaled down alike.
class ProgressBarSink final : public ProgressSink {
public:
    explicit ProgressBarSink(QProgressBar* bar);
    void setProgressMaximum(qint64 maximum) override;
    void setProgressPosition(qint64 position) override;
    void advanceProgress(qint64 delta) override;

    qint64 maximum() const { return maximum_; }
    qint64 position() const { return position_; }

private:
    void show();

    QPointer<QProgressBar> bar_;
    qint64 maximum_ = 100;
    qint64 position_ = 0;
};

} // namespace fw

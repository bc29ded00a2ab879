#pragma once
// The status line over the main window's StatusBar1; in headless runs each change also goes to
// standard error as "status: <text>". GUI thread only; workers reach it through GuiThreadSinks.

#include "HeadlessPolicy.h"
#include "ui/Sinks.h"

#include <QPointer>
#include <QString>

class QStatusBar;

namespace fw {

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

} // namespace fw

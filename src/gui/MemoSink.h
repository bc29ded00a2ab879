#pragma once
// The System Log over the main window's Memo1; in headless runs each line also goes to standard
// output. GUI thread only; workers reach it through GuiThreadSinks.

#include "HeadlessPolicy.h"
#include "ui/Sinks.h"

#include <QPointer>

class QPlainTextEdit;

namespace fw {

class MemoSink final : public LogSink {
public:
    MemoSink(QPlainTextEdit* memo, const HeadlessPolicy& policy);
    void appendLog(const QString& line) override;

private:
    QPointer<QPlainTextEdit> memo_;
    const HeadlessPolicy& policy_;
};

} // namespace fw

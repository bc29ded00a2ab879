#include "MemoSink.h"

#include "ui/VisibleText.h"

#include <QPlainTextEdit>

namespace fw {

MemoSink::MemoSink(QPlainTextEdit* memo, const HeadlessPolicy& policy)
    : memo_(memo), policy_(policy) {}

void MemoSink::appendLog(const QString& line) {
    if (memo_)
        memo_->appendPlainText(visibleText(line));
    policy_.writeOut(line);
}

} // namespace fw

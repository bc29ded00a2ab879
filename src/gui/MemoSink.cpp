#include "MemoSink.h"

#include <QPlainTextEdit>

namespace fw {

MemoSink::MemoSink(QPlainTextEdit* memo, const HeadlessPolicy& policy)
    : memo_(memo), policy_(policy) {}

void MemoSink::appendLog(const QString& line) {
    if (memo_)
        memo_->appendPlainText(line);
    policy_.report(QStringLiteral("log"), line);
}

} // namespace fw

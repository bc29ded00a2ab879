#include "MemoSink.h"

#include "ui/SecretText.h"

namespace fw {

MemoSink::MemoSink(SystemLogView* memo, const HeadlessPolicy& policy)
    : memo_(memo), policy_(policy) {}

void MemoSink::appendLog(const QString& line) {
    if (memo_)
        memo_->appendLine(shownText(line));
    policy_.report(QStringLiteral("log"), line);
}

} // namespace fw

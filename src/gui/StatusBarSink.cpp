#include "StatusBarSink.h"

#include <QStatusBar>

namespace fw {

StatusBarSink::StatusBarSink(QStatusBar* bar, const HeadlessPolicy& policy)
    : bar_(bar), policy_(policy) {}

void StatusBarSink::setStatusText(const QString& text) {
    text_ = text;
    if (bar_)
        bar_->showMessage(text);
    policy_.report(QStringLiteral("status"), text);
}

} // namespace fw

#include "StatusBarSink.h"

#include "ui/SecretText.h"

#include <QFontMetrics>
#include <QStatusBar>

namespace fw {

StatusBarSink::StatusBarSink(QStatusBar* bar, const HeadlessPolicy& policy)
    : bar_(bar), policy_(policy) {}

void StatusBarSink::setStatusText(const QString& text) {
    text_ = text;
    if (bar_) {
        // The window keeps its size: a text that does not fit ends in "…", and its whole
        // wording is the tooltip.
        const int room = bar_->width() - StatusMargins;
        const QString shown = bar_->fontMetrics().elidedText(shownText(text), Qt::ElideRight, room);
        bar_->showMessage(shown);
        bar_->setToolTip(shown == shownText(text) ? QString() : shownText(text));
    }
    policy_.report(QStringLiteral("status"), text);
}

} // namespace fw

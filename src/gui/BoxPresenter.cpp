#include "BoxPresenter.h"

#include "ui/SecretText.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace fw {

namespace {
QMessageBox::Icon qtIcon(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons qtButtons(BoxButtons buttons) {
    switch (buttons) {
    case BoxButtons::Ok:
        return QMessageBox::Ok;
    case BoxButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case BoxButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case BoxButtons::YesOnly:
        return QMessageBox::Yes;
    }
    return QMessageBox::Ok;
}
// The button a box closed without a choice stands for.
int escapeButton(BoxButtons buttons) {
    switch (buttons) {
    case BoxButtons::Ok:
        return QMessageBox::Ok;
    case BoxButtons::YesOnly:
        return QMessageBox::Yes;
    default:
        return QMessageBox::Cancel;
    }
}

BoxAnswer answerOf(int button) {
    return button == QMessageBox::Ok    ? BoxAnswer::Ok
           : button == QMessageBox::Yes ? BoxAnswer::Yes
                                        : BoxAnswer::Cancel;
}
} // namespace

BoxPresenter::BoxPresenter(QWidget* owner, const HeadlessPolicy& policy)
    : owner_(owner), policy_(policy) {}

QString BoxPresenter::headlessLine(const QString& text, const QString& caption) {
    // A null caption (none of its own) is written as an empty one.
    return QStringLiteral("box: ") + caption + QStringLiteral(": ") + text;
}

BoxAnswer BoxPresenter::showBox(const QString& text, const QString& caption, BoxButtons buttons,
                                BoxIcon icon) {
    if (policy_.enabled) {
        const BoxAnswer answer = HeadlessPolicy::firstButton(buttons);
        policy_.reportBox(headlessLine(text, caption), text, caption, buttons, answer);
        return answer;
    }
    // A box without a caption of its own carries the application's name, as the platform does.
    const QString title = caption.isNull() ? QCoreApplication::applicationName() : shownText(caption);
    QMessageBox box(qtIcon(icon), title, shownText(text), qtButtons(buttons), owner_.data());
    // One box at a time: the one still open was made stale by what this one reports (a
    // question about a transfer that has now ended), so it closes as if dismissed.
    if (open_)
        open_->done(escapeButton(openButtons_));
    QPointer<QMessageBox> self(&box);
    open_ = self;
    openButtons_ = buttons;
    const int chosen = box.exec();
    if (open_ == self)
        open_.clear();
    switch (chosen) {
    case QMessageBox::Cancel:
        return BoxAnswer::Cancel;
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    case QMessageBox::Ok:
        return BoxAnswer::Ok;
    default:
        // Closed without a button (Escape, the title bar): the escape button of the set.
        return answerOf(escapeButton(buttons));
    }
}

} // namespace fw

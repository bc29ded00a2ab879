#include "BoxPresenter.h"

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
    const QString title = caption.isNull() ? QCoreApplication::applicationName() : caption;
    QMessageBox box(qtIcon(icon), title, text, qtButtons(buttons), owner_.data());
    switch (box.exec()) {
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
        return buttons == BoxButtons::Ok        ? BoxAnswer::Ok
               : buttons == BoxButtons::YesOnly ? BoxAnswer::Yes
                                                : BoxAnswer::Cancel;
    }
}

} // namespace fw

#include "BoxPresenter.h"

#include "ui/Headless.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>

namespace fw {

namespace {
void writeLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

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

HeadlessPolicy HeadlessPolicy::fromEnvironment() {
    HeadlessPolicy p;
    p.enabled = headlessRun();
    p.out = [](const QString& line) { writeLine(stdout, line); };
    p.err = [](const QString& line) { writeLine(stderr, line); };
    return p;
}

HeadlessPolicy HeadlessPolicy::capture(Writer out, Writer err) {
    HeadlessPolicy p;
    p.enabled = true;
    p.out = std::move(out);
    p.err = std::move(err);
    return p;
}

BoxAnswer HeadlessPolicy::firstButton(BoxButtons buttons) {
    return buttons == BoxButtons::Ok || buttons == BoxButtons::OkCancel ? BoxAnswer::Ok
                                                                        : BoxAnswer::Yes;
}

BoxPresenter::BoxPresenter(QWidget* owner, const HeadlessPolicy& policy)
    : owner_(owner), policy_(policy) {}

QString BoxPresenter::headlessLine(const QString& text, const QString& caption) {
    // A null caption (none of its own) is written as an empty one.
    return QStringLiteral("box: ") + caption + QStringLiteral(": ") + text;
}

BoxAnswer BoxPresenter::showBox(const QString& text, const QString& caption, BoxButtons buttons,
                                BoxIcon icon) {
    if (policy_.enabled) {
        policy_.writeErr(headlessLine(text, caption));
        return HeadlessPolicy::firstButton(buttons);
    }
    // A box without a caption of its own carries the application's name, as the platform does.
    const QString title =
        caption.isNull() ? QCoreApplication::applicationName() : visibleText(caption);
    QMessageBox box(qtIcon(icon), title, visibleText(text), qtButtons(buttons), owner_.data());
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

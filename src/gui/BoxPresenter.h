#pragma once
// The standard message box for the core (QMessageBox, modal, on the main window); a headless run
// (HeadlessPolicy) writes it to standard error instead and answers it with its first button.
// GUI thread; workers reach it through GuiThreadSinks.

#include "HeadlessPolicy.h"
#include "ui/Sinks.h"

#include <QPointer>
#include <QString>
#include <QWidget>

namespace fw {

class BoxPresenter final : public BoxSink {
public:
    BoxPresenter(QWidget* owner, const HeadlessPolicy& policy);

    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                      BoxIcon icon = BoxIcon::None) override;

    // The "box: <caption>: <text>" line of a headless run.
    static QString headlessLine(const QString& text, const QString& caption);

private:
    QPointer<QWidget> owner_;
    const HeadlessPolicy& policy_;
};

} // namespace fw

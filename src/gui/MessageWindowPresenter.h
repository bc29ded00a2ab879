#pragma once
// Shows message windows for the core: a modal MessageWindow on the GUI thread, or in headless runs
// one "message: <caption>" line on standard error and a wait of the live time. GUI thread; worker
// threads reach it through GuiThreadSinks.

#include "ui/Headless.h"
#include "ui/Sinks.h"

#include <QPointer>
#include <QWidget>

namespace fw {

class MessageWindowPresenter final : public MessageWindowSink {
public:
    explicit MessageWindowPresenter(QWidget* owner = nullptr, bool headless = headlessRun());

    // Returns when the window has closed. While another message window is open the request
    // waits until that one has closed, then shows.
    void showMessageWindow(const MessageRecord& record) override;

    // True while a message window (or its headless stand-in) is open in this process.
    static bool windowOpen();

private:
    void showHeadless(const MessageRecord& record);

    QPointer<QWidget> owner_;
    bool headless_;
};

} // namespace fw

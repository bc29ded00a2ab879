#pragma once
// The message window: one message file in a coloured, read-only rich-text view that may blink
// and closes itself after the message's live time. GUI thread; shown modally through
// MessageWindowPresenter, which keeps to one shown window at a time.

#include "message/MessageRecord.h"
#include "message/RtfReader.h"

#include <QDialog>
#include <QTimer>
#include <chrono>

class QTextEdit;

namespace fw {

class MessageWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds CountDownInterval{100};
    static constexpr std::chrono::milliseconds BlinkInterval{500};
    static constexpr QSize WindowSize{500, 300};
    static constexpr QPoint FirstPosition{170, 20};

    // Copies the record, caps its live time, resets the process-wide countdown counter and blink
    // state and starts the timers. Not shown by construction.
    explicit MessageWindow(const MessageRecord& record, QWidget* owner = nullptr);

    QTextEdit* view() const { return view_; }
    quint16 liveTime() const { return liveTime_; }
    bool isRich() const { return rich_; }
    const QTimer& countDownTimer() const { return countDownTimer_; }
    const QTimer& blinkTimer() const { return blinkTimer_; }

    // Process-wide, shared by every message window.
    static quint16 countDown();
    static quint8 blinkState();

private:
    void countDownTimerTimer();
    void blinkTimerTimer();
    void stopTimers();
    void loadText();

    MessageRecord record_;
    quint16 liveTime_;
    bool rich_;
    RtfDocument rtf_;
    QString plain_;
    QTextEdit* view_;
    QTimer countDownTimer_;
    QTimer blinkTimer_;
};

} // namespace fw

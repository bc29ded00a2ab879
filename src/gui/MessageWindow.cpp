#include "MessageWindow.h"

#include "RtfTextDocument.h"
#include "ui/VisibleText.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>

namespace fw {

namespace {
// One message window is shown at a time, so these two live once per process.
quint16 g_countDown = 0;
quint8 g_blinkState = 0; // 0 text shown, 1 text cleared

constexpr quint8 TextShown = 0;
constexpr quint8 TextCleared = 1;

// Plain notes are Windows-1252 with CR LF line ends, and may be zero-padded.
QString plainText(const QByteArray& text) {
    const qsizetype zero = text.indexOf('\0');
    QString out =
        RtfReader::decodeCp1252(zero < 0 ? QByteArrayView(text) : QByteArrayView(text).first(zero));
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}
} // namespace

quint16 MessageWindow::countDown() {
    return g_countDown;
}

quint8 MessageWindow::blinkState() {
    return g_blinkState;
}

MessageWindow::MessageWindow(const MessageRecord& record, QWidget* owner)
    : QDialog(owner), record_(record), liveTime_(record.cappedLiveTime()),
      rich_(RtfReader::isRtf(record.text)), view_(new QTextEdit(this)) {
    g_countDown = liveTime_;
    g_blinkState = TextShown;

    setWindowTitle(visibleText(RtfReader::decodeCp1252(record_.caption)));
    setModal(true);
    setGeometry(QRect(FirstPosition, WindowSize));
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    view_->setReadOnly(true);
    view_->setUndoRedoEnabled(false);
    view_->setLineWrapMode(QTextEdit::WidgetWidth);
    view_->setWordWrapMode(QTextOption::WordWrap);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // 0x00BBGGRR; a value with the top byte set is not a plain colour, so the view keeps its own.
    if ((record_.colour & 0xFF000000u) == 0) {
        const QColor colour(int(record_.colour & 0xFF), int((record_.colour >> 8) & 0xFF),
                            int((record_.colour >> 16) & 0xFF));
        QPalette p = view_->palette();
        p.setColor(QPalette::Base, colour);
        p.setColor(QPalette::Window, colour);
        view_->setPalette(p);
    }

    if (rich_)
        rtf_ = RtfReader::read(record_.text);
    else
        plain_ = plainText(record_.text);
    loadText();

    // Precise: the closing time is part of the contract ((N + 1) x 100 ms), not a hint.
    countDownTimer_.setTimerType(Qt::PreciseTimer);
    countDownTimer_.setInterval(CountDownInterval);
    connect(&countDownTimer_, &QTimer::timeout, this, &MessageWindow::countDownTimerTimer);
    countDownTimer_.start();
    blinkTimer_.setTimerType(Qt::PreciseTimer);
    blinkTimer_.setInterval(BlinkInterval);
    connect(&blinkTimer_, &QTimer::timeout, this, &MessageWindow::blinkTimerTimer);
    if (record_.noBlink == 0)
        blinkTimer_.start();
}

void MessageWindow::loadText() {
    if (rich_)
        fillTextDocument(*view_->document(), rtf_);
    else
        view_->setPlainText(plain_);
}

void MessageWindow::stopTimers() {
    countDownTimer_.stop();
    blinkTimer_.stop();
}

void MessageWindow::countDownTimerTimer() {
    const quint16 taken = g_countDown--;
    if (taken == 0 && liveTime_ != 0) {
        stopTimers();
        close();
    } else if (liveTime_ == 0) {
        stopTimers(); // stays until the user closes it, and no longer blinks
    }
}

void MessageWindow::blinkTimerTimer() {
    if (g_blinkState == TextCleared) {
        loadText();
        g_blinkState = TextShown;
    } else {
        view_->clear();
        g_blinkState = TextCleared;
    }
}

} // namespace fw

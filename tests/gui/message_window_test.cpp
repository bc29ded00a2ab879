#include "MessageWindowPresenter.h"
#include "RtfTextDocument.h"
#include "MessageWindow.h"
#include "message/MessageRecord.h"
#include "ui/GuiThreadSinks.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using namespace fw;
using namespace std::chrono_literals;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "message_window_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QApplication(argc, argv);
    return *a;
}

// Closing times are measured on a shared machine: early is a fault, a little late is not.
constexpr qint64 EarlySlackMs = 40;
constexpr qint64 LateSlackMs = 900;
constexpr int SampleMs = 20;

MessageRecord note(quint16 liveTime, quint8 noBlink, QByteArray text = "Keep the power on.") {
    MessageRecord m;
    m.name = "NOTE";
    m.caption = "Upgrade note";
    m.liveTime = liveTime;
    m.noBlink = noBlink;
    m.colour = 0x00336699; // 0x00BBGGRR: red 0x99, green 0x66, blue 0x33
    m.text = std::move(text);
    return m;
}

// Samples the view of `form` while it runs modally; returns the time exec() took.
struct Sample {
    qint64 ms;
    bool textVisible;
};
qint64 execAndSample(MessageWindow& form, QList<Sample>* samples) {
    QElapsedTimer clock;
    QTimer sampler;
    sampler.setInterval(SampleMs);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (samples)
            samples->append({clock.elapsed(), !form.view()->document()->isEmpty()});
    });
    clock.start();
    sampler.start();
    form.exec();
    return clock.elapsed();
}

// True when every sample well inside [from, to) has the given visibility.
bool visibleBetween(const QList<Sample>& s, qint64 from, qint64 to, bool visible) {
    constexpr qint64 margin = 120;
    int seen = 0;
    for (const Sample& x : s) {
        if (x.ms >= from + margin && x.ms < to - margin) {
            ++seen;
            if (x.textVisible != visible)
                return false;
        }
    }
    return seen > 0;
}

} // namespace

TEST(MessageWindowTest, BuiltFromTheRecord) {
    app();
    MessageWindow form(note(300, 0));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Upgrade note"));
    EXPECT_EQ(form.size(), QSize(500, 300));
    const QRect screen = form.screen()->availableGeometry();
    EXPECT_LE(std::abs(form.geometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(form.geometry().center().y() - screen.center().y()), 1);
    EXPECT_TRUE(form.isModal());
    EXPECT_FALSE(form.isVisible());

    QTextEdit* v = form.view();
    EXPECT_TRUE(v->isReadOnly());
    EXPECT_EQ(v->lineWrapMode(), QTextEdit::WidgetWidth);
    EXPECT_EQ(v->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(v->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(v->palette().color(QPalette::Base), QColor(0x99, 0x66, 0x33));
    EXPECT_EQ(v->toPlainText(), QStringLiteral("Keep the power on."));
    EXPECT_FALSE(form.isRich());

    EXPECT_EQ(form.liveTime(), 80); // capped
    EXPECT_EQ(MessageWindow::countDown(), 80);
    EXPECT_EQ(MessageWindow::blinkState(), 0);
    EXPECT_TRUE(form.countDownTimer().isActive());
    EXPECT_EQ(form.countDownTimer().interval(), 100);
    EXPECT_TRUE(form.blinkTimer().isActive());
    EXPECT_EQ(form.blinkTimer().interval(), 500);

    MessageWindow still(note(5, 1));
    EXPECT_FALSE(still.blinkTimer().isActive());
    EXPECT_EQ(MessageWindow::countDown(), 5); // process-wide: the newest window set it

    // A top byte in the colour is not a plain colour: the view keeps its own.
    MessageRecord system = note(5, 1);
    system.colour = 0x80000005;
    MessageWindow keeps(system);
    EXPECT_EQ(keeps.view()->palette().color(QPalette::Base),
              QTextEdit().palette().color(QPalette::Base));
}

TEST(MessageWindowTest, RichAndPlainText) {
    app();
    MessageWindow rich(note(5, 1,
                        "{\\rtf1\\ansi{\\colortbl;\\red255\\green0\\blue0;}\\qc\\cf1\\b\\fs40 "
                        "Caf\\'e9\\b0\\par\\pard plain \\u8364?\\par}"));
    EXPECT_TRUE(rich.isRich());
    QTextDocument* d = rich.view()->document();
    EXPECT_EQ(d->toPlainText(), QString::fromUtf16(u"Café\nplain €"));
    const QTextBlock first = d->firstBlock();
    EXPECT_EQ(first.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    const QTextCharFormat f = first.begin().fragment().charFormat();
    EXPECT_EQ(f.fontWeight(), QFont::Bold);
    EXPECT_EQ(f.fontPointSize(), 20.0);
    EXPECT_EQ(f.foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(first.next().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);

    // Not starting with "{\rtf": shown as it stands, braces and all; zero padding ends it.
    MessageWindow plain(note(5, 1, QByteArray("{\\b not rtf} caf\xe9\0\0junk", 22)));
    EXPECT_FALSE(plain.isRich());
    EXPECT_EQ(plain.view()->toPlainText(), QString::fromUtf16(u"{\\b not rtf} café"));
    MessageWindow lines(note(5, 1, "one\r\ntwo\rthree\nfour"));
    EXPECT_EQ(lines.view()->document()->blockCount(), 4);
    EXPECT_EQ(lines.view()->toPlainText(), QStringLiteral("one\ntwo\nthree\nfour"));
}

// Live time 20 without blinking: visible all along, closed after 2.1 seconds.
TEST(MessageWindowTest, NoBlinkClosesAfterLiveTime) {
    app();
    MessageWindow form(note(20, 1));
    QList<Sample> samples;
    const qint64 took = execAndSample(form, &samples);
    EXPECT_GE(took, 2100 - EarlySlackMs);
    EXPECT_LE(took, 2100 + LateSlackMs);
    ASSERT_FALSE(samples.isEmpty());
    for (const Sample& s : samples)
        EXPECT_TRUE(s.textVisible) << s.ms;
    EXPECT_FALSE(form.countDownTimer().isActive());
    EXPECT_FALSE(form.isVisible());
}

// Blinking: visible first, hidden from 500 ms, visible again from 1000 ms, and so on.
TEST(MessageWindowTest, BlinkAlternatesStartingVisible) {
    app();
    MessageWindow form(note(15, 0));
    QList<Sample> samples;
    const qint64 took = execAndSample(form, &samples);
    EXPECT_GE(took, 1600 - EarlySlackMs);
    EXPECT_LE(took, 1600 + LateSlackMs);
    EXPECT_TRUE(visibleBetween(samples, 0, 500, true));
    EXPECT_TRUE(visibleBetween(samples, 500, 1000, false));
    EXPECT_TRUE(visibleBetween(samples, 1000, 1500, true));
}

// Live time 0: stays until closed; both timers stop at the first tick, so no blinking.
TEST(MessageWindowTest, LiveTimeZeroStaysUntilClosed) {
    app();
    MessageWindow form(note(0, 0));
    QList<Sample> samples;
    bool timersStopped = false;
    QTimer::singleShot(1300ms, &form, [&] {
        timersStopped = !form.countDownTimer().isActive() && !form.blinkTimer().isActive();
        form.close(); // the user closes it
    });
    const qint64 took = execAndSample(form, &samples);
    EXPECT_GE(took, 1300 - EarlySlackMs);
    EXPECT_LE(took, 1300 + LateSlackMs);
    EXPECT_TRUE(timersStopped);
    for (const Sample& s : samples)
        EXPECT_TRUE(s.textVisible) << s.ms;
}

// Live time 300 is taken as 80: the window closes after 8.1 seconds.
TEST(MessageWindowTest, LiveTimeIsCappedAt80) {
    app();
    MessageWindow form(note(300, 1));
    const qint64 took = execAndSample(form, nullptr);
    EXPECT_GE(took, 8100 - EarlySlackMs);
    EXPECT_LE(took, 8100 + LateSlackMs);
}

TEST(MessageWindowPresenterTest, HeadlessWritesCaptionAndWaitsTheLiveTime) {
    app();
    MessageWindowPresenter headless(nullptr, true);
    bool anyWindow = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            anyWindow = anyWindow || (w->isVisible() && qobject_cast<MessageWindow*>(w));
    });
    probe.start(SampleMs);

    testing::internal::CaptureStderr();
    QElapsedTimer t;
    t.start();
    headless.showMessageWindow(note(3, 0));
    const qint64 took = t.restart();
    headless.showMessageWindow(note(0, 0));
    const qint64 zero = t.elapsed();
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(err, "message: Upgrade note\nmessage: Upgrade note\n");
    EXPECT_GE(took, 400 - EarlySlackMs);
    EXPECT_LE(took, 400 + LateSlackMs);
    EXPECT_LT(zero, 100);
    EXPECT_FALSE(anyWindow);
    EXPECT_FALSE(MessageWindowPresenter::windowOpen());
}

// A second request while a window is open waits until it has closed: never two at once.
TEST(MessageWindowPresenterTest, OneWindowAtATime) {
    app();
    MessageWindowPresenter presenter(nullptr, false);
    int mostVisible = 0;
    QStringList order;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        int visible = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && qobject_cast<MessageWindow*>(w)) {
                ++visible;
                if (order.isEmpty() || order.last() != w->windowTitle())
                    order.append(w->windowTitle());
            }
        mostVisible = std::max(mostVisible, visible);
    });
    probe.start(SampleMs);

    MessageRecord second = note(2, 1);
    second.caption = "Second";
    qint64 secondStarted = -1;
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(100ms, [&] {
        EXPECT_TRUE(MessageWindowPresenter::windowOpen());
        secondStarted = t.elapsed();
        presenter.showMessageWindow(second); // nested inside the first window's loop
    });
    presenter.showMessageWindow(note(4, 1));
    const qint64 took = t.elapsed();

    EXPECT_GE(secondStarted, 0);
    EXPECT_EQ(mostVisible, 1);
    EXPECT_EQ(order, QStringList({"Upgrade note", "Second"}));
    EXPECT_GE(took, 500 + 300 - EarlySlackMs);
    EXPECT_LE(took, 500 + 300 + LateSlackMs);
    EXPECT_FALSE(MessageWindowPresenter::windowOpen());
}

// An engine on a worker thread shows a window: it is created on the GUI thread, and the worker
// waits until it has closed.
TEST(MessageWindowPresenterTest, WorkerThreadWaitsForTheWindow) {
    app();
    MessageWindowPresenter presenter(nullptr, false);
    Sinks gui;
    gui.messageWindow = &presenter;
    GuiThreadSinks bridge(gui);
    const Sinks worker = bridge.workerSinks();

    QThread* formThread = nullptr;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && qobject_cast<MessageWindow*>(w))
                formThread = w->thread();
    });
    probe.start(SampleMs);

    qint64 workerWaited = -1;
    QThread* workerThread = nullptr;
    std::unique_ptr<QThread> t(QThread::create([&] {
        workerThread = QThread::currentThread();
        QElapsedTimer clock;
        clock.start();
        worker.messageWindow->showMessageWindow(note(5, 0));
        workerWaited = clock.elapsed();
    }));
    t->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return t->isFinished(); }, 5000));
    t->wait();
    EXPECT_EQ(formThread, QThread::currentThread());
    EXPECT_NE(workerThread, QThread::currentThread());
    EXPECT_GE(workerWaited, 600 - EarlySlackMs);
    EXPECT_LE(workerWaited, 600 + LateSlackMs);
}

#include "message/MessageRecord.h"
#include "ui/GuiThreadSinks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>

using namespace fw;
using namespace std::chrono_literals;

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "message_gui_thread_sinks_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QCoreApplication(argc, argv);
    return *a;
}

constexpr auto WorkerBound = 5s;
constexpr auto WindowLife = 200ms;

// Records every call and the thread it ran on; the box and the window take a while, the way a
// person answering them would.
struct GuiDoubles : LogSink, StatusSink, ProgressSink, BoxSink, MessageWindowSink {
    QStringList calls;
    QList<QThread*> threads;
    BoxAnswer answer = BoxAnswer::No;

    void note(const QString& c) {
        calls.append(c);
        threads.append(QThread::currentThread());
    }
    void appendLog(const QString& line) override { note(QStringLiteral("log ") + line); }
    void setStatusText(const QString& t) override { note(QStringLiteral("status ") + t); }
    void setProgressMaximum(qint64 v) override { note(QStringLiteral("max %1").arg(v)); }
    void setProgressPosition(qint64 v) override { note(QStringLiteral("pos %1").arg(v)); }
    void advanceProgress(qint64 v) override { note(QStringLiteral("adv %1").arg(v)); }
    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons, BoxIcon) override {
        note(QStringLiteral("box ") + caption + QStringLiteral(": ") + text);
        QTest::qWait(int(WindowLife.count()));
        return answer;
    }
    void showMessageWindow(const MessageRecord& r) override {
        note(QStringLiteral("window ") + QString::fromLatin1(r.caption));
        QTest::qWait(int(WindowLife.count())); // modal: a nested event loop
    }
    Sinks sinks() { return Sinks{this, this, this, this, this}; }
};

// Runs `work` on a new thread while this (GUI) thread keeps its event loop turning.
bool runOnWorker(std::function<void()> work) {
    std::unique_ptr<QThread> t(QThread::create(std::move(work)));
    t->start();
    const bool ended = QTest::qWaitFor([&] { return t->isFinished(); },
                                       int(std::chrono::milliseconds(WorkerBound).count()));
    if (!ended) {
        t->wait();
        return false;
    }
    t->wait();
    return true;
}

} // namespace

// Reports are queued to the GUI thread in order; the box and the window block the worker until
// they have closed and hand back the answer.
TEST(GuiThreadSinksTest, WorkerCallsRunOnTheGuiThreadInOrder) {
    app();
    GuiDoubles gui;
    GuiThreadSinks bridge(gui.sinks());
    const Sinks w = bridge.workerSinks();
    QThread* const guiThread = QThread::currentThread();

    BoxAnswer answer = BoxAnswer::Ok;
    qint64 boxWait = 0;
    qint64 windowWait = 0;
    QStringList seenBeforeWindow;
    MessageRecord record;
    record.caption = "Note";
    ASSERT_TRUE(runOnWorker([&] {
        for (int i = 0; i < 50; ++i)
            w.logLine(QStringLiteral("line %1").arg(i));
        w.setStatus(QStringLiteral("Uploading"));
        w.setProgressMaximum(5'000'000'000);
        w.setProgressPosition(10);
        w.advanceProgress(7);
        QElapsedTimer t;
        t.start();
        answer = w.showBox(QStringLiteral("Sure?"), QStringLiteral("Ask"), BoxButtons::YesNoCancel);
        boxWait = t.restart();
        w.messageWindow->showMessageWindow(record);
        windowWait = t.elapsed();
        w.logLine(QStringLiteral("after"));
    }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return gui.calls.size() >= 57; }, 2000));

    EXPECT_EQ(answer, BoxAnswer::No);
    EXPECT_GE(boxWait, WindowLife.count() - 20);
    EXPECT_GE(windowWait, WindowLife.count() - 20);
    ASSERT_EQ(gui.calls.size(), 57);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(gui.calls[i], QStringLiteral("log line %1").arg(i));
    EXPECT_EQ(gui.calls.mid(50),
              QStringList({"status Uploading", "max 5000000000", "pos 10", "adv 7",
                           "box Ask: Sure?", "window Note", "log after"}));
    for (QThread* t : std::as_const(gui.threads))
        EXPECT_EQ(t, guiThread);
}

TEST(GuiThreadSinksTest, GuiThreadCallsGoStraightThrough) {
    app();
    GuiDoubles gui;
    gui.answer = BoxAnswer::Yes;
    GuiThreadSinks bridge(gui.sinks());
    const Sinks w = bridge.workerSinks();
    w.logLine(QStringLiteral("now"));
    EXPECT_EQ(gui.calls, QStringList({"log now"})); // no event loop needed
    EXPECT_EQ(w.showBox(QStringLiteral("t"), QString(), BoxButtons::Ok), BoxAnswer::Yes);

    // A slot that is null in the GUI bundle stays null for the worker.
    GuiThreadSinks partial(Sinks{&gui, nullptr, nullptr, nullptr, nullptr});
    const Sinks p = partial.workerSinks();
    EXPECT_NE(p.log, nullptr);
    EXPECT_EQ(p.status, nullptr);
    EXPECT_EQ(p.progress, nullptr);
    EXPECT_EQ(p.box, nullptr);
    EXPECT_EQ(p.messageWindow, nullptr);
}

// shutdown() releases a worker that waits for a box the GUI thread has not reached, drops what
// was queued, and nothing reaches the GUI sinks afterwards.
TEST(GuiThreadSinksTest, ShutdownReleasesAWaitingWorker) {
    app();
    GuiDoubles gui;
    GuiThreadSinks bridge(gui.sinks());
    const Sinks w = bridge.workerSinks();
    std::atomic<bool> waiting = false;
    std::atomic<int> answer = -1;
    std::unique_ptr<QThread> t(QThread::create([&] {
        w.logLine(QStringLiteral("queued"));
        waiting = true;
        answer = int(w.showBox(QStringLiteral("t"), QString(), BoxButtons::Ok));
        w.logLine(QStringLiteral("dropped"));
    }));
    t->start();
    QElapsedTimer clock;
    clock.start();
    while (!waiting && clock.elapsed() < 5000)
        QThread::msleep(5); // deliberately no event processing on this thread
    QThread::msleep(50);
    bridge.shutdown();
    ASSERT_TRUE(t->wait(5000)); // would deadlock without shutdown()
    EXPECT_EQ(answer, int(BoxAnswer::Cancel));
    QCoreApplication::processEvents();
    QTest::qWait(50);
    EXPECT_TRUE(gui.calls.isEmpty());
    w.logLine(QStringLiteral("late, on the GUI thread"));
    EXPECT_TRUE(gui.calls.isEmpty());
}

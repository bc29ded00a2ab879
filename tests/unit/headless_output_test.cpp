// A headless run's output under pressure: the last step of a bar, and the exit object of a stop
// signal while a writer is stuck on a blocked stream.

#include "ui/JsonLines.h"
#include "ui/ProgressThrottle.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <future>
#include <thread>

using fw::JsonLines;
using fw::ProgressThrottle;
using std::chrono::milliseconds;

TEST(ProgressThrottleTest, TheFullBarIsReportedHoweverSmallItsLastStep) {
    ProgressThrottle p;
    p.setMaximum(100000);
    EXPECT_EQ(p.offer(99500, milliseconds(0)), 99500);
    // Half a percent, at once: held for the gap, not dropped.
    EXPECT_EQ(p.offer(100000, milliseconds(10)), std::nullopt);
    EXPECT_TRUE(p.pending());
    EXPECT_EQ(p.offer(100000, milliseconds(100)), 100000);
    // Past the end (an HTTP body's trailer) is still the end, reported once.
    EXPECT_EQ(p.offer(100200, milliseconds(300)), std::nullopt);
    EXPECT_FALSE(p.pending());
}

TEST(JsonLinesTest, AStopSignalDoesNotWaitOnABlockedStream) {
    std::promise<void> unblock;
    std::shared_future<void> released = unblock.get_future().share();
    std::promise<void> entered;
    QList<QByteArray> lines, tried;
    JsonLines w(
        [&](const QByteArray& l) {
            lines << l;
            if (lines.size() == 1) {
                entered.set_value();
                released.wait(); // the reader has stopped
            }
        },
        [&](const QByteArray& l) {
            tried << l;
            return true;
        });
    std::thread writer([&] { w.write(QStringLiteral("log")); });
    entered.get_future().wait();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(w.writeExitNow(143, milliseconds(50)));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, milliseconds(1000));
    EXPECT_TRUE(w.ended());
    unblock.set_value();
    writer.join();
    w.write(QStringLiteral("log"));
    w.writeExit(0);
    EXPECT_EQ(lines.size(), 1);
    EXPECT_TRUE(tried.isEmpty());

    // A free writer hands the exit object to the stream's non-waiting write.
    JsonLines free([&](const QByteArray& l) { lines << l; },
                   [&](const QByteArray& l) {
                       tried << l;
                       return true;
                   });
    EXPECT_TRUE(free.writeExitNow(130, milliseconds(50)));
    ASSERT_EQ(tried.size(), 1);
    const QJsonObject exit = QJsonDocument::fromJson(tried[0]).object();
    EXPECT_EQ(exit.value("kind").toString(), "exit");
    EXPECT_EQ(exit.value("status").toInt(), 130);
    EXPECT_TRUE(tried[0].endsWith('\n'));
}

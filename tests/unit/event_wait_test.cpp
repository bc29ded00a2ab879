// The core's one pumping wait: how it ends, and which events it lets run.

#include "process/EventWait.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

using namespace fw;
using namespace std::chrono_literals;

namespace {
constexpr std::chrono::microseconds Slice{500};

struct App {
    int argc = 1;
    char name[8] = "test";
    char* argv[1] = {name};
    QCoreApplication app{argc, argv};
};
} // namespace

TEST(EventWait, EndsByConditionCancelOrDeadlineInThatOrder) {
    const auto soon = EventWait::Clock::now() + 5s;
    const auto past = EventWait::Clock::now() - 1ms;
    int passes = 0;
    const EventWait::Block counted = [&](std::chrono::microseconds) { ++passes; };
    EXPECT_EQ(EventWait::until([] { return true; }, past, [] { return true; },
                               EventWait::Pump::None, Slice, counted),
              EventWait::End::Done);
    EXPECT_EQ(EventWait::until(
                  {}, past, [] { return true; }, EventWait::Pump::None, Slice, counted),
              EventWait::End::Canceled);
    EXPECT_EQ(passes, 0);
    EXPECT_EQ(EventWait::until([&] { return passes == 3; }, soon, {}, EventWait::Pump::None, Slice,
                               counted),
              EventWait::End::Done);
    const auto start = EventWait::Clock::now();
    EXPECT_EQ(EventWait::until({}, start + 20ms, {}, EventWait::Pump::None, Slice),
              EventWait::End::TimedOut);
    EXPECT_GE(EventWait::Clock::now() - start, 20ms);
}

TEST(EventWait, PumpsQueuedCallsAndTimersOnlyWhenAsked) {
    App a;
    QObject context;
    bool called = false, fired = false;
    QMetaObject::invokeMethod(
        &context, [&] { called = true; }, Qt::QueuedConnection);
    QTimer::singleShot(1ms, &context, [&] { fired = true; });
    EventWait::pass(EventWait::Pump::None, Slice);
    EXPECT_FALSE(called);
    EventWait::pass(EventWait::Pump::PostedCalls, 5ms); // the timer is due, and not run
    EXPECT_TRUE(called);
    EXPECT_FALSE(fired);
    EXPECT_EQ(EventWait::until([&] { return fired; }, EventWait::Clock::now() + 5s, {},
                               EventWait::Pump::AllEvents, Slice),
              EventWait::End::Done);
}

// Exit, closing the window during and after a transfer, the service keys, and how a headless run
// that became idle ends.

#include "support/FakeMainView.h"

#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

TEST(ExitButton, DuringATransferTheWindowStays) {
    for (qint16 phase : {Phase::TftpRunning, Phase::HttpRunning, Phase::FtpRunning}) {
        SCOPED_TRACE(phase);
        FormHarness h;
        h.form.UpgradePhase = phase;
        h.view.startStopTimer();
        h.form.ExitClick();
        ASSERT_EQ(h.view.boxes.size(), 1);
        EXPECT_EQ(h.view.boxes[0].text,
                  QStringLiteral("Don't Exit Upgrade Program When upgrade Not Complete !"));
        EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Upgrade Not Complete"));
        EXPECT_EQ(h.view.boxes[0].buttons, BoxButtons::Ok);
        EXPECT_FALSE(h.form.ExitRequested);
        EXPECT_TRUE(h.view.exitEnabled);
        EXPECT_EQ(h.view.waits, QList<int>{300});
        EXPECT_TRUE(h.view.timerActive); // the watchdog goes on
        EXPECT_EQ(h.view.closeAttempts, 0);
        EXPECT_FALSE(h.view.closed);
        EXPECT_EQ(h.form.exitStatus, ExitStatus::Ok);
    }
}

TEST(ExitButton, AfterAFailedTransferReportsAndCloses) {
    for (qint16 phase : {Phase::TftpFailed, Phase::HttpFailed, Phase::FtpFailed}) {
        SCOPED_TRACE(phase);
        FormHarness h;
        h.form.UpgradePhase = phase;
        h.form.ExitClick();
        ASSERT_EQ(h.view.boxes.size(), 1); // the close question asks nothing more
        EXPECT_EQ(h.view.boxes[0].text, QStringLiteral("Upgrade Not Success, Please Run Again !"));
        EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Upgrade Failure"));
        EXPECT_TRUE(h.view.closed);
        EXPECT_FALSE(h.view.exitEnabled);
        EXPECT_EQ(h.form.exitStatus, ExitStatus::Failed);
    }
}

TEST(ExitButton, OtherwiseCloses) {
    for (qint16 phase : {qint16(0), Phase::HttpAccepted, Phase::FtpSucceeded}) {
        FormHarness h;
        h.form.UpgradePhase = phase;
        h.view.startStopTimer();
        h.form.ExitClick();
        EXPECT_TRUE(h.view.boxes.isEmpty());
        EXPECT_TRUE(h.view.closed);
        EXPECT_FALSE(h.view.timerActive);
        EXPECT_EQ(h.form.exitStatus, ExitStatus::Ok);
    }
}

TEST(CloseQuery, DuringATransferAsks) {
    {
        FormHarness h; // OK: the program ends
        h.form.UpgradePhase = Phase::HttpRunning;
        h.view.startStopTimer();
        h.view.closeWindow();
        ASSERT_EQ(h.view.boxes.size(), 1);
        EXPECT_EQ(h.view.boxes[0].text,
                  QStringLiteral("Upgrade Not complete, Do you really want to exit program ?"));
        EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Upgrade Warning"));
        EXPECT_EQ(h.view.boxes[0].buttons, BoxButtons::OkCancel);
        EXPECT_TRUE(h.view.closed);
        EXPECT_EQ(h.view.terminateCount, 1);
        EXPECT_EQ(h.view.releaseCount, 1);
        EXPECT_FALSE(h.view.timerActive);
        EXPECT_EQ(h.form.exitStatus, ExitStatus::Failed);
    }
    {
        FormHarness h; // Cancel: the window and the watchdog stay
        h.form.UpgradePhase = Phase::FtpRunning;
        h.view.startStopTimer();
        h.view.boxAnswers.push_back(BoxAnswer::Cancel);
        h.view.closeWindow();
        EXPECT_FALSE(h.view.closed);
        EXPECT_TRUE(h.view.timerActive);
        EXPECT_EQ(h.view.timerStarts, 2);
        EXPECT_EQ(h.view.releaseCount, 0);
        EXPECT_EQ(h.form.exitStatus, ExitStatus::Ok);
    }
}

TEST(CloseQuery, AfterAFailedTransferReports) {
    FormHarness h;
    h.form.UpgradePhase = Phase::HttpFailed;
    h.view.closeWindow();
    ASSERT_EQ(h.view.boxes.size(), 1);
    EXPECT_EQ(h.view.boxes[0].text, QStringLiteral("Upgrade Not success, please Run again !"));
    EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Upgrade Warning"));
    EXPECT_EQ(h.view.boxes[0].buttons, BoxButtons::Ok);
    EXPECT_TRUE(h.view.closed);
    EXPECT_EQ(h.form.exitStatus, ExitStatus::Failed);
}

TEST(CloseQuery, OtherPhasesCloseQuietly) {
    for (qint16 phase : {qint16(0), Phase::TftpSucceeded, Phase::HttpAccepted}) {
        FormHarness h;
        h.form.UpgradePhase = phase;
        EXPECT_TRUE(h.form.FormCloseQuery());
        EXPECT_TRUE(h.view.boxes.isEmpty());
        EXPECT_FALSE(h.view.timerActive);
    }
    FormHarness h; // after Exit nothing is asked
    h.form.UpgradePhase = Phase::HttpRunning;
    h.form.ExitRequested = true;
    EXPECT_TRUE(h.form.FormCloseQuery());
    EXPECT_TRUE(h.view.boxes.isEmpty());
}

TEST(ServiceKeys, AltF1ToF5OnExit) {
    FormHarness h;
    h.form.FullHeight = 359;
    h.form.SetLayout(4);
    const int small = h.view.height;

    h.form.ExitKeyDown(ServiceKey::F1, false); // without Alt: ignored
    EXPECT_FALSE(h.form.LogShown);

    h.form.ExitKeyDown(ServiceKey::F1, true);
    EXPECT_TRUE(h.form.LogShown);
    EXPECT_EQ(h.form.ListDetail, 222);
    EXPECT_EQ(h.view.height, small + 137);
    h.form.ExitKeyDown(ServiceKey::F1, true); // already shown
    EXPECT_EQ(h.view.height, small + 137);

    h.view.startStopTimer();
    h.form.ExitKeyDown(ServiceKey::F5, true);
    EXPECT_FALSE(h.view.timerActive);

    h.form.ExitKeyDown(ServiceKey::F2, true);
    EXPECT_FALSE(h.form.LogShown);
    EXPECT_EQ(h.form.ListDetail, 111);
    EXPECT_EQ(h.view.height, small);
    h.form.ExitKeyDown(ServiceKey::F2, true); // already hidden
    EXPECT_EQ(h.view.height, small);

    h.view.startStopTimer();
    h.form.ExitKeyDown(ServiceKey::F5, true); // log hidden: the watchdog stays
    EXPECT_TRUE(h.view.timerActive);

    h.form.HaveUpgradeFile = 1;
    h.form.ExitKeyDown(ServiceKey::F3, true);
    EXPECT_EQ(h.form.HaveUpgradeFile, 0);
    EXPECT_TRUE(h.form.LogShown);
    EXPECT_EQ(h.form.ListDetail, 222);
    EXPECT_EQ(h.view.height, 359);
    for (int g = 0; g < 6; ++g)
        EXPECT_TRUE(h.view.visible[size_t(g)]);

    h.form.HaveUpgradeFile = 1;
    h.form.ExitKeyDown(ServiceKey::F3, true); // log shown: nothing
    EXPECT_EQ(h.form.HaveUpgradeFile, 1);
    h.form.ExitKeyDown(ServiceKey::Other, true);
    EXPECT_TRUE(h.form.LogShown);
}

TEST(HeadlessIdle, StatusByWhatHappened) {
    FormHarness h;
    EXPECT_TRUE(h.form.idle());
    EXPECT_EQ(h.form.idleExitStatus(), ExitStatus::NeedsPerson);

    h.form.UpgradePhase = Phase::HttpRunning;
    EXPECT_FALSE(h.form.idle());
    h.form.UpgradePhase = Phase::FtpSucceeded;
    EXPECT_TRUE(h.form.idle());
    EXPECT_EQ(h.form.idleExitStatus(), ExitStatus::Ok);
    h.form.UpgradePhase = Phase::TftpFailed;
    EXPECT_EQ(h.form.idleExitStatus(), ExitStatus::Failed);

    h.view.startStopTimer();
    EXPECT_FALSE(h.form.idle());

    h.form.exitStatus = ExitStatus::StartupEnded;
    EXPECT_EQ(h.form.idleExitStatus(), ExitStatus::StartupEnded);
}

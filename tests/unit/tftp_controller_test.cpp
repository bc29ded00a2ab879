// The upgrade controller's TFTP branch with the real TFTP engine against the simulated crashed
// router's loader on 127.0.0.1: a recovery that finishes, one the loader refuses, and one the
// loader abandons, which only the StopTimer watchdog ends.

#include "controller_harness.h"
#include "process/WaitMs.h"
#include "tftp_test_support.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>

using namespace fw;
using namespace fw::test;

namespace {

struct TftpControllerRig {
    ControllerHarness h;
    SimLoader loader;
    std::unique_ptr<TftpRecoveryEngine> engine;
    QByteArray image = pattern(1500, 21);
    QByteArray boot = pattern(700, 22);

    explicit TftpControllerRig(const QString& knobs = {}) : loader(knobs) {
        EXPECT_TRUE(loader.ok);
        engine = std::make_unique<TftpRecoveryEngine>(loader.port);
        engine->setWaitFunction([](std::chrono::milliseconds) { WaitMs(20, true); });
        h.controller().setTransferServices(TransferServices{nullptr, engine.get(), nullptr});
        h.addFile("ABC123_fw.bin", image, AttrUpgradeFile | AttrTftpCheck | AttrRomIdCheck | 0x10);
        h.addFile("boot.bin", boot, AttrUpgradeFile | AttrTftpCheck | AttrDefault | 0x20);
        h.chooseRouter(DeviceType::Crash, QString(), QStringLiteral("ABC123"));
    }

    // Turns the event loop and runs a StopTimer tick every `tickEvery` while the timer runs,
    // until `done` holds; false after the bound.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds tickEvery,
                  std::chrono::milliseconds bound = kWaitBound) {
        QDeadlineTimer deadline(bound);
        QDeadlineTimer nextTick(tickEvery);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (nextTick.hasExpired()) {
                h.view.tick();
                nextTick.setRemainingTime(tickEvery);
            }
            QThread::msleep(1);
        }
        return true;
    }
};

} // namespace

TEST(TftpController, RecoveryFinishesReportsSectionsAndSearchesAgain) {
    TftpControllerRig r;
    r.h.form->SectionCheck = true;
    r.h.form->sectionList = QStringLiteral("AB");
    EXPECT_EQ(r.h.form->UpgradeMethod, Method::Tftp);
    r.h.form->UpgradeClick();
    EXPECT_TRUE(r.h.logHas(QStringLiteral("Unsing TFTP upgrade mode to : 127.0.0.1")));
    EXPECT_EQ(r.h.form->UpgradePhase.load(), Phase::TftpRunning);
    EXPECT_TRUE(r.h.view.timerActive);

    ASSERT_TRUE(r.runUntil([&] { return !r.h.view.timerActive; }, std::chrono::milliseconds(100)));
    EXPECT_EQ(r.h.form->stopCounter.load(), StopCode::TftpFinished);
    EXPECT_EQ(r.h.form->UpgradePhase.load(), Phase::TftpSucceeded);
    EXPECT_EQ(r.h.controller().TftpFileOpen, 0);
    ASSERT_EQ(r.h.view.boxes.size(), 1);
    EXPECT_EQ(r.h.view.boxes[0].text, QStringLiteral("Recover Complete !"));
    EXPECT_EQ(r.h.view.boxes[0].caption, QStringLiteral("Recover Success"));
    EXPECT_TRUE(r.h.logHas(QStringLiteral("TFTP upgrade section :AB")));
    EXPECT_EQ(r.h.view.searchWindowShown, 1);
    EXPECT_EQ(r.h.form->exitStatus, ExitStatus::Ok);

    const auto files = r.loader.server->completedFiles();
    EXPECT_EQ(files.value("ABC123_fw.bin"), r.image);
    EXPECT_EQ(files.value("boot.bin"), r.boot);
    EXPECT_TRUE(r.loader.rebooted());
    // The watchdog never ran out: each tick while sending counted, the pause did not.
    EXPECT_FALSE(r.h.logHas(QStringLiteral("StopCounter : 40")));
}

TEST(TftpController, UnattendedRecoveryEndsTheProgram) {
    TftpControllerRig r;
    r.h.form->Interactive = false;
    r.h.form->UpgradeClick();
    ASSERT_TRUE(r.runUntil([&] { return r.h.view.closed; }, std::chrono::milliseconds(100)));
    EXPECT_EQ(r.h.form->UpgradePhase.load(), Phase::TftpSucceeded);
    EXPECT_EQ(r.h.form->exitStatus, ExitStatus::Ok);
    EXPECT_EQ(r.h.view.searchWindowShown, 0);
    EXPECT_EQ(r.loader.server->completedFiles().size(), 2);
}

TEST(TftpController, RefusedRecoveryWarnsAboutTheFile) {
    TftpControllerRig r(QStringLiteral("errorblock=2"));
    r.h.form->UpgradeClick();
    ASSERT_TRUE(r.runUntil([&] { return !r.h.view.timerActive; }, std::chrono::milliseconds(100)));
    EXPECT_EQ(r.h.form->UpgradePhase.load(), Phase::TftpFailed);
    EXPECT_TRUE(r.h.logHas(QStringLiteral("Recover process not be accept for router.")));
    ASSERT_EQ(r.h.view.boxes.size(), 1);
    EXPECT_EQ(r.h.view.boxes[0].text,
              QStringLiteral("Incorrect upgrade file. Please check again!"));
    EXPECT_EQ(r.h.view.boxes[0].buttons, BoxButtons::YesOnly);
    EXPECT_EQ(r.h.form->exitStatus, ExitStatus::Failed);
    EXPECT_FALSE(r.loader.rebooted());
}

TEST(TftpController, SilentLoaderIsEndedByTheWatchdog) {
    TftpControllerRig r(QStringLiteral("stall=2"));
    r.h.form->StopLimit = 4;
    r.h.form->UpgradeClick();
    // Let the first block be acknowledged and the stall begin, then let StopTimer count.
    ASSERT_TRUE(r.h.pumpUntil([&] { return r.engine->datagramsSent() >= 3; }));
    ASSERT_TRUE(
        r.runUntil([&] { return r.h.view.terminateCount > 0; }, std::chrono::milliseconds(50)));
    EXPECT_EQ(r.h.view.log.filter(QStringLiteral("StopCounter : ")),
              (QStringList{QStringLiteral("StopCounter : 1"), QStringLiteral("StopCounter : 2"),
                           QStringLiteral("StopCounter : 3")}));
    ASSERT_EQ(r.h.view.boxes.size(), 1);
    EXPECT_EQ(r.h.view.boxes[0].text,
              QStringLiteral("Recover Not Complete. Please Power OFF and Power ON the router then "
                             "execution program again !!"));
    EXPECT_EQ(r.h.view.boxes[0].caption, QStringLiteral("TFTP Upgrade Failure"));
    EXPECT_EQ(r.h.view.releaseCount, 1);
    EXPECT_EQ(r.h.form->exitStatus, ExitStatus::Failed);
    EXPECT_FALSE(r.loader.rebooted());
}

TEST(TftpController, ConfirmedCloseStopsTheRecoveryAtOnce) {
    TftpControllerRig r(QStringLiteral("stall=2"));
    r.h.form->UpgradeClick();
    ASSERT_TRUE(r.h.pumpUntil([&] { return r.engine->datagramsSent() >= 3; }));
    r.h.view.boxAnswers = {BoxAnswer::Ok};
    EXPECT_TRUE(r.h.form->FormCloseQuery());
    // Nothing more leaves, nothing is read: the engine stopped before the window went.
    EXPECT_FALSE(r.engine->running());
    EXPECT_FALSE(r.engine->timerActive());
    EXPECT_EQ(r.h.controller().TftpFileOpen, 0);
    EXPECT_EQ(r.h.view.releaseCount, 1);
    EXPECT_EQ(r.h.form->exitStatus, ExitStatus::Failed);
    const int sent = r.engine->datagramsSent();
    r.engine->UdpEndpoint1DataReceived(QByteArray("\0\4\0\2", 4), QStringLiteral("127.0.0.1"),
                                       r.loader.port);
    EXPECT_EQ(r.engine->datagramsSent(), sent);
    EXPECT_EQ(r.h.view.boxes.size(), 1); // the question only
    EXPECT_TRUE(r.h.logHas(QStringLiteral("Upgrade stopped by the user before the transfer ended")));
}

TEST(TftpController, LoaderThatLosesEveryCopyIsStillEndedByTheWatchdog) {
    TftpControllerRig r(QStringLiteral("dropblock=2,dropcopies=all"));
    r.engine->setRetransmitInterval(std::chrono::milliseconds(20));
    r.h.form->StopLimit = 4;
    r.h.form->UpgradeClick();
    ASSERT_TRUE(r.h.pumpUntil(
        [&] { return r.h.logHas(QStringLiteral("Resend block 2 (5 of 5)")); }));
    ASSERT_TRUE(
        r.runUntil([&] { return r.h.view.terminateCount > 0; }, std::chrono::milliseconds(50)));
    EXPECT_EQ(r.h.view.log.filter(QStringLiteral("Resend ")).size(), 5);
    EXPECT_EQ(r.loader.server->dropped(), 6);
    ASSERT_EQ(r.h.view.boxes.size(), 1);
    EXPECT_EQ(r.h.view.boxes[0].caption, QStringLiteral("TFTP Upgrade Failure"));
    EXPECT_EQ(r.h.form->exitStatus, ExitStatus::Failed);
    EXPECT_FALSE(r.loader.rebooted());
}

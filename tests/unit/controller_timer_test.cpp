// The StopTimer: automatic start, read-back, the stop-counter codes, the watchdog and its phase
// boxes; the FTP and TFTP branches over engines given by the test, and the stand-ins used while
// those engines are missing.

#include "controller_harness.h"

#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

const QString kRouter = QStringLiteral("127.0.0.1");

class FakeFtp : public FtpUpgradeService {
public:
    int answer = 1;
    QString text = QStringLiteral("FTP upgrade complete");
    QString sections;
    int calls = 0;
    QString password;
    int FtpUpgrade(StopCounter& counter, const Sinks&, const ExtractionList& files,
                   const QString& routerIp, const QString&, qint32, const QString& pw) override {
        ++calls;
        password = pw;
        EXPECT_EQ(routerIp, kRouter);
        EXPECT_GT(files.count, 0);
        counter = 0;
        return answer;
    }
    QString resultText() const override { return text; }
    QString sentSections() const override { return sections; }
};

class FakeTftp : public TftpUpgradeService {
public:
    int calls = 0;
    QString sections;
    int TftpUpgrade(StopCounter& counter, std::atomic<qint16>& phase, const Sinks&,
                    const ExtractionList&, const QString&, const QString&, qint32,
                    qint32& fileOpen) override {
        ++calls;
        EXPECT_EQ(phase.load(), Phase::TftpRunning);
        fileOpen = 1;
        counter = 0;
        return 1;
    }
    QString sentSections() const override { return sections; }
};

class FakeReadBack : public RomReadBackService {
public:
    int calls = 0;
    void RomReadBack(RunState& run, RunHost&) override {
        ++calls;
        run.GetMode = false;
    }
};

struct TimerHarness : ControllerHarness {
    TimerHarness() {
        addFile("fw.bin", QByteArray(100, 'f'), AttrHandPicked);
        view.startStopTimer();
    }
};

} // namespace

TEST(ControllerTimer, WatchdogCountsThenEndsWithThePhaseBox) {
    struct Case {
        qint16 phase;
        const char* text;
        const char* caption;
    };
    const Case cases[] = {
        {Phase::TftpRunning,
         "Recover Not Complete. Please Power OFF and Power ON the router then execution program "
         "again !!",
         "TFTP Upgrade Failure"},
        {Phase::HttpRunning, "Upgrade Abnormal Terminate and Please ReRun the program to ReUpgrade",
         "HTTP Upgrade Failure"},
        {Phase::FtpRunning, "Upgrade Abnormal Terminate and Please ReRun the program to ReUpgrade",
         "FTP Upgrade Failure"},
        {Phase::HttpAccepted, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phase);
        TimerHarness h;
        h.form->UpgradePhase = c.phase;
        h.form->StopLimit = 3;
        ASSERT_TRUE(h.view.tick());
        ASSERT_TRUE(h.view.tick());
        EXPECT_EQ(
            h.view.log.mid(h.view.log.size() - 2),
            (QStringList{QStringLiteral("StopCounter : 1"), QStringLiteral("StopCounter : 2")}));
        EXPECT_TRUE(h.controller().busy());
        EXPECT_EQ(h.view.terminateCount, 0);
        ASSERT_TRUE(h.view.tick());
        EXPECT_EQ(h.form->stopCounter.load(), 3);
        EXPECT_EQ(h.view.log.last(), QStringLiteral("StopCounter : 2")); // no line at the limit
        if (c.text) {
            ASSERT_EQ(h.view.boxes.size(), 1);
            EXPECT_EQ(h.view.boxes[0].text, QString::fromLatin1(c.text));
            EXPECT_EQ(h.view.boxes[0].caption, QString::fromLatin1(c.caption));
        } else {
            EXPECT_TRUE(h.view.boxes.isEmpty());
        }
        EXPECT_EQ(h.view.terminateCount, 1);
        EXPECT_EQ(h.view.releaseCount, 1);
        EXPECT_FALSE(h.view.timerActive);
        EXPECT_EQ(h.form->exitStatus, ExitStatus::Failed);
    }
}

TEST(ControllerTimer, EngineResetRestartsTheCount) {
    TimerHarness h;
    h.form->UpgradePhase = Phase::HttpRunning;
    h.form->StopLimit = 3;
    h.view.tick();
    h.view.tick();
    h.form->stopCounter = 0; // a file went out
    h.view.tick();
    h.view.tick();
    EXPECT_EQ(h.view.log.mid(h.view.log.size() - 4),
              (QStringList{QStringLiteral("StopCounter : 1"), QStringLiteral("StopCounter : 2"),
                           QStringLiteral("StopCounter : 1"), QStringLiteral("StopCounter : 2")}));
    EXPECT_EQ(h.view.terminateCount, 0);
}

TEST(ControllerTimer, LongLimitsNeverLandOnASignalCode) {
    EXPECT_EQ(UpgradeController::nextCount(0), 1);
    EXPECT_EQ(UpgradeController::nextCount(120), 121);
    EXPECT_EQ(UpgradeController::nextCount(121), 125);
    EXPECT_EQ(UpgradeController::nextCount(999), 1003);
    EXPECT_EQ(UpgradeController::nextCount(65534), 65535);

    // A limit of 65535 (a negative TimeOut) still counts past 121.
    TimerHarness h;
    h.form->UpgradePhase = Phase::HttpRunning;
    h.form->StopLimit = 65535;
    h.form->stopCounter = 121;
    h.view.tick();
    EXPECT_EQ(h.view.log.last(), QStringLiteral("StopCounter : 125"));
    h.view.tick();
    EXPECT_EQ(h.view.log.last(), QStringLiteral("StopCounter : 126"));
}

TEST(ControllerTimer, PauseCodesNeitherCountNorLog) {
    for (std::uint16_t code :
         {StopCode::HttpAccepted, StopCode::HttpFailed, StopCode::TftpRebooting}) {
        SCOPED_TRACE(code);
        TimerHarness h;
        h.form->StopLimit = 2;
        h.form->UpgradePhase = Phase::TftpRunning;
        h.form->stopCounter = code;
        const qsizetype lines = h.view.log.size();
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(h.view.tick());
        EXPECT_EQ(h.form->stopCounter.load(), code);
        EXPECT_EQ(h.view.log.size(), lines);
        EXPECT_EQ(h.view.terminateCount, 0);
        EXPECT_TRUE(h.view.timerActive);
    }
}

TEST(ControllerTimer, WorkerDoneReportsTheSectionsAndEndsUnattendedRuns) {
    TimerHarness h;
    h.form->UpgradeSection = QStringLiteral("AB");
    h.form->stopCounter = StopCode::HttpDone;
    h.view.tick();
    EXPECT_EQ(h.view.log.last(), QStringLiteral("HTTP upgrade section :AB"));
    EXPECT_FALSE(h.view.timerActive);
    EXPECT_FALSE(h.view.closed);

    TimerHarness u;
    u.form->Interactive = false;
    u.form->UpgradePhase = Phase::HttpAccepted;
    u.form->stopCounter = StopCode::HttpDone;
    u.view.tick();
    EXPECT_TRUE(u.view.closed);
}

TEST(ControllerTimer, TftpRejectedWarnsOrEnds) {
    TimerHarness h;
    h.form->UpgradePhase = Phase::TftpFailed;
    h.form->stopCounter = StopCode::TftpRejected;
    h.view.tick();
    ASSERT_EQ(h.view.boxes.size(), 1);
    EXPECT_EQ(h.view.boxes[0].text, QStringLiteral("Incorrect upgrade file. Please check again!"));
    EXPECT_EQ(h.view.boxes[0].buttons, BoxButtons::YesOnly);
    EXPECT_EQ(h.view.boxes[0].icon, BoxIcon::Warning);
    EXPECT_FALSE(h.view.timerActive);
    EXPECT_FALSE(h.view.closed);
    EXPECT_EQ(h.form->exitStatus, ExitStatus::Failed);

    TimerHarness u;
    u.form->Interactive = false;
    u.form->UpgradePhase = Phase::TftpFailed;
    u.form->stopCounter = StopCode::TftpRejected;
    u.view.tick();
    ASSERT_EQ(u.view.boxes.size(), 1); // ExitClick's failure box
    EXPECT_EQ(u.view.boxes[0].text, QStringLiteral("Upgrade Not Success, Please Run Again !"));
    EXPECT_TRUE(u.view.closed);
    EXPECT_EQ(u.form->exitStatus, ExitStatus::Failed);
}

TEST(ControllerTimer, TftpFinishedReportsChecksSectionsAndSearchesAgain) {
    FakeTftp tftp;
    tftp.sections = QStringLiteral("A");
    TimerHarness h;
    h.controller().setTransferServices(TransferServices{nullptr, &tftp, nullptr});
    h.form->SectionCheck = true;
    h.form->sectionList = QStringLiteral("AB");
    h.form->UpgradePhase = Phase::TftpSucceeded;
    h.form->stopCounter = StopCode::TftpFinished;
    h.view.tick();
    ASSERT_EQ(h.view.boxes.size(), 2);
    EXPECT_EQ(h.view.boxes[0].text, QStringLiteral("Recover Complete !"));
    EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Recover Success"));
    EXPECT_EQ(h.view.boxes[1].text,
              QStringLiteral("Upgrade Not complete, please click Upgrade button again !"));
    EXPECT_EQ(h.view.boxes[1].caption, QStringLiteral("Upgrade Again"));
    EXPECT_TRUE(h.logHas(QStringLiteral("TFTP upgrade section :A")));
    EXPECT_EQ(h.view.searchWindowShown, 1);
    EXPECT_EQ(h.form->exitStatus, ExitStatus::Failed);

    // Matching sections in a factory release: no box at all, the search still runs.
    TimerHarness f;
    f.controller().setTransferServices(TransferServices{nullptr, &tftp, nullptr});
    f.form->FactoryRelease = true;
    f.form->UpgradePhase = Phase::TftpSucceeded;
    f.form->stopCounter = StopCode::TftpFinished;
    f.view.tick();
    EXPECT_TRUE(f.view.boxes.isEmpty());
    EXPECT_EQ(f.view.searchWindowShown, 1);
    EXPECT_EQ(f.form->exitStatus, ExitStatus::Ok);

    TimerHarness u;
    u.controller().setTransferServices(TransferServices{nullptr, &tftp, nullptr});
    u.form->Interactive = false;
    u.form->UpgradePhase = Phase::TftpSucceeded;
    u.form->stopCounter = StopCode::TftpFinished;
    u.view.tick();
    EXPECT_TRUE(u.view.closed);
    EXPECT_EQ(u.view.searchWindowShown, 0);
    EXPECT_EQ(u.form->exitStatus, ExitStatus::Ok);
}

TEST(ControllerTimer, AutomaticStart) {
    // No router given: a search, then the router choice.
    TimerHarness a;
    a.form->AutoStart = true;
    a.form->PutMode = true;
    a.view.tick();
    EXPECT_FALSE(a.form->AutoStart);
    EXPECT_FALSE(a.form->PutMode);
    EXPECT_FALSE(a.view.timerActive);
    EXPECT_EQ(a.view.searchWindowShown, 1);

    // A router given and a file: Upgrade (here refused: the router is not in the list).
    TimerHarness b;
    b.form->AutoStart = true;
    b.view.setIpText(QStringLiteral("10.9.9.9"));
    b.view.tick();
    EXPECT_TRUE(b.logHas(QStringLiteral("Read Select Router Infomation Error")));

    // No file: nothing happens.
    TimerHarness c;
    c.form->AutoStart = true;
    c.form->HaveUpgradeFile = 0;
    c.view.setIpText(QStringLiteral("10.9.9.9"));
    const qsizetype lines = c.view.log.size();
    c.view.tick();
    EXPECT_EQ(c.view.log.size(), lines);
    EXPECT_TRUE(c.view.boxes.isEmpty());
    EXPECT_FALSE(c.controller().busy());
}

TEST(ControllerTimer, ReadBackRunsFromTheFirstTick) {
    FakeReadBack readBack;
    TimerHarness h;
    h.controller().setTransferServices(TransferServices{nullptr, nullptr, &readBack});
    h.form->GetMode = true;
    h.form->AutoStart = true; // read-back comes first
    h.view.tick();
    EXPECT_EQ(readBack.calls, 1);
    EXPECT_TRUE(h.form->AutoStart);

    // By default the controller's own read-back runs: FTP is not available, so it goes on with
    // HTTP, and a router whose web server does not answer makes it a failure.
    TimerHarness m;
    m.form->GetMode = true;
    m.view.tick();
    EXPECT_FALSE(m.form->GetMode);
    EXPECT_FALSE(m.view.timerActive);
    EXPECT_GE(m.view.log.indexOf(QStringLiteral("Try FTP Get Method first...")), 0);
    EXPECT_GE(m.view.log.indexOf(QStringLiteral("Try to use HTTP Get method.")), 0);
    EXPECT_EQ(m.form->exitStatus, ExitStatus::Failed);
    EXPECT_FALSE(m.controller().busy());
}

// --- the FTP and TFTP branches (no network: the engines are the test's)

TEST(ControllerBranches, FtpSuccessReportsAndOnlyAPersonSeesTheBox) {
    FakeFtp ftp;
    ftp.sections = QStringLiteral("A");
    ControllerHarness h;
    h.controller().setTransferServices(TransferServices{&ftp, nullptr, nullptr});
    h.addFile("fw.bin", QByteArray(10, 'f'), AttrHandPicked);
    h.chooseRouter(DeviceType::EchoOnly, "pw");
    h.form->UpgradeClick();
    EXPECT_EQ(ftp.calls, 1);
    EXPECT_EQ(ftp.password, QStringLiteral("pw"));
    EXPECT_EQ(h.form->UpgradePhase.load(), Phase::FtpSucceeded);
    EXPECT_EQ(h.view.log.mid(h.view.log.size() - 3),
              (QStringList{QStringLiteral("Unsing FTP upgrade mode to : 127.0.0.1"),
                           QStringLiteral("Unsing FTP upgrade to : 127.0.0.1 success"),
                           QStringLiteral("FTP upgrade section :A")}));
    ASSERT_EQ(h.view.boxes.size(), 1);
    EXPECT_EQ(h.view.boxes[0].text, QStringLiteral("FTP upgrade complete"));
    EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Success"));
    EXPECT_TRUE(h.view.upgradeEnabled());
    EXPECT_FALSE(h.view.timerActive);
    EXPECT_FALSE(h.view.closed); // the log is shown
    EXPECT_EQ(h.form->exitStatus, ExitStatus::Ok);

    // With the log hidden and the package's own file, the program ends after the job.
    ControllerHarness e;
    e.controller().setTransferServices(TransferServices{&ftp, nullptr, nullptr});
    e.addFile("fw.bin", QByteArray(10, 'f'), AttrHandPicked);
    e.chooseRouter(DeviceType::EchoOnly, "pw");
    e.form->LogShown = false;
    e.form->SectionCheck = true;
    e.form->sectionList = QStringLiteral("AB");
    e.form->UpgradeClick();
    ASSERT_EQ(e.view.boxes.size(), 1);
    EXPECT_EQ(e.view.boxes[0].text,
              QStringLiteral("Upgrade Not complete, please run this program again !"));
    EXPECT_EQ(e.view.boxes[0].caption, QStringLiteral("Upgrade Warning"));
    EXPECT_TRUE(e.view.closed);
    EXPECT_EQ(e.form->exitStatus, ExitStatus::Failed);
}

TEST(ControllerBranches, FtpRefusalsEndWithoutFallBack) {
    for (int code : {-2, -4}) {
        SCOPED_TRACE(code);
        FakeFtp ftp;
        ftp.answer = code;
        ftp.text = QStringLiteral("530 Login incorrect.");
        ControllerHarness h;
        h.controller().setTransferServices(TransferServices{&ftp, nullptr, nullptr});
        h.addFile("fw.bin", QByteArray(10, 'f'), AttrHandPicked);
        h.chooseRouter(DeviceType::EchoOnly, "pw");
        h.form->LogShown = false; // an "end" skips the after-loop exit
        h.form->UpgradeClick();
        ASSERT_EQ(h.view.boxes.size(), 1);
        EXPECT_EQ(h.view.boxes[0].text, QStringLiteral("530 Login incorrect."));
        EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Authentication Failed"));
        EXPECT_EQ(h.form->UpgradePhase.load(), Phase::FtpFailed);
        EXPECT_FALSE(h.logHas(QStringLiteral("Unsing FTP upgrade mode fail : 127.0.0.1")));
        EXPECT_FALSE(h.view.closed);
        EXPECT_FALSE(h.view.timerActive);
        EXPECT_EQ(h.form->exitStatus, ExitStatus::Failed);
    }
}

TEST(ControllerBranches, TftpForACrashedRouterWhateverTheOrder) {
    FakeTftp tftp;
    ControllerHarness h;
    h.controller().setTransferServices(TransferServices{nullptr, &tftp, nullptr});
    h.addFile("fw.bin", QByteArray(10, 'f'), AttrHandPicked);
    h.chooseRouter(DeviceType::Crash, QString());
    h.form->OrderFromSettings = true;
    h.form->settings.setByte(SettingsRecord::MethodOrder, 1);
    h.form->UpgradeClick();
    EXPECT_EQ(tftp.calls, 1);
    EXPECT_EQ(h.controller().TftpFileOpen, 1);
    EXPECT_EQ(h.form->UpgradePhase.load(), Phase::TftpRunning);
    EXPECT_EQ(h.view.log.last(), QStringLiteral("Unsing TFTP upgrade mode to : 127.0.0.1"));
    EXPECT_TRUE(h.view.timerActive);
    EXPECT_TRUE(h.controller().busy());

    // MethodOrder 3 turns a normal router to TFTP.
    FakeTftp tftp2;
    ControllerHarness n;
    n.controller().setTransferServices(TransferServices{nullptr, &tftp2, nullptr});
    n.addFile("fw.bin", QByteArray(10, 'f'), AttrHandPicked);
    n.chooseRouter(DeviceType::Normal, "pw");
    n.form->OrderFromSettings = true;
    n.form->settings.setByte(SettingsRecord::MethodOrder, 3);
    n.form->UpgradeClick();
    EXPECT_EQ(tftp2.calls, 1);
    EXPECT_EQ(n.form->UpgradeMethod, Method::Tftp);
}

TEST(ControllerBranches, MissingTftpEngineCannotReportSuccess) {
    ControllerHarness h;
    h.addFile("fw.bin", QByteArray(10, 'f'), AttrHandPicked);
    h.chooseRouter(DeviceType::Crash, QString());
    h.form->UpgradeClick();
    EXPECT_EQ(h.view.log.mid(h.view.log.size() - 2),
              (QStringList{QStringLiteral("Unsing TFTP upgrade mode to : 127.0.0.1"),
                           QStringLiteral("TFTP upgrade is not available in this build")}));
    EXPECT_EQ(h.form->UpgradePhase.load(), Phase::TftpFailed);
    EXPECT_EQ(h.form->stopCounter.load(), StopCode::TftpRejected);
    ASSERT_TRUE(h.view.tick());
    EXPECT_EQ(h.view.boxes.last().text,
              QStringLiteral("Incorrect upgrade file. Please check again!"));
    EXPECT_EQ(h.form->exitStatus, ExitStatus::Failed);
    EXPECT_FALSE(h.controller().busy());
}

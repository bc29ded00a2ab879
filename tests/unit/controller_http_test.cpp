// The upgrade controller's checks before a transfer and its HTTP branch against the simulated
// web server on loopback: every login code's reaction, Basic authentication, the worker's
// result, the section check and the method order.

#include "WebServer.h"
#include "controller_harness.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using namespace fw;
using namespace fw::test;
using routersim::WebServer;
using routersim::WebServerConfig;

namespace {

const QString kRouter = QStringLiteral("127.0.0.1");
const QByteArray kFirmware = QByteArray("FIRMWARE-IMAGE-") + QByteArray(3000, 'x') + "-END";

QByteArray partHeader() {
    return "-----------------123456789\r\n"
           "Content-Disposition: from-data; name=\"FN\"; filename=\"upgrade.bin\" \r\n"
           "Content-Type: application/octet-stream \r\n"
           "\r\n";
}
const QByteArray kEndMarker = "\r\n----\r\n";

QByteArray uploadRequest(const QByteArray& files) {
    const QByteArray body = partHeader() + files + kEndMarker;
    return "POST /upg HTTP/1.0\r\n"
           "User-Agent: Quarnel_Agent\r\n"
           "Connection: Keep-Alive\r\n"
           "Content-Type: multipart/form-data: boundary=-----------------123456789\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

class ControllerHttp : public ::testing::Test {
protected:
    std::unique_ptr<WebServer> server;
    std::unique_ptr<ControllerHarness> h;

    void serve(const QString& options) {
        controllerTestApp();
        QString error;
        auto cfg = WebServerConfig::parse(options, &error);
        ASSERT_TRUE(cfg) << error.toStdString();
        server = std::make_unique<WebServer>(*cfg);
        ASSERT_TRUE(server->start(kRouter, 0, &error)) << error.toStdString();
        h = std::make_unique<ControllerHarness>(server->port());
    }
    void TearDown() override {
        if (server)
            server->stop(); // a worker still waiting for the router ends now
        h.reset();
        server.reset();
    }
    QList<QByteArray> targets() const {
        QList<QByteArray> out;
        for (const auto& r : server->requests())
            out << r.bytes.left(r.bytes.indexOf("\r\n"));
        return out;
    }
    // Runs an upgrade through the worker to its end and the timer tick that reports it.
    void runToEnd() {
        ASSERT_TRUE(h->waitCounter(StopCode::HttpDone));
        ASSERT_TRUE(h->view.tick());
    }
};

} // namespace

// --- before any transfer

TEST_F(ControllerHttp, RouterNotInTheListIsRefused) {
    serve({});
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->view.setIpText(QStringLiteral("10.1.2.3 typed"));
    h->view.setUpgradeEnabled(true);
    h->form->UpgradeClick();
    EXPECT_EQ(h->view.log.last(), QStringLiteral("Read Select Router Infomation Error"));
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text,
              QStringLiteral("Please press \"ENTER\" to check router information in select box"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Router information not found"));
    EXPECT_FALSE(h->view.upgradeEnabled());
    EXPECT_TRUE(h->echoed.isEmpty());
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
    EXPECT_EQ(server->requestCount(), 0);
}

TEST_F(ControllerHttp, SilentRouterIsRefusedAfterOneEcho) {
    serve({});
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->echoAnswer = false;
    h->form->UpgradeClick();
    EXPECT_EQ(h->echoed, QStringList{kRouter});
    EXPECT_EQ(h->view.log.last(), QStringLiteral("Unconnect to router : 127.0.0.1"));
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text, QStringLiteral("Unconnect to router"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Router connection failure"));
    EXPECT_FALSE(h->view.upgradeEnabled());
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
    EXPECT_EQ(server->requestCount(), 0);
}

TEST_F(ControllerHttp, EmptyFileListAndMissingMethodAndUnchosenFile) {
    serve({});
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->UpgradeClick();
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text, QStringLiteral("Please select the upgrade file"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("upgrade file not found"));
    EXPECT_EQ(h->view.progressMaximum, 0);

    // An unreachable router type leaves no method.
    h->view.boxes.clear();
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->form->UpgradeMethod = Method::None;
    h->form->UpgradeClick();
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text, QStringLiteral("Could not detect upgrade method !"));
    EXPECT_TRUE(h->view.boxes[0].caption.isNull());
    EXPECT_EQ(h->view.log.last(), QStringLiteral("Could not detect upgrade method to 127.0.0.1"));
    EXPECT_FALSE(h->view.timerActive);

    // Files needed but none chosen: nothing is sent and the watchdog does not run on.
    h->view.boxes.clear();
    h->form->HaveUpgradeFile = 0;
    h->view.updateFileName.clear();
    h->form->UpgradeMethod = Method::Http;
    h->form->UpgradeClick();
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text,
              QStringLiteral("Upgrade file Not select, please select a upgrade file !"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Upgrade Warning"));
    EXPECT_FALSE(h->view.timerActive);
    EXPECT_FALSE(h->controller().busy());
    EXPECT_EQ(targets().size(), 2); // login and index only
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
}

// --- the login check's codes

struct LoginCase {
    const char* name;
    const char* options;
    const char* password;
    const char* box;     // the controller's box
    const char* caption; // null: none of its own
    const char* status;  // null: unchanged
};

TEST_F(ControllerHttp, EveryLoginCodeHasItsReaction) {
    const LoginCase cases[] = {
        {"no CGI", "login404=2", "admin", "No CGI found", nullptr, nullptr},
        {"bad request", "index=400", "admin", "Bad request", nullptr, nullptr},
        {"port command", "index=301", "admin", "Port command error", nullptr, nullptr},
        {"bad reply", "cas=1234", "admin", "Receive response error 4", nullptr, nullptr},
        {"wrong password", "password=right", "wrong",
         "Incorrect password. Please check and input again!", "Authentication Failed",
         "Your input password is incorrect, please check again."},
    };
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        serve(QString::fromLatin1(c.options));
        h->addFile("fw.bin", kFirmware, AttrHandPicked);
        h->chooseRouter(DeviceType::Normal, QString::fromLatin1(c.password));
        const qsizetype statusesBefore = h->view.statuses.size();
        h->form->UpgradeClick();
        ASSERT_FALSE(h->view.boxes.isEmpty());
        EXPECT_EQ(h->view.boxes.last().text, QString::fromLatin1(c.box));
        EXPECT_EQ(h->view.boxes.last().caption.isNull(), c.caption == nullptr);
        if (c.caption) {
            EXPECT_EQ(h->view.boxes.last().caption, QString::fromLatin1(c.caption));
        }
        if (c.status) {
            EXPECT_EQ(h->view.status(), QString::fromLatin1(c.status));
        } else {
            EXPECT_EQ(h->view.statuses.size(), statusesBefore);
        }
        EXPECT_EQ(h->form->UpgradePhase.load(), Phase::HttpFailed);
        EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
        EXPECT_FALSE(h->view.timerActive);
        EXPECT_FALSE(h->controller().busy());
        EXPECT_FALSE(h->logHas(QStringLiteral("Clear stopCounter to 0")));
        for (const QByteArray& t : targets())
            EXPECT_FALSE(t.startsWith("POST"));
    }
}

TEST_F(ControllerHttp, UnsentLoginRequestSaysSo) {
    serve({});
    const quint16 closedPort = server->port();
    server->stop();
    h.reset();
    h = std::make_unique<ControllerHarness>(closedPort);
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->UpgradeClick();
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text, QStringLiteral("Send request error"));
    EXPECT_TRUE(h->view.boxes[0].caption.isNull());
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
}

TEST_F(ControllerHttp, BasicAuthenticationAcceptedGoesOnToTheUpload) {
    serve(QStringLiteral("basicuser=boss,basicpass=pw"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "pw");
    h->view.userId = QStringLiteral("boss");
    h->form->UpgradeClick();
    EXPECT_TRUE(h->controller().BasicAuthNeeded);
    EXPECT_EQ(h->form->UserId, QStringLiteral("boss"));
    EXPECT_TRUE(h->logHas(QStringLiteral("Peer ask for win-authentication")));
    EXPECT_TRUE(h->logHas(QStringLiteral("Clear stopCounter to 0")));
    EXPECT_EQ(h->controller().LoginPort, server->port());
    runToEnd();
    EXPECT_EQ(targets(),
              (QList<QByteArray>{"GET /cgi-bin/logi?rc=@&PSW=pw&rd=menu HTTP/1.1", "GET / HTTP/1.1",
                                 "GET / HTTP/1.1", "POST /upg HTTP/1.0"}));
    EXPECT_TRUE(h->hasBox(QStringLiteral("Upgrade Successfully"), QStringLiteral("Success")));
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Ok);
}

TEST_F(ControllerHttp, BasicAuthenticationRefusedShowsTheUserNameField) {
    serve(QStringLiteral("basicuser=boss,basicpass=pw"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "pw");
    h->view.userId = QStringLiteral("admin-with-a-very-long-name");
    h->form->UpgradeClick();
    EXPECT_EQ(h->form->UserId, QStringLiteral("admin-with-a-very-l")); // 19 characters
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text,
              QStringLiteral("Incorrect UserName or Password. Please check and input again!"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Authentication Failed"));
    EXPECT_EQ(h->view.status(),
              QStringLiteral("username or password is incorrect, please check again."));
    EXPECT_EQ(h->view.label2Left, 160);
    EXPECT_EQ(h->view.passwordLeft, 215);
    EXPECT_EQ(h->view.passwordWidth, 110);
    EXPECT_TRUE(h->view.userIdShown);
    EXPECT_EQ(h->form->UpgradePhase.load(), Phase::HttpFailed);
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
    EXPECT_EQ(targets().size(), 3);

    // A new router choice hides the field again.
    h->form->IPComBoxChange();
    EXPECT_FALSE(h->view.userIdShown);
    EXPECT_EQ(h->view.passwordLeft, 70);
}

// --- the worker

TEST_F(ControllerHttp, InteractiveUploadSendsTheExactRequestAndReportsSuccess) {
    serve({});
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->UpgradeClick();
    EXPECT_EQ(h->form->UpgradePhase.load(), Phase::HttpRunning);
    EXPECT_TRUE(h->controller().busy());
    EXPECT_FALSE(h->view.upgradeEnabled());
    EXPECT_TRUE(h->view.timerActive);
    const qsizetype clear = h->logIndex(QStringLiteral("Clear stopCounter to 0"));
    ASSERT_GE(clear, 0);
    EXPECT_EQ(h->view.log.value(clear + 1),
              QStringLiteral("Unsing HTTP upgrade mode to : 127.0.0.1"));

    runToEnd();
    EXPECT_FALSE(h->controller().busy());
    EXPECT_FALSE(h->view.timerActive);
    EXPECT_EQ(h->form->UpgradePhase.load(), Phase::HttpAccepted);
    ASSERT_EQ(server->requestCount(), 3);
    EXPECT_EQ(server->requests()[2].bytes, uploadRequest(kFirmware));
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text, QStringLiteral("Upgrade Successfully"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Success"));
    EXPECT_EQ(h->view.status(), QStringLiteral("Upgrade Successfully"));
    EXPECT_TRUE(h->view.upgradeEnabled());
    EXPECT_EQ(h->view.log.last(), QStringLiteral("HTTP upgrade section :"));
    EXPECT_FALSE(h->view.closed); // a person is present
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Ok);
}

TEST_F(ControllerHttp, UnattendedUploadShowsNoBoxAndEndsTheProgram) {
    serve({});
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->Interactive = false;
    h->form->UpgradeClick();
    runToEnd();
    EXPECT_TRUE(h->view.boxes.isEmpty());
    EXPECT_TRUE(h->view.closed);
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Ok);

    // A factory release shows no success box either.
    TearDown();
    serve({});
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->FactoryRelease = true;
    h->view.password = QStringLiteral("admin");
    h->form->UpgradeClick();
    runToEnd();
    EXPECT_TRUE(h->view.boxes.isEmpty());
    EXPECT_FALSE(h->view.closed);
}

TEST_F(ControllerHttp, RejectedUploadPausesTheWatchdogWhileItsBoxIsOpen) {
    serve(QStringLiteral("upg=cas:8002"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->StopLimit = 2;
    h->form->UpgradeClick();
    // Nothing is delivered, so the worker waits in its result box with the counter at 123.
    ASSERT_TRUE(
        h->waitUnpumped([&] { return h->form->stopCounter.load() == StopCode::HttpFailed; }));
    const qsizetype lines = h->view.log.size();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(h->view.tick());
    EXPECT_EQ(h->form->stopCounter.load(), StopCode::HttpFailed);
    EXPECT_EQ(h->view.log.size(), lines);
    EXPECT_EQ(h->view.terminateCount, 0);
    EXPECT_TRUE(h->controller().busy());

    runToEnd();
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text, QStringLiteral("Unallowable upgrade file"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Failure"));
    EXPECT_EQ(h->view.status(), QStringLiteral("Unallowable upgrade file"));
    EXPECT_EQ(h->form->UpgradePhase.load(), Phase::HttpFailed);
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
    EXPECT_FALSE(h->view.upgradeEnabled());
}

TEST_F(ControllerHttp, SectionsSentAreComparedWithThePackage) {
    serve({});
    // Section 1 (A) only, while the package lists A and B.
    h->addFile("fw.bin", kFirmware, quint16(AttrHandPicked | 0x0010));
    h->form->SectionCheck = true;
    h->form->sectionList = QStringLiteral("AB");
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->UpgradeClick();
    runToEnd();
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text,
              QStringLiteral("Upgrade Not complete, please run this program again !"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Upgrade Warning"));
    EXPECT_EQ(h->form->UpgradeSection, QStringLiteral("A"));
    EXPECT_EQ(h->view.log.last(), QStringLiteral("HTTP upgrade section :A"));
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);

    // The same sections as the package: the success box.
    TearDown();
    serve({});
    h->addFile("fw.bin", kFirmware, quint16(AttrHandPicked | 0x0010));
    h->form->SectionCheck = true;
    h->form->sectionList = QStringLiteral("A");
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->UpgradeClick();
    runToEnd();
    EXPECT_TRUE(h->hasBox(QStringLiteral("Upgrade Successfully"), QStringLiteral("Success")));
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Ok);
}

TEST_F(ControllerHttp, ConfirmedCloseStopsTheUploadBeforeTheEnd) {
    serve(QStringLiteral("upg=silent"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->UpgradeClick();
    ASSERT_TRUE(server->waitForRequests(3, kWaitBound));
    ASSERT_TRUE(h->pumpUntil(
        [&] { return !h->view.log.filter(QStringLiteral("Send Bin File Length : ")).isEmpty(); }));

    // Declined: the upload goes on untouched.
    h->view.boxAnswers = {BoxAnswer::Cancel};
    EXPECT_FALSE(h->form->FormCloseQuery());
    EXPECT_TRUE(h->form->controller().workerRunning());
    EXPECT_EQ(h->view.releaseCount, 0);

    // Confirmed: the worker has ended before the window (and the files) went.
    h->view.boxAnswers = {BoxAnswer::Ok};
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(h->form->FormCloseQuery());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(h->form->controller().workerRunning());
    EXPECT_EQ(h->view.releaseCount, 1);
    EXPECT_EQ(h->view.terminateCount, 1);
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
    ASSERT_EQ(h->view.boxes.size(), 2); // the two questions, nothing after
    EXPECT_TRUE(h->view.log.contains(
        QStringLiteral("Upgrade stopped by the user before the transfer ended")));
    EXPECT_TRUE(h->view.log.last().startsWith(
        QStringLiteral("After the end of the upgrade, not shown : Failure : ")));
}

TEST_F(ControllerHttp, StalledUploadEndsThroughTheWatchdog) {
    serve(QStringLiteral("upg=silent"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->StopLimit = 4;
    h->form->UpgradeClick();
    ASSERT_TRUE(server->waitForRequests(3, kWaitBound));
    // The engine's last reset of the counter comes right before this line.
    ASSERT_TRUE(h->pumpUntil(
        [&] { return !h->view.log.filter(QStringLiteral("Send Bin File Length : ")).isEmpty(); }));
    ASSERT_EQ(h->form->stopCounter.load(), 0);
    const qsizetype from = h->view.log.size();
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(h->view.tick());
    EXPECT_EQ(h->view.logFrom(from).mid(0, 3),
              (QStringList{QStringLiteral("StopCounter : 1"), QStringLiteral("StopCounter : 2"),
                           QStringLiteral("StopCounter : 3")}));
    // The upload was stopped before the files went, and its late result is only logged.
    EXPECT_EQ(h->view.log.last(), QStringLiteral("After the end of the upgrade, not shown : "
                                                 "Failure : receive response error in upgrade 9"));
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(
        h->view.boxes[0].text,
        QStringLiteral("Upgrade Abnormal Terminate and Please ReRun the program to ReUpgrade"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("HTTP Upgrade Failure"));
    EXPECT_EQ(h->view.terminateCount, 1);
    EXPECT_EQ(h->view.releaseCount, 1);
    EXPECT_FALSE(h->view.timerActive);
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
    EXPECT_FALSE(h->form->controller().workerRunning());
}

// --- the method order

TEST_F(ControllerHttp, OldFirmwareGoesToFtpAndFallsBackToHttp) {
    serve(QStringLiteral("firmware=old"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->UpgradeClick();
    const QStringList expected{
        QStringLiteral("Old version detect"),
        QStringLiteral("Unsing FTP upgrade mode to : 127.0.0.1"),
        QStringLiteral("Unsing FTP upgrade mode fail : 127.0.0.1"),
        QStringLiteral("FTP upgrade is not available in this build"),
        QStringLiteral("FTP Mode upgrade fail last time..."),
        QStringLiteral("Unsing HTTP upgrade mode to : 127.0.0.1"),
    };
    qsizetype at = -1;
    for (const QString& line : expected) {
        const qsizetype i = h->view.log.indexOf(line, at + 1);
        ASSERT_GT(i, at) << line.toStdString();
        at = i;
    }
    EXPECT_EQ(h->form->UpgradeMethod, Method::Http);
    runToEnd();
    EXPECT_EQ(server->requests().last().bytes, uploadRequest(kFirmware));
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Ok);
}

TEST_F(ControllerHttp, MethodOrderHttpOverridesTheOldFirmwareSwitch) {
    serve(QStringLiteral("firmware=old"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "admin");
    h->form->OrderFromSettings = true;
    h->form->settings.setByte(SettingsRecord::MethodOrder, 1);
    h->form->UpgradeClick();
    EXPECT_TRUE(h->logHas(QStringLiteral("Old version detect")));
    EXPECT_FALSE(h->logHas(QStringLiteral("Unsing FTP upgrade mode to : 127.0.0.1")));
    EXPECT_TRUE(h->logHas(QStringLiteral("Unsing HTTP upgrade mode to : 127.0.0.1")));
    EXPECT_EQ(h->form->UpgradeMethod, Method::Http);
    runToEnd();
    EXPECT_EQ(targets().size(), 3);
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Ok);
}

TEST_F(ControllerHttp, OldFirmwareWithAWrongPasswordIsRefusedOverHttp) {
    serve(QStringLiteral("firmware=old,password=right"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::Normal, "wrong");
    h->form->UpgradeClick();
    EXPECT_TRUE(h->logHas(QStringLiteral("Login password error in Old version")));
    EXPECT_TRUE(h->logHas(QStringLiteral("Unsing FTP upgrade mode fail : 127.0.0.1")));
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text,
              QStringLiteral("Incorrect password. Please check and input again!"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Authentication Failed"));
    EXPECT_EQ(h->form->UpgradePhase.load(), Phase::HttpFailed);
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
    for (const QByteArray& t : targets())
        EXPECT_FALSE(t.startsWith("POST"));
}

TEST_F(ControllerHttp, UnknownDeviceStartsWithFtpThenHttp) {
    serve({});
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::EchoOnly, "admin");
    EXPECT_EQ(h->form->UpgradeMethod, Method::Ftp);
    h->form->UpgradeClick();
    EXPECT_EQ(h->view.log.indexOf(QStringLiteral("Unsing FTP upgrade mode to : 127.0.0.1")),
              h->logIndex(QStringLiteral("Unsing FTP upgrade mode fail : 127.0.0.1")) - 1);
    EXPECT_EQ(h->form->UpgradeMethod, Method::HttpAfterFtp); // new firmware keeps it
    runToEnd();
    EXPECT_EQ(server->requests().last().bytes, uploadRequest(kFirmware));
}

TEST_F(ControllerHttp, RefusedPasswordAfterTheFtpFallBackUploadsNothing) {
    serve(QStringLiteral("password=right"));
    h->addFile("fw.bin", kFirmware, AttrHandPicked);
    h->chooseRouter(DeviceType::EchoOnly, "wrong");
    h->form->UpgradeClick();
    EXPECT_EQ(h->form->UpgradeMethod, Method::HttpAfterFtp);
    ASSERT_EQ(h->view.boxes.size(), 1);
    EXPECT_EQ(h->view.boxes[0].text,
              QStringLiteral("Incorrect password. Please check and input again!"));
    EXPECT_EQ(h->view.boxes[0].caption, QStringLiteral("Authentication Failed"));
    EXPECT_EQ(targets().size(), 2); // no Basic authentication attempt, no upload
    EXPECT_EQ(h->form->exitStatus, ExitStatus::Failed);
    EXPECT_FALSE(h->controller().busy());
}

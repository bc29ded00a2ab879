// The upgrade controller's FTP branch driven with the real FTP engine against the in-process
// FTP server: success with its section report, a refused password as a final failure, and
// another failure falling back to HTTP.

#include "controller_harness.h"
#include "ftp/FtpUpgradeEngine.h"
#include "ftp_test_support.h"

using namespace fw;
using namespace fw::test;
using routersim::FtpServer;

namespace {

class ControllerFtp : public ::testing::Test {
protected:
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<ControllerHarness> h;
    std::unique_ptr<FtpUpgradeEngine> engine;

    void serve(const QString& options) {
        controllerTestApp();
        server = startFtpServer(options);
        ASSERT_TRUE(server);
        h = std::make_unique<ControllerHarness>();
        engine = std::make_unique<FtpUpgradeEngine>(server->port());
        TransferServices services;
        services.ftp = engine.get();
        h->controller().setTransferServices(services);
    }
    void TearDown() override {
        h.reset();
        engine.reset();
        server.reset();
    }
};

} // namespace

TEST_F(ControllerFtp, StoredFilesAreReportedWithTheirSections) {
    serve({});
    const QByteArray firmware = patternBytes(40000, 5);
    h->addFile(QStringLiteral("fw.bin.tmp"), firmware, 0x0815);
    h->chooseRouter(DeviceType::EchoOnly, QStringLiteral("admin"));
    ASSERT_EQ(h->form->UpgradeMethod, Method::Ftp);
    h->form->UpgradeClick();
    EXPECT_TRUE(h->logHas(QStringLiteral("Unsing FTP upgrade mode to : 127.0.0.1")));
    EXPECT_TRUE(h->logHas(QStringLiteral("Unsing FTP upgrade to : 127.0.0.1 success")));
    EXPECT_TRUE(h->logHas(QStringLiteral("FTP upgrade section :A")));
    EXPECT_EQ(h->form->UpgradePhase.load(), Phase::FtpSucceeded);
    EXPECT_TRUE(h->hasBox(QStringLiteral("Upgrade Successfully !"), QStringLiteral("Success")));
    ASSERT_EQ(server->storedFiles().size(), 1);
    EXPECT_EQ(server->storedFiles()[0].name, "fw.bin");
    EXPECT_TRUE(server->storedFiles()[0].bytes == firmware);
}

TEST_F(ControllerFtp, RefusedPasswordIsFinal) {
    serve(QStringLiteral("password=right"));
    h->addFile(QStringLiteral("fw.bin.tmp"), "firmware", 0x0815);
    h->chooseRouter(DeviceType::EchoOnly, QStringLiteral("wrong"));
    h->form->UpgradeClick();
    EXPECT_EQ(h->form->UpgradePhase.load(), Phase::FtpFailed);
    EXPECT_TRUE(h->hasBox(QStringLiteral("Incorrect password. Please check and input again!"),
                          QStringLiteral("Authentication Failed")));
    EXPECT_FALSE(h->logHas(QStringLiteral("Unsing FTP upgrade mode fail : 127.0.0.1")));
    EXPECT_TRUE(server->storedFiles().isEmpty());
}

TEST_F(ControllerFtp, OtherFailureFallsBackToHttp) {
    serve(QStringLiteral("storreply=429"));
    h->addFile(QStringLiteral("fw.bin.tmp"), "firmware", 0x0815);
    h->chooseRouter(DeviceType::EchoOnly, QStringLiteral("admin"));
    h->form->UpgradeClick();
    const qsizetype fail = h->logIndex(QStringLiteral("Unsing FTP upgrade mode fail : 127.0.0.1"));
    ASSERT_GE(fail, 0);
    EXPECT_EQ(h->view.log.value(fail + 1),
              QStringLiteral("Incorrect upgrade file. Please check again!"));
    EXPECT_EQ(h->form->UpgradeMethod, Method::HttpAfterFtp);
}

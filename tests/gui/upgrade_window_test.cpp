// An interactive HTTP upgrade through the offscreen main window, as a person does it: choose the
// router in the list, type the password, press Upgrade, read the "Success" box. The router's web
// server runs in the process on 127.0.0.1 (an ephemeral port).

#include "TUpgradeForm1.h"
#include "WebServer.h"
#include "package/FileAttributes.h"
#include "search/DeviceSearch.h"
#include "upgrade/UpgradeController.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace fw;
using routersim::WebServer;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "upgrade_window_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QApplication(argc, argv);
    return *a;
}

struct SeenBox {
    QString caption, text;
};

// Answers every modal message box with its first button, keeping what it said.
class BoxAnswerer {
public:
    BoxAnswerer() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen.append(SeenBox{box->windowTitle(), box->text()});
            const QList<QAbstractButton*> buttons = box->buttons();
            if (QAbstractButton* b = box->defaultButton() ? box->defaultButton() : buttons.value(0))
                b->click();
        });
        timer_.start();
    }
    QList<SeenBox> seen;

private:
    QTimer timer_;
};

bool pumpUntil(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

} // namespace

TEST(UpgradeWindow, ChooseTypePressUpgradeSeeSuccess) {
    app();
    WebServer server(*routersim::WebServerConfig::parse(QStringLiteral("password=secret")));
    QString error;
    ASSERT_TRUE(server.start(QStringLiteral("127.0.0.1"), 0, &error)) << error.toStdString();

    QTemporaryDir temp;
    const QString image = temp.filePath(QStringLiteral("router.bin"));
    const QByteArray firmware = QByteArray("IMAGE") + QByteArray(20000, '\x5a');
    {
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(firmware);
    }

    DeviceSearch search;
    search.setEchoFunction([](const QString& a) { return a == QStringLiteral("127.0.0.1"); });
    UpgradeFormConfig config;
    config.tempBase = temp.path();
    config.webPort = server.port();
    config.probe = [](const QString&) {};
    TUpgradeForm1 w(search, config, HeadlessPolicy::interactive());
    w.setStartOnActivate(false);
    UpgradeForm& form = w.form();
    // Start-up over an executable without a package; the file is then given by hand.
    const QString exe = temp.filePath(QStringLiteral("plain.exe"));
    {
        QFile f(exe);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("MZ");
    }
    form.FormCreate({}, exe);
    form.extractionCopy.append(image, AttrHandPicked, 1);
    form.HaveUpgradeFile = 1;
    form.Interactive = true;
    form.SetLayout(3);
    w.show();

    // The search found the router.
    search.devices().append(DeviceRecord{DeviceType::Normal, QStringLiteral("127.0.0.1"),
                                         QStringLiteral("ABC123"), QStringLiteral("Router")});
    form.FillDeviceList();

    auto* combo = w.findChild<QComboBox*>(QStringLiteral("IPComBox"));
    auto* password = w.findChild<QLineEdit*>(QStringLiteral("PasswordComBox"));
    auto* upgrade = w.findChild<QPushButton*>(QStringLiteral("Upgrade"));
    auto* memo = w.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
    auto* status = w.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
    ASSERT_TRUE(combo && password && upgrade && memo && status);
    ASSERT_GE(combo->count(), 1);

    // Choose the router as the list does, then type the password.
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    EXPECT_TRUE(password->isEnabled());
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Please input the password"));
    QTest::keyClicks(password, QStringLiteral("secret"));
    ASSERT_TRUE(upgrade->isEnabled());

    BoxAnswerer answerer;
    QTest::mouseClick(upgrade, Qt::LeftButton);

    // The worker's box, then the StopTimer tick that reports the sections.
    ASSERT_TRUE(pumpUntil([&] { return !answerer.seen.isEmpty(); }, 15000));
    EXPECT_EQ(answerer.seen[0].caption, QStringLiteral("Success"));
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("Upgrade Successfully"));
    ASSERT_TRUE(pumpUntil(
        [&] { return memo->toPlainText().contains(QStringLiteral("HTTP upgrade section :")); },
        5000));

    EXPECT_EQ(answerer.seen.size(), 1);
    EXPECT_TRUE(upgrade->isEnabled());
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Upgrade Successfully"));
    EXPECT_TRUE(
        memo->toPlainText().contains(QStringLiteral("Unsing HTTP upgrade mode to : 127.0.0.1")));
    EXPECT_EQ(form.UpgradePhase.load(), Phase::HttpAccepted);
    EXPECT_EQ(form.exitStatus, ExitStatus::Ok);
    EXPECT_FALSE(form.controller().busy());
    EXPECT_TRUE(w.isVisible()); // a person is present: the window stays

    // The router got the login, the index and exactly the file between part header and marker.
    ASSERT_EQ(server.requestCount(), 3);
    EXPECT_TRUE(server.requests()[0].bytes.startsWith(
        "GET /cgi-bin/logi?rc=@&PSW=secret&rd=menu HTTP/1.1\r\n"));
    const QByteArray body = server.lastUploadBody();
    EXPECT_TRUE(body.endsWith(firmware + "\r\n----\r\n"));
    EXPECT_EQ(body.size(), firmware.size() + 147);
    server.stop();
}

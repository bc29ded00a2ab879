// An interactive HTTP upgrade through the offscreen main window, as a person does it: choose the
// router in the list, type the password, press Upgrade, read the "Success" box. The router's web
// server runs in the process on 127.0.0.1 (an ephemeral port).

#include "SystemLogView.h"
#include "MainWindow.h"
#include "WebServer.h"
#include "search/DeviceSearch.h"
#include "support/EventPump.h"
#include "transfer/FileAttributes.h"
#include "upgrade/UpgradeController.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

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
    return fw::test::pumpUntil(done, std::chrono::milliseconds(ms), std::chrono::milliseconds(5));
}

} // namespace

// The main window over an executable without a package, the image given by hand, and the
// router found by the search at 127.0.0.1 with its web server in this process.
class UpgradeWindow : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        server = std::make_unique<WebServer>(
            *routersim::WebServerConfig::parse(QStringLiteral("password=secret")));
        QString error;
        ASSERT_TRUE(server->start(QStringLiteral("127.0.0.1"), 0, &error)) << error.toStdString();
        search.setEchoFunction([](const QString& a) { return a == QStringLiteral("127.0.0.1"); });
        config.tempBase = temp.path();
        config.webPort = server->port();
        config.probe = [](const QString&) {};
    }
    void TearDown() override {
        if (server)
            server->stop();
    }

    void writeImage(const QByteArray& bytes) {
        firmware = bytes;
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(firmware), firmware.size());
    }

    // Starts the window and chooses the router as the list does; the password is still to type.
    void openWindow() {
        w = std::make_unique<MainWindow>(search, config, HeadlessPolicy::interactive());
        w->setStartOnActivate(false);
        MainWindowLogic& form = w->form();
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
        w->show();

        search.devices().append(DeviceRecord{DeviceType::Normal, QStringLiteral("127.0.0.1"),
                                             QStringLiteral("ABC123"), QStringLiteral("Router")});
        form.FillDeviceList();

        combo = w->findChild<QComboBox*>(QStringLiteral("IPComBox"));
        password = w->findChild<QLineEdit*>(QStringLiteral("PasswordComBox"));
        upgrade = w->findChild<QPushButton*>(QStringLiteral("Upgrade"));
        memo = w->findChild<SystemLogView*>(QStringLiteral("Memo1"));
        status = w->findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
        progress = w->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        ASSERT_TRUE(combo && password && upgrade && memo && status && progress);
        ASSERT_GE(combo->count(), 1);
        combo->setCurrentIndex(0);
        emit combo->activated(0);
    }

    QTemporaryDir temp;
    QString image = temp.filePath(QStringLiteral("router.bin"));
    QByteArray firmware;
    std::unique_ptr<WebServer> server;
    DeviceSearch search;
    MainWindowLogicConfig config;
    std::unique_ptr<MainWindow> w;
    QComboBox* combo = nullptr;
    QLineEdit* password = nullptr;
    QPushButton* upgrade = nullptr;
    SystemLogView* memo = nullptr;
    QStatusBar* status = nullptr;
    QProgressBar* progress = nullptr;
};

TEST_F(UpgradeWindow, ChooseTypePressUpgradeSeeSuccess) {
    writeImage(QByteArray("IMAGE") + QByteArray(20000, '\x5a'));
    ASSERT_NO_FATAL_FAILURE(openWindow());
    MainWindowLogic& form = w->form();
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
    EXPECT_TRUE(w->isVisible()); // a person is present: the window stays

    // The router got the login, the index and exactly the file between part header and marker.
    ASSERT_EQ(server->requestCount(), 3);
    EXPECT_TRUE(server->requests()[0].bytes.startsWith(
        "GET /cgi-bin/logi?rc=@&PSW=secret&rd=menu HTTP/1.1\r\n"));
    const QByteArray body = server->lastUploadBody();
    EXPECT_TRUE(body.endsWith(firmware + "\r\n----\r\n"));
    EXPECT_EQ(body.size(), firmware.size() + 147);
}

TEST_F(UpgradeWindow, WindowAnswersWhileALargeImageGoesOut) {
    // 32 MiB: long enough for many timer ticks, short enough for a sanitizer build.
    QByteArray big(32 << 20, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 13 + i / 4099) & 0xFF);
    writeImage(big);
    ASSERT_NO_FATAL_FAILURE(openWindow());
    QTest::keyClicks(password, QStringLiteral("secret"));

    // The GUI thread's event loop must keep turning: the gap between ticks of a 10 ms timer
    // stays short for the whole upload, and the bar moves while the bytes go out.
    QElapsedTimer clock;
    qint64 last = 0, longestGap = 0;
    int ticks = 0, barMoves = 0, lastBar = 0;
    QTimer heartbeat;
    heartbeat.setInterval(10);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
        ++ticks;
        if (progress->value() != lastBar) {
            lastBar = progress->value();
            ++barMoves;
        }
    });

    BoxAnswerer answerer;
    clock.start();
    heartbeat.start();
    QTest::mouseClick(upgrade, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return !answerer.seen.isEmpty(); }, 60000));
    heartbeat.stop();

    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("Upgrade Successfully"));
    EXPECT_EQ(server->lastUploadBodySize(), firmware.size() + 147);
    EXPECT_GT(ticks, 5);
    EXPECT_GE(barMoves, 2);
    // Were the upload on this thread, the longest gap would be about the whole upload.
    const qint64 duration = clock.elapsed();
    EXPECT_LT(longestGap, std::max<qint64>(250, duration / 4))
        << "the window stood still for " << longestGap << " ms of " << duration;
}

// The main window running a command-line get headless, offscreen: the read-back starts from the
// first StopTimer tick, an FTP read that keeps the event loop turning is not cut short by the
// headless idle end, and each way out ends the run with its exit status.

#include "MainWindow.h"
#include "WebServer.h"
#include "search/DeviceSearch.h"
#include "settings/SettingsRecord.h"
#include "upgrade/UpgradeController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace fw;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "readback_window_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QApplication(argc, argv);
    return *a;
}

constexpr qint64 kRunBoundMs = 15000;
constexpr int kFtpTurnsMs = 1600; // longer than the headless idle end takes

// An FTP read that takes its time with the event loop turning, as the FTP client does.
class SlowFtpRomRead : public FtpRomReadService {
public:
    int result = 1;
    QString text = QStringLiteral("Unknow exception with NO Connect ");
    bool windowGoneMeanwhile = false;
    MainWindow* window = nullptr;

    int FtpGetRom(const Sinks&, const QString&, const QString&, const QString&,
                  const QString& local) override {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < kFtpTurnsMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QTest::qSleep(5);
        }
        windowGoneMeanwhile = window && window->released();
        if (result == 1) {
            QFile f(local);
            if (f.open(QIODevice::WriteOnly))
                f.write("rom via ftp");
        } else {
            resultText_ = text;
        }
        return result;
    }
    QString resultText() const override { return resultText_; }

private:
    QString resultText_;
};

struct GetRun {
    QTemporaryDir temp;
    QString previousDir = QDir::currentPath();
    routersim::WebServer server;
    DeviceSearch search;
    QStringList out, err;
    SlowFtpRomRead ftp;
    std::unique_ptr<MainWindow> w;

    explicit GetRun(bool logShown) {
        app();
        EXPECT_TRUE(server.start(QStringLiteral("127.0.0.1"), 0));
        // The output name is relative to the private folder (the record holds 31 characters).
        QDir::setCurrent(temp.path());
        search.setEchoFunction([](const QString& a) { return a == QStringLiteral("127.0.0.1"); });
        MainWindowLogicConfig c;
        c.tempBase = temp.path();
        c.webPort = server.port();
        c.probe = [this](const QString& a) {
            search.devices().append(DeviceRecord{1, a, QStringLiteral("ABC123"), QString()});
        };
        w = std::make_unique<MainWindow>(
            search, c,
            HeadlessPolicy::capture([this](const QString& l) { out << l; },
                                    [this](const QString& l) { err << l; }));
        ftp.window = w.get();
        w->form().controller().setFtpRomRead(&ftp);
        const QString exe = temp.filePath(QStringLiteral("plain.exe"));
        QFile f(exe);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("MZ");
        f.close();
        w->form().FormCreate({QStringLiteral("get"), QStringLiteral("127.0.0.1"),
                              QStringLiteral("admin"), QStringLiteral("ABC123"),
                              QStringLiteral("0x100"), QStringLiteral("0x40"),
                              QStringLiteral("rom.bin")},
                             exe);
        if (logShown)
            w->form().settings.setByte(SettingsRecord::SettingFlags,
                                       SettingsRecord::InitialFlags | SettingsRecord::LogEnabled);
    }
    ~GetRun() {
        w.reset();
        QDir::setCurrent(previousDir);
    }
    // Shows the window and turns the event loop until the run has ended (bounded).
    bool runToEnd() {
        w->show();
        QElapsedTimer clock;
        clock.start();
        while (w->isVisible() && !w->released() && clock.elapsed() < kRunBoundMs)
            QTest::qWait(50);
        return !w->isVisible() || w->released();
    }
    QByteArray file() const {
        QFile f(temp.filePath(QStringLiteral("rom.bin")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

} // namespace

TEST(ReadBackWindow, FtpSuccessWithTheLogShownEndsHeadlessWithZero) {
    GetRun run(true);
    ASSERT_TRUE(run.runToEnd());
    EXPECT_FALSE(run.ftp.windowGoneMeanwhile);
    EXPECT_TRUE(run.w->released()); // ended by the idle end, not by the read-back
    EXPECT_EQ(run.w->form().exitStatus, ExitStatus::Ok);
    EXPECT_EQ(run.file(), QByteArray("rom via ftp"));
    ASSERT_FALSE(run.out.isEmpty());
    EXPECT_EQ(run.out.last(), QStringLiteral("Get ROM data success"));
    EXPECT_EQ(run.w->windowTitle(), QStringLiteral("Device ROM data download V1.1.0"));
    EXPECT_EQ(run.server.requestCount(), 0);
}

TEST(ReadBackWindow, FtpFailureWithTheLogShownEndsHeadlessWithOne) {
    GetRun run(true);
    run.ftp.result = -3;
    run.ftp.text = QStringLiteral("425");
    ASSERT_TRUE(run.runToEnd());
    EXPECT_FALSE(run.ftp.windowGoneMeanwhile);
    EXPECT_EQ(run.w->form().exitStatus, ExitStatus::Failed);
    ASSERT_FALSE(run.out.isEmpty());
    EXPECT_EQ(run.out.last(), QStringLiteral("425"));
}

TEST(ReadBackWindow, HttpReadClosesTheWindowWithZero) {
    GetRun run(false);
    run.ftp.result = -1;
    ASSERT_TRUE(run.runToEnd());
    EXPECT_FALSE(run.ftp.windowGoneMeanwhile);
    EXPECT_EQ(run.w->form().exitStatus, ExitStatus::Ok);
    QByteArray expected;
    for (int i = 0; i < 0x40; ++i)
        expected.append(char(0x100 + i));
    EXPECT_EQ(run.file(), expected);
    EXPECT_TRUE(run.out.contains(QStringLiteral("Unknow exception with NO Connect ")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("Get ROM file success in file : rom.bin")));
    for (const QString& e : run.err)
        EXPECT_FALSE(e.startsWith(QStringLiteral("box:"))) << e.toStdString();
}

// The ROM read-back from the first StopTimer tick: the offset and length texts, the FTP results
// that end it, the fall-back to HTTP against the simulated router's web server on 127.0.0.1,
// and how each way leaves the window and the exit status.

#include "WebServer.h"
#include "controller_harness.h"
#include "settings/SettingsRecord.h"
#include "upgrade/RomReadBackEngine.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <limits>
#include <stdexcept>

using namespace fw;
using namespace fw::test;
using routersim::WebServer;
using routersim::WebServerConfig;

namespace {

using Num = RomReadBackEngine::RomNumber;

const QString kRouter = QStringLiteral("127.0.0.1");

// Records what the read-back hands the FTP read and answers with a chosen result.
class FakeFtpRomRead : public FtpRomReadService {
public:
    int result = -1;
    QString text = QStringLiteral("FTP connect failure in get Rom File !");
    QByteArray data; // written to the local file on success
    std::function<void()> during;
    bool throwIt = false;

    int calls = 0;
    QString address, password, remoteName, localPath;

    int FtpGetRom(const Sinks& sinks, const QString& routerIp, const QString& pw,
                  const QString& remote, const QString& local) override {
        ++calls;
        address = routerIp;
        password = pw;
        remoteName = remote;
        localPath = local;
        sinks.setStatus(QStringLiteral("Connecting to device"));
        if (during)
            during();
        if (throwIt)
            throw std::runtime_error("socket gone while disconnecting");
        if (result == 1) {
            QFile f(local);
            if (f.open(QIODevice::WriteOnly))
                f.write(data);
        } else {
            resultText_ = text;
        }
        return result;
    }
    QString resultText() const override { return resultText_; }

private:
    QString resultText_;
};

QByteArray pattern(qint64 offset, qint64 length) {
    QByteArray b;
    for (qint64 i = 0; i < length; ++i)
        b.append(char((offset + i) & 0xFF));
    return b;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A get run: the router on 127.0.0.1 with its web server, the read-back texts in the settings
// record, the FTP read played by a fake.
struct ReadBackRun {
    WebServer server;
    std::unique_ptr<ControllerHarness> h;
    FakeFtpRomRead ftp;
    QString out;
    QString previousDir;

    explicit ReadBackRun(const QString& webOptions = QString(), bool serve = true) {
        if (!webOptions.isEmpty())
            server.setConfig(*WebServerConfig::parse(webOptions));
        quint16 port = 1;
        if (serve) {
            EXPECT_TRUE(server.start(kRouter, 0));
            port = server.port();
        }
        h = std::make_unique<ControllerHarness>(port);
        h->controller().setFtpRomRead(&ftp);
        out = h->temp.filePath(QStringLiteral("rom.bin"));
        // The record holds 31 characters of output name: a name relative to the private folder.
        previousDir = QDir::currentPath();
        QDir::setCurrent(h->temp.path());
        // As start-up leaves a get run: no log, password and address preset, timer running.
        h->form->LogShown = false;
        h->form->Interactive = false;
        h->form->HaveUpgradeFile = 1;
        h->view.setIpText(kRouter);
        h->view.password = QStringLiteral("admin");
        h->view.setUpgradeEnabled(true);
        setTexts(QStringLiteral("0x100"), QStringLiteral("0x40"));
        h->form->GetMode = true;
        h->view.startStopTimer();
    }
    ~ReadBackRun() {
        h.reset();
        QDir::setCurrent(previousDir);
    }
    void setTexts(const QString& offset, const QString& length) {
        SettingsRecord& s = h->form->settings;
        s.setGetText(SettingsRecord::GetOutputName, "rom.bin");
        s.setGetText(SettingsRecord::GetOffset, offset.toLatin1());
        s.setGetText(SettingsRecord::GetLength, length.toLatin1());
    }
    void showLog() {
        h->form->settings.setByte(SettingsRecord::SettingFlags,
                                  SettingsRecord::InitialFlags | SettingsRecord::LogEnabled);
    }
    void tick() { EXPECT_TRUE(h->view.tick()); }

    FakeMainView& view() { return h->view; }
    MainWindowLogic& form() { return *h->form; }
    QList<QByteArray> romRequests() const {
        QList<QByteArray> r;
        for (const auto& q : server.requests())
            if (q.bytes.startsWith("GET /config.bin"))
                r.append(q.bytes);
        return r;
    }
    // Everything the run says after the start: the read-back has nothing left under way.
    void expectRunOver() {
        EXPECT_FALSE(form().GetMode);
        EXPECT_FALSE(view().timerActive);
        EXPECT_FALSE(view().upgradeEnabled());
        EXPECT_FALSE(h->controller().busy());
    }
};

} // namespace

TEST(RomReadBackTexts, PrefixDigitsSignAndBounds) {
    auto check = [](const char* in, qint32 value, const char* text) {
        const Num n = RomReadBackEngine::ParseRomNumber(QString::fromLatin1(in));
        EXPECT_EQ(n.value, value) << in;
        EXPECT_EQ(n.text, QString::fromLatin1(text)) << in;
    };
    check("0x100", 256, "100");
    check("0X40", 64, "40");
    check("0x1000", 4096, "1000");
    check("4096", 4096, "4096");
    check("512", 512, "512");
    check("abc", 0, "abc");
    check("", 0, "");
    check("0x", 0, "");
    check("0xfg", 15, "fg");
    check("9x1A", 26, "1A");  // any first character: the second one makes the prefix
    check("x5", 0, "x5");     // "x" first is no prefix
    check("-12", -12, "-12"); // the sign is kept in the text as well
    check("+7z", 7, "+7z");
    check("12abc", 12, "12abc");
    check("0x-5", 0, "-5"); // no sign after the prefix
    const qint32 max = std::numeric_limits<qint32>::max();
    const qint32 min = std::numeric_limits<qint32>::min();
    check("2147483647", max, "2147483647");
    check("2147483648", max, "2147483648");
    check("999999999999999", max, "999999999999999");
    check("-2147483648", min, "-2147483648");
    check("-999999999999999", min, "-999999999999999");
    check("0x7FFFFFFF", max, "7FFFFFFF");
    check("0x80000000", max, "80000000");
    check("0xFFFFFFFFFFFFF", max, "FFFFFFFFFFFFF");

    EXPECT_EQ(RomReadBackEngine::RemoteName(256, 64), QStringLiteral("256#64"));
    EXPECT_EQ(RomReadBackEngine::RemoteName(0, -3), QStringLiteral("0#-3"));
}

TEST(RomReadBack, HexTextsGoToFtpAsNumbersAndToHttpWithoutPrefix) {
    ReadBackRun run;
    run.tick();
    EXPECT_EQ(run.ftp.calls, 1);
    EXPECT_EQ(run.ftp.remoteName, QStringLiteral("256#64"));
    EXPECT_EQ(run.ftp.localPath, QStringLiteral("rom.bin"));
    EXPECT_EQ(run.ftp.address, kRouter);
    EXPECT_EQ(run.ftp.password, QStringLiteral("admin"));
    ASSERT_EQ(run.romRequests().size(), 1);
    EXPECT_EQ(run.romRequests()[0], QByteArray("GET /config.bin?O=100&L=40 HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(readAll(run.out), pattern(0x100, 0x40));
    EXPECT_EQ(run.view().progressMaximum, 0x40);

    const QStringList& log = run.view().log;
    const qsizetype ftp = log.indexOf(QStringLiteral("Try FTP Get Method first..."));
    ASSERT_GE(ftp, 0);
    EXPECT_EQ(log.mid(ftp, 3), (QStringList{QStringLiteral("Try FTP Get Method first..."),
                                            QStringLiteral("FTP connect failure in get Rom File !"),
                                            QStringLiteral("Try to use HTTP Get method.")}));
    EXPECT_TRUE(log.contains(QStringLiteral("Login password correct in New version")));
    EXPECT_EQ(log.last(), QStringLiteral("Get ROM file success in file : rom.bin"));
    EXPECT_TRUE(run.view().boxes.isEmpty());
    EXPECT_TRUE(run.view().closed);
    EXPECT_EQ(run.form().exitStatus, ExitStatus::Ok);
    run.expectRunOver();
}

TEST(RomReadBack, DecimalTextsReachHttpUnchanged) {
    ReadBackRun run;
    run.setTexts(QStringLiteral("4096"), QStringLiteral("512"));
    run.tick();
    EXPECT_EQ(run.ftp.remoteName, QStringLiteral("4096#512"));
    ASSERT_EQ(run.romRequests().size(), 1);
    EXPECT_EQ(run.romRequests()[0], QByteArray("GET /config.bin?O=4096&L=512 HTTP/1.1\r\n\r\n"));
    // The simulated router reads both as hexadecimal.
    EXPECT_EQ(readAll(run.out), pattern(0x4096, 0x512));
    EXPECT_EQ(run.view().progressMaximum, 512);
    EXPECT_EQ(run.form().exitStatus, ExitStatus::Ok);
}

TEST(RomReadBack, TextWithoutDigitsIsZero) {
    ReadBackRun run;
    run.setTexts(QStringLiteral("abc"), QStringLiteral("10"));
    run.tick();
    EXPECT_TRUE(run.ftp.remoteName.startsWith(QStringLiteral("0#")));
    EXPECT_EQ(run.ftp.remoteName, QStringLiteral("0#10"));
    ASSERT_EQ(run.romRequests().size(), 1);
    EXPECT_EQ(run.romRequests()[0], QByteArray("GET /config.bin?O=abc&L=10 HTTP/1.1\r\n\r\n"));
}

TEST(RomReadBack, FtpSuccessEndsWithoutHttp) {
    ReadBackRun run;
    run.ftp.result = 1;
    run.ftp.data = "ftp bytes";
    run.tick();
    EXPECT_EQ(run.view().log.last(), QStringLiteral("Get ROM data success"));
    EXPECT_EQ(readAll(run.out), QByteArray("ftp bytes"));
    EXPECT_EQ(run.server.requestCount(), 0);
    EXPECT_TRUE(run.view().closed);
    EXPECT_EQ(run.form().exitStatus, ExitStatus::Ok);
    EXPECT_TRUE(run.view().boxes.isEmpty());
}

TEST(RomReadBack, FtpSuccessWithTheLogShownKeepsTheWindow) {
    ReadBackRun run;
    run.showLog();
    run.ftp.result = 1;
    run.tick();
    EXPECT_TRUE(run.form().LogShown);
    EXPECT_EQ(run.form().ListDetail, 222);
    EXPECT_TRUE(run.view().shown(Group::SystemLog));
    EXPECT_EQ(run.view().log.last(), QStringLiteral("Get ROM data success"));
    EXPECT_FALSE(run.view().closed);
    EXPECT_EQ(run.view().closeAttempts, 0);
    run.expectRunOver();
    // A headless run that ends for being idle now reports the success.
    EXPECT_TRUE(run.form().idle());
    EXPECT_EQ(run.form().idleExitStatus(), ExitStatus::Ok);
}

TEST(RomReadBack, FtpPasswordRefusedShowsThePasswordAndEnds) {
    ReadBackRun run;
    run.view().password = QStringLiteral("s3cret");
    run.ftp.result = -2;
    run.ftp.text = QStringLiteral("Incorrect password. Please check and input again!");
    run.tick();
    ASSERT_EQ(run.view().boxes.size(), 2);
    EXPECT_EQ(run.view().boxes[0].text, QStringLiteral("Password error. Please check again."));
    EXPECT_EQ(run.view().boxes[0].caption, QStringLiteral("Failure"));
    EXPECT_EQ(run.view().boxes[0].buttons, BoxButtons::Ok);
    EXPECT_EQ(run.view().boxes[1].text, QStringLiteral("Pass: s3cret"));
    EXPECT_EQ(run.view().boxes[1].caption, QStringLiteral("(FTP) pass Error"));
    EXPECT_EQ(run.view().boxes[1].buttons, BoxButtons::OkCancel);
    EXPECT_EQ(run.server.requestCount(), 0);
    EXPECT_TRUE(run.view().closed);
    EXPECT_EQ(run.form().exitStatus, ExitStatus::Failed);

    // Also with the log shown.
    ReadBackRun shown;
    shown.showLog();
    shown.ftp.result = -2;
    shown.tick();
    EXPECT_TRUE(shown.view().closed);
    EXPECT_EQ(shown.form().exitStatus, ExitStatus::Failed);
}

TEST(RomReadBack, FtpRetrievalFailureEndsWithoutHttp) {
    ReadBackRun run;
    run.ftp.result = -3;
    run.ftp.text = QStringLiteral("450");
    run.tick();
    EXPECT_EQ(run.view().log.last(), QStringLiteral("450"));
    EXPECT_EQ(run.server.requestCount(), 0);
    EXPECT_TRUE(run.view().boxes.isEmpty());
    EXPECT_TRUE(run.view().closed);
    EXPECT_EQ(run.form().exitStatus, ExitStatus::Failed);

    // With the log shown the window stays, and a headless end still says it failed.
    ReadBackRun shown;
    shown.showLog();
    shown.ftp.result = -3;
    shown.ftp.text = QStringLiteral("Abo");
    shown.tick();
    EXPECT_EQ(shown.view().log.last(), QStringLiteral("Abo"));
    EXPECT_FALSE(shown.view().closed);
    shown.expectRunOver();
    EXPECT_EQ(shown.form().idleExitStatus(), ExitStatus::Failed);
}

TEST(RomReadBack, OtherFtpResultsFallBackToHttp) {
    for (int rc : {-1, 0, 2, -4, -550}) {
        ReadBackRun run;
        run.ftp.result = rc;
        run.ftp.text = QStringLiteral("Get Rom File Error");
        run.tick();
        EXPECT_EQ(run.romRequests().size(), 1) << rc;
        EXPECT_EQ(readAll(run.out), pattern(0x100, 0x40)) << rc;
        EXPECT_EQ(run.form().exitStatus, ExitStatus::Ok) << rc;
    }
}

TEST(RomReadBack, RunningReadBackKeepsAHeadlessRunFromEndingIdle) {
    ReadBackRun run;
    bool busyInside = false;
    bool idleInside = true;
    run.ftp.during = [&] {
        busyInside = run.h->controller().busy();
        idleInside = run.form().idle();
    };
    run.ftp.result = -3;
    run.showLog();
    run.tick();
    EXPECT_TRUE(busyInside);
    EXPECT_FALSE(idleInside);
    EXPECT_FALSE(run.h->controller().busy());
}

TEST(RomReadBack, RouterWithoutEchoLeavesTheWindowOpen) {
    ReadBackRun run;
    run.h->echoAnswer = false;
    run.view().setIpText(QStringLiteral("127.0.0.1 normal router"));
    run.tick();
    EXPECT_EQ(run.h->echoed, QStringList{kRouter});
    EXPECT_EQ(run.view().log.last(), QStringLiteral("Unconnect to router : 127.0.0.1"));
    ASSERT_EQ(run.view().boxes.size(), 1);
    EXPECT_EQ(run.view().boxes[0].text, QStringLiteral("Unconnect to router"));
    EXPECT_EQ(run.view().boxes[0].caption, QStringLiteral("Router connection failure"));
    EXPECT_EQ(run.ftp.calls, 0);
    EXPECT_FALSE(run.view().closed);
    run.expectRunOver();
    EXPECT_EQ(run.form().idleExitStatus(), ExitStatus::Failed);
    // Later ticks do not try again.
    run.view().startStopTimer();
    run.tick();
    EXPECT_EQ(run.view().boxes.size(), 1);
}

TEST(RomReadBack, EachRefusedHttpLoginIsToldAndLeavesTheWindowOpen) {
    struct Case {
        const char* options;
        bool serve;
        const char* box;     // null: no box of the read-back's own
        const char* caption; // null: none of its own
        const char* logLine;
    };
    const Case cases[] = {
        {"login404=2", true, "No CGI found", nullptr, nullptr},
        {"index=400", true, "Bad request", nullptr, nullptr},
        {"redirect=1x", true, "Port command error", nullptr, nullptr},
        {"", false, "Send request error", nullptr, nullptr},
        {"cas=1234", true, "Receive response error 7", nullptr, nullptr},
        {"password=right", true, "Incorrect password. Please check and input again!",
         "Authentication Failed", nullptr},
        {"basicuser=u,basicpass=p", true, nullptr, nullptr, "Unknow Error while check password"},
    };
    for (const Case& c : cases) {
        ReadBackRun run(QString::fromLatin1(c.options), c.serve);
        run.tick();
        const std::string name = c.options;
        EXPECT_TRUE(run.romRequests().isEmpty()) << name;
        EXPECT_FALSE(QFile::exists(run.out)) << name;
        EXPECT_FALSE(run.view().closed) << name;
        EXPECT_EQ(run.form().exitStatus, ExitStatus::Failed) << name;
        EXPECT_EQ(run.form().idleExitStatus(), ExitStatus::Failed) << name;
        run.expectRunOver();
        if (c.box) {
            ASSERT_FALSE(run.view().boxes.isEmpty()) << name;
            const RecordedBox& b = run.view().boxes.last();
            EXPECT_EQ(b.text, QString::fromLatin1(c.box)) << name;
            if (c.caption) {
                EXPECT_EQ(b.caption, QString::fromLatin1(c.caption)) << name;
            } else {
                EXPECT_TRUE(b.caption.isNull()) << name;
            }
            EXPECT_EQ(b.buttons, BoxButtons::Ok) << name;
        } else {
            EXPECT_TRUE(run.view().boxes.isEmpty()) << name;
        }
        if (c.logLine) {
            EXPECT_EQ(run.view().log.last(), QString::fromLatin1(c.logLine)) << name;
        }
    }
    ReadBackRun wrong(QStringLiteral("password=right"));
    wrong.tick();
    EXPECT_EQ(wrong.view().status(),
              QStringLiteral("Your input password is incorrect, please check again."));
}

TEST(RomReadBack, FailedHttpReadShowsItsBoxAndEnds) {
    ReadBackRun run(QStringLiteral("romstatus=404"));
    run.ftp.text = QStringLiteral("Unknow exception with NO Connect ");
    run.tick();
    ASSERT_EQ(run.romRequests().size(), 1);
    ASSERT_EQ(run.view().boxes.size(), 1);
    EXPECT_EQ(run.view().boxes[0].text, QStringLiteral("HTTP Get ROM Error"));
    EXPECT_EQ(run.view().boxes[0].caption, QStringLiteral("Failure"));
    const QStringList& log = run.view().log;
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[log.size() - 2], QStringLiteral("unknown response error code !"));
    EXPECT_EQ(log.last(), QStringLiteral("Unknow exception with NO Connect "));
    EXPECT_TRUE(run.view().closed);
    EXPECT_EQ(run.form().exitStatus, ExitStatus::Failed);
    run.expectRunOver();
}

TEST(RomReadBack, OldBackupKeptWhenTheHttpReadReplacesAFile) {
    ReadBackRun run;
    {
        QFile f(run.out);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier read");
    }
    run.tick();
    EXPECT_EQ(readAll(run.out), pattern(0x100, 0x40));
    EXPECT_EQ(readAll(run.out + QStringLiteral(".BAK")), QByteArray("earlier read"));
}

TEST(RomReadBack, ExceptionOutOfTheFtpReadIsToldAndEndsAsAFailure) {
    ReadBackRun run;
    run.ftp.throwIt = true;
    run.tick();
    const QString text = QStringLiteral("socket gone while disconnecting");
    EXPECT_EQ(run.view().log.last(), text);
    ASSERT_EQ(run.view().boxes.size(), 1);
    EXPECT_EQ(run.view().boxes[0].text, text);
    EXPECT_TRUE(run.view().boxes[0].caption.isNull());
    EXPECT_EQ(run.server.requestCount(), 0);
    EXPECT_FALSE(run.view().closed);
    EXPECT_EQ(run.form().exitStatus, ExitStatus::Failed);
    run.expectRunOver();
    EXPECT_EQ(run.form().idleExitStatus(), ExitStatus::Failed);
}

// The simulator's FTP server on its own: its options, and that nothing a client sends makes it
// connect elsewhere or write outside its directory.

#include "SimConfig.h"
#include "ftp/TFtpClient.h"
#include "ftp_test_support.h"

#include <QDir>

using namespace fw;
using namespace fw::test;
using routersim::FtpServerConfig;

TEST(FtpServerOptions, KnobsParseAndMistakesAreRefused) {
    QString error;
    auto c = FtpServerConfig::parse(
        QStringLiteral("password=pw,user=230,stor=550,storreply=429,stall=retr,close=PASS,"
                       "datastall=10,closeafter=2,retrextra=5,dir=/tmp/x,keep=4,idle=100,"
                       "delay=stor:250"),
        &error);
    ASSERT_TRUE(c) << error.toStdString();
    EXPECT_EQ(c->password, "pw");
    EXPECT_TRUE(c->user230);
    EXPECT_EQ(c->replies.value("STOR"), "550 Requested action not taken\r\n");
    EXPECT_EQ(c->replies.value("STORDONE"), "429 Incorrect upgrade file\r\n");
    EXPECT_EQ(c->stall, "RETR");
    EXPECT_EQ(c->closeOn, "PASS");
    EXPECT_EQ(c->dataStall, 10);
    EXPECT_EQ(c->closeAfter, 2);
    EXPECT_EQ(c->retrExtra, 5);
    EXPECT_EQ(c->directory, QStringLiteral("/tmp/x"));
    EXPECT_EQ(c->keep, 4);
    EXPECT_EQ(c->idle, std::chrono::milliseconds(100));
    EXPECT_EQ(c->delayOn, "STOR");
    EXPECT_EQ(c->delay, std::chrono::milliseconds(250));
    EXPECT_FALSE(FtpServerConfig::parse(QStringLiteral("delay=STOR"), &error));
    EXPECT_FALSE(FtpServerConfig::parse(QStringLiteral("nosuch=1"), &error));
    EXPECT_FALSE(FtpServerConfig::parse(QStringLiteral("stor=55"), &error));
    EXPECT_FALSE(FtpServerConfig::parse(QStringLiteral("datastall=-1"), &error));

    QString simError;
    const auto sim = routersim::SimConfig::parse(
        {QStringLiteral("--router"), QStringLiteral("192.168.123.254"), QStringLiteral("--ftp")},
        &simError);
    ASSERT_TRUE(sim) << simError.toStdString();
    EXPECT_TRUE(sim->ftp);
    EXPECT_TRUE(routersim::SimConfig::usage().contains(QStringLiteral("--ftp-options")));
}

TEST(FtpServerSafety, DataGoesOnlyToTheClientAndFilesOnlyIntoTheDirectory) {
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("store"));
    ASSERT_TRUE(QDir().mkpath(store));
    auto server = startFtpServer(QStringLiteral("dir=") + store);
    TFtpClient c;
    c.Host = QStringLiteral("127.0.0.1");
    c.Port = server->port();
    c.TimeOut = 1000ms;
    c.UserID = QStringLiteral("root");
    c.Password = QStringLiteral("admin");
    c.Connect();
    // A data connection to any other address is refused.
    EXPECT_EQ(c.Transaction("PORT 10,1,2,3,4,5"), "501 Illegal PORT command\r\n");
    EXPECT_EQ(c.Transaction("RETR not-a-rom-name"), "550 No such file\r\n");
    EXPECT_EQ(c.Transaction("NOOP"), "502 Command not implemented\r\n");

    const QByteArray bytes = patternBytes(100000, 3);
    const QString local = writeFile(dir, QStringLiteral("local"), bytes);
    c.Upload(local, QStringLiteral("../escape.bin"));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("escape.bin"))));
    EXPECT_TRUE(readFile(QDir(store).filePath(QStringLiteral("escape.bin"))) == bytes);
    ASSERT_EQ(server->storedFiles().size(), 1);
    EXPECT_EQ(server->storedFiles()[0].name, "../escape.bin");
}

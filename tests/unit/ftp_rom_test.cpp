// The ROM read over FTP against the in-process FTP server: the bytes received land in the local
// file exactly, and each failure gives its result code, result text, log and status lines.

#include "ftp/FtpUpgradeEngine.h"
#include "ftp_test_support.h"
#include "socket_test_support.h"

#include <QElapsedTimer>

using namespace fw;
using namespace fw::test;
using routersim::FtpServer;

namespace {

class FtpRomTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    RecordingSinks rec;
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<FtpUpgradeEngine> form;
    QString out;

    void serve(const QString& options = {}) {
        server = startFtpServer(options);
        ASSERT_TRUE(server);
        form = std::make_unique<FtpUpgradeEngine>(server->port());
        out = dir.filePath(QStringLiteral("rom.bin"));
    }
    int read(const QString& remote, const QString& password = QStringLiteral("admin")) {
        return form->FtpGetRom(rec.sinks(), QStringLiteral("127.0.0.1"), password, remote, out);
    }
};

QByteArray romPattern(qint64 offset, qsizetype length) {
    QByteArray b(length, '\0');
    for (qsizetype i = 0; i < length; ++i)
        b[i] = char((offset + i) & 0xFF);
    return b;
}

} // namespace

TEST_F(FtpRomTest, ReadWritesTheBytesAndLeavesTheConnectionOpen) {
    serve();
    writeFile(dir, QStringLiteral("rom.bin"), QByteArray(100000, 'z')); // overwritten
    EXPECT_EQ(read(QStringLiteral("65536#300000")), 1);
    EXPECT_TRUE(readFile(out) == romPattern(65536, 300000));
    EXPECT_TRUE(form->resultText().isEmpty());
    const QStringList log = rec.log();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[log.size() - 2], QStringLiteral("Data=65536#300000"));
    EXPECT_EQ(log.last(), QStringLiteral("Save data to :") + out);
    EXPECT_EQ(rec.status().first(), QStringLiteral("Connecting to device"));
    EXPECT_EQ(rec.maximum.load(), 300);
    EXPECT_EQ(rec.position.load(), 300);
    // No "QUIT" after a successful read; the next use goes on with the same connection.
    const QList<QByteArray> cmds = server->commands();
    ASSERT_EQ(cmds.size(), 4);
    EXPECT_EQ(cmds[0], "USER root");
    EXPECT_EQ(cmds[1], "PASS admin");
    EXPECT_TRUE(cmds[2].startsWith("PORT 127,0,0,1,"));
    EXPECT_EQ(cmds[3], "RETR 65536#300000");
    EXPECT_TRUE(form->client().Connected());
    EXPECT_EQ(read(QStringLiteral("0#10")), 1);
    EXPECT_EQ(readFile(out), romPattern(0, 10));
    EXPECT_EQ(server->connectionCount(), 1);
}

TEST_F(FtpRomTest, NothingBeyondTheLengthAskedForIsWritten) {
    serve(QStringLiteral("retrextra=70000"));
    routersim::FtpServerConfig cfg = server->config();
    cfg.romPath = writeFile(dir, QStringLiteral("rom-source"), patternBytes(100000, 9));
    server->setConfig(cfg);
    EXPECT_EQ(read(QStringLiteral("100#4900")), 1);
    EXPECT_TRUE(readFile(out) == patternBytes(100000, 9).mid(100, 4900));
    const QString offered =
        QStringLiteral("ROM data stopped at the 4900 bytes asked for; the router offered ");
    EXPECT_EQ(rec.log().filter(offered).size(), 1);
}

TEST_F(FtpRomTest, ShortReadIsAFailureThatKeepsItsBytes) {
    serve(QStringLiteral("retrshort=10"));
    EXPECT_EQ(read(QStringLiteral("0#512")), FtpRomReadService::CutShort);
    EXPECT_EQ(form->resultText(), QStringLiteral("ROM data cut short: 502 of 512 bytes"));
    EXPECT_EQ(rec.log().last(), form->resultText());
    EXPECT_EQ(readFile(out), romPattern(0, 502));

    serve(QStringLiteral("retrextra=188"));
    EXPECT_EQ(read(QStringLiteral("0#512")), 1);
    EXPECT_EQ(readFile(out), romPattern(0, 512));
    EXPECT_TRUE(rec.log().contains(QStringLiteral(
        "ROM data stopped at the 512 bytes asked for; the router offered 188 more, not written")));
}

TEST_F(FtpRomTest, HangUpAfterEveryByteAskedForIsASuccess) {
    serve(QStringLiteral("noreply=RETR"));
    EXPECT_EQ(read(QStringLiteral("0#512")), 1);
    EXPECT_EQ(readFile(out), romPattern(0, 512));
    EXPECT_TRUE(rec.log().contains(QStringLiteral(
        "No reply after the ROM data: the router hung up after all 512 bytes; counted as received")));
    EXPECT_EQ(rec.log().last(), QStringLiteral("Save data to :") + out);

    serve(QStringLiteral("noreply=RETR,retrshort=1"));
    EXPECT_EQ(read(QStringLiteral("0#512")), -3);
    EXPECT_EQ(rec.log().last(), QStringLiteral("ROM data cut short: 511 of 512 bytes"));
}

TEST_F(FtpRomTest, WrongPasswordIsMinusTwo) {
    serve(QStringLiteral("password=right"));
    EXPECT_EQ(read(QStringLiteral("0#16"), QStringLiteral("wrong")), -2);
    const QString text = QStringLiteral("Incorrect password. Please check and input again!");
    EXPECT_EQ(form->resultText(), text);
    EXPECT_EQ(rec.status(), QStringList{text});
    EXPECT_EQ(rec.log().last(), QStringLiteral("Get Rom File Password Error"));
}

TEST_F(FtpRomTest, RefusedRetrievalByCode) {
    serve(QStringLiteral("retr=550"));
    EXPECT_EQ(read(QStringLiteral("0#16")), -1);
    EXPECT_EQ(form->resultText(), QStringLiteral("Get Rom File Error"));
    EXPECT_EQ(rec.status().last(), QStringLiteral("Get Rom File command error."));
    EXPECT_EQ(rec.log().last(), QStringLiteral("Get Rom File Error"));
    EXPECT_FALSE(form->client().Connected());

    serve(QStringLiteral("retr=450"));
    EXPECT_EQ(read(QStringLiteral("0#16")), -3);
    EXPECT_EQ(form->resultText(), QStringLiteral("450"));
    EXPECT_EQ(rec.log().last(), QStringLiteral("Unknow error in FTP mode."));
    EXPECT_FALSE(form->client().Connected());
    ASSERT_TRUE(server->waitForClosed(1, 5s));
    EXPECT_EQ(server->commands().last(), "QUIT");
}

TEST_F(FtpRomTest, StalledReadEndsAtTheClientTimeOut) {
    serve(QStringLiteral("datastall=100"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(read(QStringLiteral("0#100000")), -3);
    EXPECT_GE(clock.elapsed(), qint64(FtpUpgradeEngine::ClientTimeOut.count()) - 10);
    EXPECT_LT(clock.elapsed(), 5000);
    // The abort's message is no reply line: its first three characters are kept.
    EXPECT_EQ(form->resultText(), QStringLiteral("Soc"));
    EXPECT_EQ(readFile(out).size(), 100);
    EXPECT_EQ(rec.log().last(), QStringLiteral("ROM data cut short: 100 of 100000 bytes"));
}

TEST_F(FtpRomTest, NoConnectionIsMinusOne) {
    ftpTestApp();
    quint16 port = 0;
    const int holder = closedPort(&port);
    form = std::make_unique<FtpUpgradeEngine>(port);
    out = dir.filePath(QStringLiteral("rom.bin"));
    EXPECT_EQ(read(QStringLiteral("0#16")), -1);
    ::close(holder);
    EXPECT_EQ(form->resultText(), QStringLiteral("Unknow exception with NO Connect "));
    EXPECT_EQ(rec.log(), (QStringList{QStringLiteral("Error 10061: 10061:Connection refused"),
                                      QStringLiteral("Unknow error3 in FTP mode.(NO Connect)")}));
    EXPECT_FALSE(QFile::exists(out));
}

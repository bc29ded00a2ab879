#include "WebServer.h"
#include "http/HttpEngine.h"
#include "socket_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;
using routersim::WebServer;
using routersim::WebServerConfig;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class RomReadTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    RecordingSinks rec;
    WebServer server;
    void SetUp() override { ASSERT_TRUE(server.start(kLoopback, 0)); }
    QString out() const { return dir.filePath(QStringLiteral("rom.bin")); }
    int read(const QString& o, const QString& l, qint32 length, HttpEngine* engine = nullptr) {
        HttpEngine own;
        HttpEngine& e = engine ? *engine : own;
        const int r =
            e.HttpGetRom(rec.sinks(), kLoopback, server.port(), out(), QString(), 0, length, o, l);
        resultText = e.resultText;
        return r;
    }
    QString resultText;
};

} // namespace

TEST_F(RomReadTest, BodyLandsInTheFileAndTheOldFileInBak) {
    {
        QFile f(out());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("previous");
    }
    EXPECT_EQ(read(QStringLiteral("10"), QStringLiteral("600"), 0x600), 1);
    EXPECT_EQ(resultText, QStringLiteral("Get ROM file success"));
    QByteArray expected;
    for (int i = 0; i < 0x600; ++i)
        expected.append(char((0x10 + i) & 0xFF));
    EXPECT_EQ(readAll(out()), expected);
    EXPECT_EQ(readAll(out() + QStringLiteral(".BAK")), QByteArray("previous"));
    ASSERT_EQ(server.requestCount(), 1);
    const QByteArray request = "GET /config.bin?O=10&L=600 HTTP/1.1\r\n\r\n";
    EXPECT_EQ(server.requests()[0].bytes, request);
    const QStringList log = rec.log();
    EXPECT_EQ(log, (QStringList{QStringLiteral("Prepare to send get command: \n"),
                                QString::fromLatin1(request),
                                QStringLiteral("Get ROM file success in file : ") + out()}));
    EXPECT_EQ(rec.maximum, 0x600);
    // The header counts on the bar too.
    EXPECT_GT(rec.position, 0x600);
}

TEST_F(RomReadTest, FailuresCarryTheSocketText) {
    server.setConfig(*WebServerConfig::parse(QStringLiteral("romstatus=400")));
    EXPECT_EQ(read(QStringLiteral("0"), QStringLiteral("10"), 16), -1);
    EXPECT_EQ(resultText, QStringLiteral("Bad Request !"));
    EXPECT_EQ(rec.log().constLast(), resultText);
    ASSERT_EQ(rec.boxes().size(), 1);
    EXPECT_EQ(rec.boxes()[0].text, QStringLiteral("error 03"));

    server.setConfig(*WebServerConfig::parse(QStringLiteral("romstatus=404")));
    EXPECT_EQ(read(QStringLiteral("0"), QStringLiteral("10"), 16), -1);
    EXPECT_EQ(resultText, QStringLiteral("unknown response error code !"));

    // A zero-length read: the reply is all header.
    server.setConfig(WebServerConfig{});
    EXPECT_EQ(read(QStringLiteral("0"), QStringLiteral("0"), 0), -1);
    EXPECT_EQ(resultText, QStringLiteral("HTTP header parse length error !"));
}

TEST_F(RomReadTest, OversizedOrUnsafeQueryIsRefused) {
    EXPECT_EQ(read(QString(15, QLatin1Char('1')), QString(15, QLatin1Char('2')), 1), -1);
    EXPECT_EQ(read(QStringLiteral("1 HTTP/1.0"), QStringLiteral("2"), 1), -1);
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(read(QString(14, QLatin1Char('0')), QString(15, QLatin1Char('0')), 0), -1);
    EXPECT_TRUE(server.waitForRequests(1, std::chrono::seconds(5)));
}

TEST_F(RomReadTest, UnreachableRouter) {
    quint16 closed = 0;
    {
        WebServer probe;
        ASSERT_TRUE(probe.start(kLoopback, 0));
        closed = probe.port();
    }
    HttpEngine e;
    EXPECT_EQ(e.HttpGetRom(rec.sinks(), kLoopback, closed, out(), QString(), 0, 1,
                           QStringLiteral("0"), QStringLiteral("1")),
              -1);
    EXPECT_EQ(e.resultText,
              QStringLiteral("Failed to connect socket to IP : 127.0.0.1 and port : ") +
                  QString::number(closed));
    EXPECT_EQ(rec.status(), QStringList{QStringLiteral("Connect to router failure")});
}

TEST_F(RomReadTest, SuccessReportsConnectingAndLeavesPasswordAndOffsetUnused) {
    rec.position = 100000;
    HttpEngine e;
    ASSERT_EQ(e.HttpGetRom(rec.sinks(), kLoopback, server.port(), out(), QStringLiteral("pw&x"),
                           123456, 0x40, QStringLiteral("100"), QStringLiteral("40")),
              1);
    EXPECT_EQ(rec.status(), QStringList{QStringLiteral("Connecting to router")});
    ASSERT_EQ(server.requestCount(), 1);
    EXPECT_EQ(server.requests()[0].bytes,
              QByteArray("GET /config.bin?O=100&L=40 HTTP/1.1\r\n\r\n"));
    QByteArray expected;
    for (int i = 0; i < 0x40; ++i)
        expected.append(char(0x100 + i));
    EXPECT_EQ(readAll(out()), expected);
    // The bar restarted at 0 and moved by whole chunks, header included.
    EXPECT_GT(rec.position, 0x40);
    EXPECT_LT(rec.position, 0x40 + 1000);
    EXPECT_TRUE(rec.boxes().isEmpty());
}

TEST_F(RomReadTest, RomFileServedFromTheRouterImage) {
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    QByteArray rom;
    for (int i = 0; i < 8192; ++i)
        rom.append(char((i * 13 + 7) & 0xFF));
    {
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(rom);
    }
    server.setConfig(*WebServerConfig::parse(QStringLiteral("rom=") + image));
    // Several chunks of body.
    EXPECT_EQ(read(QStringLiteral("100"), QStringLiteral("1800"), 0x1800), 1);
    EXPECT_EQ(readAll(out()), rom.mid(0x100, 0x1800));
}

TEST_F(RomReadTest, OlderBackupGivesWayToTheCurrentFile) {
    auto write = [](const QString& path, const QByteArray& b) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
    };
    ASSERT_TRUE(write(out() + QStringLiteral(".BAK"), "oldest"));
    ASSERT_TRUE(write(out(), "current"));
    EXPECT_EQ(read(QStringLiteral("0"), QStringLiteral("4"), 4), 1);
    EXPECT_EQ(readAll(out()), QByteArray("\x00\x01\x02\x03", 4));
    EXPECT_EQ(readAll(out() + QStringLiteral(".BAK")), QByteArray("current"));
}

TEST_F(RomReadTest, FailedReadKeepsThePreviousContentInTheBackup) {
    {
        QFile f(out());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("previous");
    }
    server.setConfig(*WebServerConfig::parse(QStringLiteral("romstatus=503")));
    EXPECT_EQ(read(QStringLiteral("0"), QStringLiteral("10"), 16), -1);
    EXPECT_EQ(resultText, QStringLiteral("unknown response error code !"));
    EXPECT_EQ(readAll(out() + QStringLiteral(".BAK")), QByteArray("previous"));
    EXPECT_EQ(readAll(out()), QByteArray());
    // The failure is logged after the request, as the last line.
    EXPECT_EQ(rec.log(), (QStringList{QStringLiteral("Prepare to send get command: \n"),
                                      QStringLiteral("GET /config.bin?O=0&L=10 HTTP/1.1\r\n\r\n"),
                                      resultText}));
}

TEST_F(RomReadTest, UncreatableDestination) {
    HttpEngine e;
    const QString path = dir.filePath(QStringLiteral("no/such/dir/rom.bin"));
    EXPECT_EQ(e.HttpGetRom(rec.sinks(), kLoopback, server.port(), path, QString(), 0, 4,
                           QStringLiteral("0"), QStringLiteral("4")),
              -1);
    EXPECT_EQ(e.resultText, QStringLiteral("ROM file create error"));
    EXPECT_EQ(rec.log().constLast(), e.resultText);
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(RomReadTest, NegativeLengthIsNoBarMaximum) {
    rec.maximum = 5;
    HttpEngine e;
    e.HttpGetRom(rec.sinks(), kLoopback, server.port(), out(), QString(), 0, -64,
                 QStringLiteral("0"), QStringLiteral("-40"));
    EXPECT_EQ(rec.maximum, 0);
}

TEST(RomReadPeer, HeaderWithBareLineFeedsOrNoReply) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("rom.bin"));
    {
        RecordingSinks rec;
        ScriptedPeer peer({{QByteArray("HTTP/1.1 200 OK\nContent-Length: 4\n\nABCD")}});
        HttpEngine e;
        EXPECT_EQ(e.HttpGetRom(rec.sinks(), kLoopback, peer.port(), out, QString(), 0, 4,
                               QStringLiteral("0"), QStringLiteral("4")),
                  -1);
        EXPECT_EQ(e.resultText, QStringLiteral("HTTP header parse error !"));
        EXPECT_EQ(peer.finish(), QByteArray("GET /config.bin?O=0&L=4 HTTP/1.1\r\n\r\n"));
    }
    {
        RecordingSinks rec;
        ScriptedPeer peer({});
        HttpEngine e;
        EXPECT_EQ(e.HttpGetRom(rec.sinks(), kLoopback, peer.port(), out, QString(), 0, 4,
                               QStringLiteral("0"), QStringLiteral("4")),
                  -1);
        EXPECT_EQ(e.resultText, QStringLiteral("Read Data error!"));
    }
}

TEST(RomReadPeer, SilenceBeforeTheWholeStretchIsAFailure) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("rom.bin"));
    const QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Type: x\r\n\r\nABCD";
    // The silence is noticed after the 3-second readiness wait and the 300 ms receive time-out.
    const auto read = [&](qsizetype holdMs, qint32 length, HttpEngine& e) {
        RecordingSinks rec;
        ScriptedPeer peer({{reply}}, std::chrono::milliseconds(holdMs));
        e.setTransferTimeout(300ms);
        return e.HttpGetRom(rec.sinks(), kLoopback, peer.port(), out, QString(), 0, length,
                            QStringLiteral("0"), QString::number(length));
    };
    {
        HttpEngine e; // the connection stays open after half of the stretch
        EXPECT_EQ(read(5000, 8, e), -1);
        EXPECT_EQ(e.resultText, QStringLiteral("ROM data cut short: 4 of 8 bytes"));
    }
    {
        HttpEngine e; // a router that keeps the connection open after the whole stretch
        EXPECT_EQ(read(5000, 4, e), 1);
        EXPECT_EQ(readAll(out), QByteArray("ABCD"));
    }
    {
        HttpEngine e; // closing the connection ends the reply: short is short all the same
        EXPECT_EQ(read(0, 8, e), -1);
        EXPECT_EQ(e.resultText, QStringLiteral("ROM data cut short: 4 of 8 bytes"));
        EXPECT_EQ(readAll(out), QByteArray("ABCD")); // kept
    }
    {
        HttpEngine e; // more than asked for: the stretch only, and how much more was offered
        RecordingSinks rec;
        ScriptedPeer peer({{reply + QByteArray(700, 'z')}}, 5000ms);
        EXPECT_EQ(e.HttpGetRom(rec.sinks(), kLoopback, peer.port(), out, QString(), 0, 512,
                               QStringLiteral("0"), QStringLiteral("512")),
                  1);
        EXPECT_EQ(readAll(out), QByteArray("ABCD") + QByteArray(508, 'z'));
        EXPECT_TRUE(rec.log().contains(QStringLiteral("ROM data stopped at the 512 bytes asked "
                                                      "for; the router offered 192 more, not "
                                                      "written")));
    }
}

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

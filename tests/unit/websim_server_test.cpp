#include "WebServer.h"
#include "socket_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw::test;
using routersim::WebServer;
using routersim::WebServerConfig;

namespace {

// Sends `request` to the server, half-closes, and reads the answer until the server closes.
QByteArray ask(quint16 port, const QByteArray& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        char buf[4096];
        for (int round = 0; round < 200; ++round) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            answer.append(buf, n);
        }
    }
    ::close(fd);
    return answer;
}

} // namespace

TEST(WebServerConfigTest, ParsesEveryKey) {
    QString error;
    const auto c = WebServerConfig::parse(
        QStringLiteral("password=pw,firmware=old,cas=1234,redirect=8080,listenredirect=1,"
                       "login404=2,login400=1,login503=3,index=503,basicuser=u,basicpass=p,"
                       "upg=alert:too old,upgsize=2000,transcript=/tmp/t,body=/tmp/b,"
                       "keepbody=10,maxbody=20,rom=/tmp/r,romstatus=404,idle=500"),
        &error);
    ASSERT_TRUE(c) << error.toStdString();
    EXPECT_EQ(c->password, QByteArray("pw"));
    EXPECT_TRUE(c->oldFirmware);
    EXPECT_EQ(c->casOverride, QByteArray("1234"));
    EXPECT_EQ(c->redirect, QByteArray("8080"));
    EXPECT_TRUE(c->listenRedirect);
    EXPECT_EQ(c->login404, 2);
    EXPECT_EQ(c->login400, 1);
    EXPECT_EQ(c->login503, 3);
    EXPECT_EQ(c->indexStatus, 503);
    EXPECT_EQ(c->basicUser, QByteArray("u"));
    EXPECT_EQ(c->basicPassword, QByteArray("p"));
    EXPECT_EQ(c->upload, WebServerConfig::UploadAnswer::Alert);
    EXPECT_EQ(c->uploadAlert, QByteArray("too old"));
    EXPECT_EQ(c->uploadReplySize, 2000);
    EXPECT_EQ(c->transcriptPath, QStringLiteral("/tmp/t"));
    EXPECT_EQ(c->bodyPath, QStringLiteral("/tmp/b"));
    EXPECT_EQ(c->keepBody, 10);
    EXPECT_EQ(c->maxBody, 20);
    EXPECT_EQ(c->romPath, QStringLiteral("/tmp/r"));
    EXPECT_EQ(c->romStatus, 404);
    EXPECT_EQ(c->idle, std::chrono::milliseconds(500));

    EXPECT_FALSE(WebServerConfig::parse(QStringLiteral("colour=red"), &error));
    EXPECT_EQ(error, QStringLiteral("unknown web option: colour"));
    EXPECT_FALSE(WebServerConfig::parse(QStringLiteral("upg=maybe"), &error));
    EXPECT_FALSE(WebServerConfig::parse(QStringLiteral("login404=x"), &error));
    EXPECT_FALSE(WebServerConfig::parse(QStringLiteral("firmware=ancient"), &error));
    EXPECT_TRUE(WebServerConfig::parse(QString()));
}

TEST(WebServerTest, UploadBodyIsSavedAndTranscribed) {
    QTemporaryDir dir;
    const QString body = dir.filePath(QStringLiteral("body.bin"));
    const QString transcript = dir.filePath(QStringLiteral("wire.bin"));
    WebServer server(*WebServerConfig::parse(QStringLiteral("body=") + body +
                                             QStringLiteral(",transcript=") + transcript +
                                             QStringLiteral(",keepbody=4")));
    ASSERT_TRUE(server.start());
    const QByteArray request = "POST /upg HTTP/1.0\r\nContent-Length: 10\r\n\r\n0123456789";
    const QByteArray answer = ask(server.port(), request);
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(answer.contains("--CAS:8000"));
    QFile b(body);
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), QByteArray("0123456789"));
    QFile t(transcript);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    EXPECT_EQ(t.readAll(), request);
    EXPECT_EQ(server.lastUploadBody(), QByteArray("0123"));
    EXPECT_EQ(server.lastUploadBodySize(), 10);
}

TEST(WebServerTest, RefusesOversizedOrMissingLengthAndUnknownPaths) {
    WebServer server(*WebServerConfig::parse(QStringLiteral("maxbody=100")));
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(ask(server.port(), "POST /upg HTTP/1.0\r\nContent-Length: 101\r\n\r\n")
                    .startsWith("HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_TRUE(ask(server.port(), "POST /upg HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 400 "));
    EXPECT_TRUE(ask(server.port(), "GET /nothing HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404 "));
    EXPECT_TRUE(ask(server.port(), QByteArray(70 * 1024, 'x')).startsWith("HTTP/1.1 400 "));
}

TEST(WebServerTest, RedirectAnswerHasThePortAsFirstColonDigit) {
    WebServer server(*WebServerConfig::parse(QStringLiteral("redirect=auto")));
    ASSERT_TRUE(server.start());
    ASSERT_NE(server.redirectPort(), 0);
    const QByteArray answer =
        ask(server.port(), "GET /cgi-bin/logi?rc=@&PSW=x&rd=menu HTTP/1.1\r\n\r\nA: b\r\n\r\n");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 301 Moved Permanently\r\nLocation: http://127.0.0.1:" +
                                  QByteArray::number(server.redirectPort()) + "\r\n"));
    // The second listener serves the login itself.
    EXPECT_TRUE(ask(server.redirectPort(),
                    "GET /cgi-bin/logi?rc=@&PSW=admin&rd=menu HTTP/1.1\r\n\r\nA: b\r\n\r\n")
                    .startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(server.lastLoginAccepted());
}

TEST(WebServerTest, StopEndsAStalledConnection) {
    auto server =
        std::make_unique<WebServer>(*WebServerConfig::parse(QStringLiteral("upg=silent")));
    ASSERT_TRUE(server->start());
    const quint16 port = server->port();
    std::thread client([port] { ask(port, "POST /upg HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"); });
    EXPECT_TRUE(server->waitForRequests(1, std::chrono::seconds(5)));
    const auto t0 = std::chrono::steady_clock::now();
    server.reset();
    client.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

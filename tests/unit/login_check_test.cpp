#include "WebServer.h"
#include "http/LoginCheck.h"
#include "search/DeviceList.h"
#include "socket_test_support.h"

#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;
using routersim::WebServer;
using routersim::WebServerConfig;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

const QByteArray kCommonLines =
    "Accept-Language: zh-tw\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0 (Compatible; MSIE 5.0; Windows 98; DigExt)\r\n"
    "Connection: Keep-Alive\r\n"
    "\r\n";

QByteArray loginBytes(const QByteArray& pw, const QByteArray& extra = {}) {
    return "GET /cgi-bin/logi?rc=@&PSW=" + pw + "&rd=menu HTTP/1.1\r\n" + extra + "\r\n" +
           kCommonLines;
}

const QByteArray kIndexBytes = "GET / HTTP/1.1\r\n" + kCommonLines;

class LoginTest : public ::testing::Test {
protected:
    RecordingSinks rec;
    qint16 method = 2;
    std::unique_ptr<WebServer> server;

    void serve(const QString& options) {
        QString error;
        auto cfg = WebServerConfig::parse(options, &error);
        ASSERT_TRUE(cfg) << error.toStdString();
        server = std::make_unique<WebServer>(*cfg);
        ASSERT_TRUE(server->start(kLoopback, 0, &error)) << error.toStdString();
    }
    LoginContext context() {
        LoginContext ctx;
        ctx.sinks = rec.sinks();
        ctx.upgradeMethod = &method;
        ctx.webPort = server ? server->port() : 1;
        ctx.transferTimeout = std::chrono::seconds(5);
        return ctx;
    }
    int check(const QString& password) {
        LoginContext ctx = context();
        return CheckLogin(ctx, password, kLoopback);
    }
    QList<QByteArray> wire() const {
        QList<QByteArray> out;
        for (const auto& r : server->requests())
            out << r.bytes;
        return out;
    }
    bool logHas(const QString& line) const { return rec.log().contains(line); }
};

} // namespace

TEST_F(LoginTest, NewFirmwareRightPasswordReturnsThePortWithExactRequests) {
    serve(QStringLiteral("password=secret"));
    EXPECT_EQ(check(QStringLiteral("secret")), server->port());
    EXPECT_EQ(wire(), (QList<QByteArray>{loginBytes("secret"), kIndexBytes}));
    EXPECT_EQ(rec.log(), (QStringList{QStringLiteral("send login PKT success"),
                                      QStringLiteral("send index PKT success"),
                                      QStringLiteral("Login password correct in New version")}));
    EXPECT_EQ(method, 2);
}

TEST_F(LoginTest, NewFirmwareWrongPasswordAndUnknownCode) {
    serve(QStringLiteral("password=secret"));
    EXPECT_EQ(check(QString()), LoginCode::WrongPassword);
    EXPECT_EQ(wire().first(), loginBytes(""));
    EXPECT_TRUE(logHas(QStringLiteral("Login password error in New version")));

    server->setConfig(*WebServerConfig::parse(QStringLiteral("cas=7777")));
    EXPECT_EQ(check(QStringLiteral("x")), LoginCode::BadReply);
    EXPECT_TRUE(logHas(QStringLiteral("unknow error code : 7777")));
}

TEST_F(LoginTest, OldFirmwareChoosesFtpOrHttpAfterAFtpFailure) {
    serve(QStringLiteral("firmware=old,password=pw"));
    EXPECT_EQ(check(QStringLiteral("pw")), server->port());
    EXPECT_EQ(method, 3);
    EXPECT_TRUE(logHas(QStringLiteral("Old version detect")));
    EXPECT_TRUE(logHas(QStringLiteral("Login password correct in Old version")));

    method = 133;
    EXPECT_EQ(check(QStringLiteral("wrong")), LoginCode::WrongPassword);
    EXPECT_EQ(method, 2);
    const QStringList log = rec.log();
    const qsizetype at = log.indexOf(QStringLiteral("FTP Mode upgrade fail last time..."));
    ASSERT_GE(at, 0);
    EXPECT_EQ(log.mid(at, 4), (QStringList{QStringLiteral("FTP Mode upgrade fail last time..."),
                                           QStringLiteral("Try to use HTTP Mode to upgrade "),
                                           QStringLiteral("Old version detect"),
                                           QStringLiteral("Login password error in Old version")}));
}

TEST_F(LoginTest, Missing404CgiIsRetriedOnceWithRdBegin) {
    serve(QStringLiteral("password=a,login404=1"));
    EXPECT_EQ(check(QStringLiteral("a")), server->port());
    EXPECT_EQ(wire(),
              (QList<QByteArray>{loginBytes("a"), loginBytes("a", "rd=begin"), kIndexBytes}));
    EXPECT_TRUE(logHas(QStringLiteral("NO CGI Found, and test again")));

    server->setConfig(*WebServerConfig::parse(QStringLiteral("login404=2")));
    server->clearRequests();
    EXPECT_EQ(check(QStringLiteral("a")), LoginCode::NoCgi);
    EXPECT_EQ(server->requestCount(), 2);
    EXPECT_TRUE(logHas(QStringLiteral("NO CGI Found in send login")));
}

TEST_F(LoginTest, LoginBadRequestAndNotCompleteGoOnWithTheIndex) {
    serve(QStringLiteral("password=a,login400=1,login503=1"));
    EXPECT_EQ(check(QStringLiteral("zz")), LoginCode::WrongPassword); // no right login seen
    ASSERT_EQ(rec.boxes().size(), 1);
    EXPECT_EQ(rec.boxes()[0].text, QStringLiteral("error 01"));
    EXPECT_EQ(rec.boxes()[0].caption, QStringLiteral("File Error"));
    EXPECT_EQ(rec.boxes()[0].buttons, BoxButtons::OkCancel);
    EXPECT_TRUE(logHas(QStringLiteral("Bad request in send login")));
    EXPECT_EQ(wire(), (QList<QByteArray>{loginBytes("zz"), kIndexBytes}));

    EXPECT_EQ(check(QStringLiteral("zz")), LoginCode::WrongPassword);
    EXPECT_TRUE(logHas(QStringLiteral("Upgrade Not Complete at last time in send login")));
}

TEST_F(LoginTest, IndexReplyClasses) {
    struct Case {
        const char* options;
        int code;
        const char* line;
    };
    const Case cases[] = {
        {"index=400", LoginCode::BadRequest, "Bad request in send get index"},
        {"index=404", LoginCode::NoCgi, "NO CGI Found in send get index"},
        {"index=301", LoginCode::PortRedirectFailed,
         "unexpect port number error in send get_index PKT"},
        {"index=500", LoginCode::BadReply, "Receive login PKT error in send get index"},
        {"basicuser=admin,basicpass=x", LoginCode::BasicAuthWanted,
         "Peer ask for win-authentication"},
    };
    serve(QString());
    for (const Case& c : cases) {
        auto cfg = WebServerConfig::parse(QString::fromLatin1(c.options));
        ASSERT_TRUE(cfg);
        server->setConfig(*cfg);
        EXPECT_EQ(check(QStringLiteral("admin")), c.code) << c.options;
        EXPECT_EQ(rec.log().constLast(), QString::fromLatin1(c.line)) << c.options;
    }
    ASSERT_EQ(rec.boxes().size(), 1);
    EXPECT_EQ(rec.boxes()[0].text, QStringLiteral("error 02"));

    // 503 with the right CAS code still counts as a right password.
    server->setConfig(*WebServerConfig::parse(QStringLiteral("index=503")));
    EXPECT_EQ(check(QStringLiteral("admin")), server->port());
    EXPECT_TRUE(logHas(QStringLiteral("Upgrade Not Complete at last time in send get index")));
}

TEST_F(LoginTest, RedirectToAnotherPortIsFollowed) {
    serve(QStringLiteral("password=p,redirect=auto"));
    const quint16 second = server->redirectPort();
    if (QByteArray::number(second).front() == '9')
        GTEST_SKIP() << "ephemeral port starts with 9, which the redirect rule ignores";
    EXPECT_EQ(check(QStringLiteral("p")), second);
    const auto requests = server->requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].localPort, server->port());
    EXPECT_EQ(requests[1].localPort, second);
    EXPECT_EQ(requests[1].bytes, loginBytes("p"));
    EXPECT_EQ(requests[2].localPort, second);
    EXPECT_TRUE(logHas(QStringLiteral("Resend login pkt in port : ") + QString::number(second)));
}

TEST_F(LoginTest, RedirectWithoutAUsablePort) {
    serve(QStringLiteral("password=p,redirect=9000"));
    // ':9' is no port: the index is asked on the old port.
    EXPECT_EQ(check(QStringLiteral("p")), LoginCode::WrongPassword);
    EXPECT_EQ(wire(), (QList<QByteArray>{loginBytes("p"), kIndexBytes}));

    server->setConfig(*WebServerConfig::parse(QStringLiteral("redirect=80/index.htm")));
    EXPECT_EQ(check(QStringLiteral("p")), LoginCode::PortRedirectFailed);
    EXPECT_EQ(rec.log().constLast(), QStringLiteral("Invalid login port number : 80/index.htm"));
}

TEST_F(LoginTest, EndlessRedirectsAreGivenUp) {
    serve(QStringLiteral("redirect=self"));
    if (QByteArray::number(server->port()).front() == '9')
        GTEST_SKIP() << "ephemeral port starts with 9";
    EXPECT_EQ(check(QStringLiteral("p")), LoginCode::PortRedirectFailed);
    EXPECT_EQ(server->requestCount(), MaxLoginRedirects + 1);
    EXPECT_EQ(rec.log().constLast(),
              QStringLiteral("Login port redirected more than 8 times; given up"));
}

TEST_F(LoginTest, RedirectPortTextRule) {
    EXPECT_EQ(RedirectPortText("HTTP/1.1 301 Moved\r\nLocation: http://10.0.0.1:8080\r\nX: 1\r\n"),
              QByteArray("8080"));
    EXPECT_EQ(RedirectPortText("HTTP/1.1 301 Moved\r\nA:0\r\nB:9000\r\n"), std::nullopt);
    EXPECT_EQ(RedirectPortText("301 x:80/index.htm\r\n"), QByteArray("80/index.htm"));
    EXPECT_EQ(RedirectPortText("301 x:81"), QByteArray("81"));
    EXPECT_EQ(ParsePortText("8080"), quint16(8080));
    EXPECT_EQ(ParsePortText("65617"), quint16(81)); // the low 16 bits
    EXPECT_EQ(ParsePortText("80/index.htm"), std::nullopt);
    EXPECT_EQ(ParsePortText(""), std::nullopt);
}

TEST_F(LoginTest, NothingToTalkToIsASendFailure) {
    quint16 closed = 0;
    {
        WebServer probe;
        ASSERT_TRUE(probe.start(kLoopback, 0));
        closed = probe.port();
    }
    LoginContext ctx = context();
    ctx.webPort = closed;
    EXPECT_EQ(CheckLogin(ctx, QStringLiteral("p"), kLoopback), LoginCode::SendFailed);
    EXPECT_EQ(
        rec.log(),
        (QStringList{QStringLiteral("send login PKT error"),
                     QStringLiteral("Failed to connect socket to IP : 127.0.0.1 and port : ") +
                         QString::number(closed)}));
}

TEST_F(LoginTest, ReplyThatNeverComesIsAReceiveFailure) {
    ScriptedPeer peer({});
    LoginContext ctx = context();
    ctx.webPort = peer.port();
    EXPECT_EQ(CheckLogin(ctx, QStringLiteral("p"), kLoopback), LoginCode::BadReply);
    EXPECT_EQ(rec.log(), (QStringList{QStringLiteral("send login PKT success"),
                                      QStringLiteral("receive response error 0 in send login PKT"),
                                      QStringLiteral("Read Data error!")}));
    EXPECT_EQ(peer.finish(), loginBytes("p"));
}

TEST_F(LoginTest, UnrecognisedLoginReply) {
    ScriptedPeer peer({{"HTTP/1.1 302 Found\r\n\r\n"}});
    LoginContext ctx = context();
    ctx.webPort = peer.port();
    EXPECT_EQ(CheckLogin(ctx, QStringLiteral("p"), kLoopback), LoginCode::BadReply);
    EXPECT_EQ(rec.log().constLast(), QStringLiteral("Receive login PKT error in send login"));
}

TEST_F(LoginTest, UnsafeOrOversizedInputIsRefusedBeforeSending) {
    serve(QString());
    EXPECT_EQ(check(QStringLiteral("a\r\nHost: x")), LoginCode::SendFailed);
    EXPECT_EQ(check(QStringLiteral("a\nb")), LoginCode::SendFailed);
    EXPECT_EQ(check(QString::fromLatin1("a\0b", 3)), LoginCode::SendFailed);
    EXPECT_EQ(check(QString(MaxLoginPasswordLength + 1, QLatin1Char('p'))), LoginCode::SendFailed);
    EXPECT_EQ(rec.log().constFirst(),
              QStringLiteral("Password holds a line break or NUL; nothing sent"));
    EXPECT_EQ(server->requestCount(), 0);
    // The longest password still goes out whole.
    EXPECT_EQ(check(QString(MaxLoginPasswordLength, QLatin1Char('p'))), LoginCode::WrongPassword);
    EXPECT_EQ(wire().first(), loginBytes(QByteArray(MaxLoginPasswordLength, 'p')));
}

TEST_F(LoginTest, BasicAuthenticationRequestAndAnswers) {
    serve(QStringLiteral("basicuser=admin,basicpass=1234"));
    LoginContext ctx = context();
    EXPECT_EQ(BasicAuthLogin(ctx, QStringLiteral("admin"), QStringLiteral("1234"), kLoopback),
              server->port());
    const QByteArray expected =
        "GET / HTTP/1.1\r\n"
        "Accept: image/gif, image/x-xbitmap, image/jpeg,image/pjpeg, */*\r\n"
        "Accept-Language: zh-tw\r\n"
        "Accept-Encoding: gzip, deflate\r\n"
        "User-Agent: Mozilla/4.0 (Compatible; MSIE 6.0; Windows NT; 5.1)\r\n"
        "Host: 127.0.0.1\r\n"
        "Connection: Keep-Alive\r\n"
        "Authorization: Basic YWRtaW46MTIzNA==\r\n"
        "\r\n";
    EXPECT_EQ(wire().first(), expected);
    EXPECT_EQ(rec.log(), QStringList{QStringLiteral("send win_auth login PKT success")});

    EXPECT_EQ(BasicAuthLogin(ctx, QStringLiteral("admin"), QString(), kLoopback),
              LoginCode::WrongPassword);
    EXPECT_TRUE(wire().constLast().contains("Authorization: Basic YWRtaW46\r\n"));
    EXPECT_EQ(rec.log().constLast(),
              QStringLiteral("Username or Password error in win-auth login"));

    server->setConfig(*WebServerConfig::parse(QStringLiteral("index=503")));
    EXPECT_EQ(BasicAuthLogin(ctx, QStringLiteral("admin"), QString(), kLoopback),
              LoginCode::BadReply);
    EXPECT_EQ(rec.log().constLast(), QStringLiteral("Receive win-auth login PKT error"));
}

TEST_F(LoginTest, BasicAuthenticationInputLimits) {
    serve(QString());
    LoginContext ctx = context();
    EXPECT_EQ(BasicAuthLogin(ctx, QString(20, QLatin1Char('u')), QStringLiteral("p"), kLoopback),
              LoginCode::SendFailed);
    EXPECT_EQ(BasicAuthLogin(ctx, QString(19, QLatin1Char('u')), QString(26, QLatin1Char('p')),
                             kLoopback),
              LoginCode::SendFailed);
    EXPECT_EQ(BasicAuthLogin(ctx, QStringLiteral("u\r"), QStringLiteral("p"), kLoopback),
              LoginCode::SendFailed);
    EXPECT_EQ(server->requestCount(), 0);
    EXPECT_EQ(BasicAuthLogin(ctx, QString(19, QLatin1Char('u')), QString(25, QLatin1Char('p')),
                             kLoopback),
              ctx.webPort);
}

TEST(Base64EncodeTest, Rfc4648Vectors) {
    EXPECT_EQ(Base64Encode(""), QByteArray(""));
    EXPECT_EQ(Base64Encode("f"), QByteArray("Zg=="));
    EXPECT_EQ(Base64Encode("fo"), QByteArray("Zm8="));
    EXPECT_EQ(Base64Encode("foo"), QByteArray("Zm9v"));
    EXPECT_EQ(Base64Encode("foob"), QByteArray("Zm9vYg=="));
    EXPECT_EQ(Base64Encode("fooba"), QByteArray("Zm9vYmE="));
    EXPECT_EQ(Base64Encode("foobar"), QByteArray("Zm9vYmFy"));
    EXPECT_EQ(Base64Encode("user:"), QByteArray("dXNlcjo="));
}

TEST(FindRouterRecordTest, FirstExactAddress) {
    DeviceList devices;
    devices.append({1, QStringLiteral("192.168.1.1"), QStringLiteral("ABC"), {}});
    devices.append({2, QStringLiteral("192.168.1.10"), QStringLiteral("DEF"), {}});
    devices.append({5, QStringLiteral("192.168.1.10"), QStringLiteral("GHI"), {}});
    QString romId = QStringLiteral("untouched");
    qint32 type = -99;
    EXPECT_EQ(FindRouterRecord(devices, QStringLiteral("192.168.1.2"), &romId, &type), -1);
    EXPECT_EQ(romId, QStringLiteral("untouched"));
    EXPECT_EQ(type, -99);
    EXPECT_EQ(FindRouterRecord(devices, QStringLiteral("192.168.1.10"), &romId, &type), 1);
    EXPECT_EQ(romId, QStringLiteral("DEF"));
    EXPECT_EQ(type, 2);
}

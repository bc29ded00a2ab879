// The FTP client against the in-process FTP server on loopback: the exact commands on the
// wire, the status texts in order, login outcomes, reply parsing at its edges, the data
// connections both ways, the time-outs and the event loop turning while a call blocks.

#include "ftp/TFtpClient.h"
#include "ftp_test_support.h"
#include "socket_test_support.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace fw;
using namespace fw::test;
using routersim::FtpServer;
using routersim::FtpServerConfig;

namespace {

struct Recorder {
    QStringList status;
    QList<QPair<int, QString>> errors;
    int connects = 0;
    int packetsSent = 0;
    int packetsRecvd = 0;
    int failures = 0;
};

std::unique_ptr<TFtpClient> makeClient(quint16 port, Recorder& r,
                                       const QString& password = QStringLiteral("admin")) {
    auto c = std::make_unique<TFtpClient>();
    c->Host = QStringLiteral("127.0.0.1");
    c->Port = port;
    c->TimeOut = 1000ms;
    c->ReportLevel = TTcpSocket::LevelCommand;
    c->UserID = QStringLiteral("root");
    c->Password = password;
    c->OnStatus = [&r](TTcpSocket&, const QString& t) { r.status << t; };
    c->OnError = [&r](TTcpSocket&, int n, const QString& t) { r.errors.append({n, t}); };
    c->OnConnect = [&r](TFtpClient&) { ++r.connects; };
    c->OnPacketSent = [&r](TTcpSocket&) { ++r.packetsSent; };
    c->OnPacketRecvd = [&r](TTcpSocket&) { ++r.packetsRecvd; };
    c->OnFailure = [&r](TFtpClient&, bool&, int kind) {
        EXPECT_EQ(kind, TFtpClient::KindTransfer);
        ++r.failures;
    };
    return c;
}

// The data port a PORT command names; 0 when it is malformed.
quint16 portOf(const QByteArray& command) {
    const QList<QByteArray> p = command.mid(5).split(',');
    if (p.size() != 6)
        return 0;
    return quint16(p[4].toUInt() * 256 + p[5].toUInt());
}

QString messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const FtpException& e) {
        return e.message();
    }
    return QStringLiteral("<no exception>");
}

} // namespace

TEST(FtpClientWire, PortArgumentIsAddressAndPortBytes) {
    EXPECT_EQ(TFtpClient::PortArgument(0xC0A8000A, 5000), QByteArray("192,168,0,10,19,136"));
    EXPECT_EQ(TFtpClient::PortArgument(0x7F000001, 65535), QByteArray("127,0,0,1,255,255"));
    EXPECT_EQ(TFtpClient::PortArgument(0, 0), QByteArray("0,0,0,0,0,0"));
}

TEST(FtpClientWire, ReplyNumberIsTheLeadingDigits) {
    EXPECT_EQ(TTcpSocket::replyNumberOf("230 ok\r\n"), 230);
    EXPECT_EQ(TTcpSocket::replyNumberOf("220-more\r\n"), 220);
    EXPECT_EQ(TTcpSocket::replyNumberOf("hello\r\n"), 0);
    EXPECT_EQ(TTcpSocket::replyNumberOf(""), 0);
    EXPECT_EQ(TTcpSocket::replyNumberOf(" 530"), 0);
    // At most ten digits count, and nothing overflows.
    EXPECT_EQ(TTcpSocket::replyNumberOf("123456789012345"), 1234567890);
    EXPECT_EQ(TTcpSocket::replyNumberOf("9999999999"), std::numeric_limits<int>::max());
}

TEST(FtpClientWire, StoreSendsTheExactCommandsAndTheFileByteExact) {
    auto server = startFtpServer();
    QTemporaryDir dir;
    const QByteArray bytes = patternBytes(300000, 1);
    const QString path = writeFile(dir, QStringLiteral("local.bin"), bytes);
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->Connect();
    EXPECT_TRUE(c->Connected());
    EXPECT_EQ(r.connects, 1);
    c->Upload(path, QStringLiteral("fw.bin"));
    c->Disconnect();
    EXPECT_FALSE(c->Connected());

    ASSERT_TRUE(server->waitForClosed(1, 5s));
    const QList<QByteArray> cmds = server->commands();
    ASSERT_EQ(cmds.size(), 5);
    EXPECT_EQ(cmds[0], "USER root");
    EXPECT_EQ(cmds[1], "PASS admin");
    EXPECT_TRUE(cmds[2].startsWith("PORT 127,0,0,1,")) << cmds[2].constData();
    EXPECT_NE(portOf(cmds[2]), 0);
    EXPECT_EQ(cmds[3], "STOR fw.bin");
    EXPECT_EQ(cmds[4], "QUIT");
    EXPECT_EQ(server->transcript(),
              "USER root\r\nPASS admin\r\n" + cmds[2] + "\r\nSTOR fw.bin\r\nQUIT\r\n");
    const auto stored = server->storedFiles();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].name, "fw.bin");
    EXPECT_EQ(stored[0].size, bytes.size());
    EXPECT_TRUE(stored[0].bytes == bytes);
    EXPECT_GT(r.packetsSent, 0);
    EXPECT_EQ(c->GetBytesSent(), bytes.size());

    // The "PORT" command itself is not reported, only its reply.
    EXPECT_EQ(r.status,
              (QStringList{"220 routersim FTP server ready", "USER root", "331 Password required",
                           "PASS ", "230 User logged in", "200 PORT command successful",
                           "STOR fw.bin", "150 Opening data connection", "226 Transfer complete",
                           "QUIT", "221 Goodbye"}));
    EXPECT_TRUE(r.errors.isEmpty());
}

TEST(FtpClientWire, EmptyRemoteNameUsesTheLocalFileName) {
    auto server = startFtpServer();
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("own-name.img"), "abc");
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->Connect();
    c->Upload(path, {});
    ASSERT_EQ(server->storedFiles().size(), 1);
    EXPECT_EQ(server->storedFiles()[0].name, "own-name.img");
    EXPECT_EQ(server->storedFiles()[0].bytes, "abc");
}

TEST(FtpClientLogin, UserAcceptedAt230SendsNoPassword) {
    auto server = startFtpServer(QStringLiteral("user=230"));
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->Connect();
    EXPECT_EQ(r.connects, 1);
    c->Disconnect();
    ASSERT_TRUE(server->waitForClosed(1, 5s));
    EXPECT_EQ(server->transcript(), "USER root\r\nQUIT\r\n");
}

TEST(FtpClientLogin, LineEndsInAPasswordCannotStartAnotherCommand) {
    auto server = startFtpServer(QStringLiteral("password=pw"));
    Recorder r;
    auto c = makeClient(server->port(), r, QStringLiteral("pw\r\nDELE fw.bin"));
    c->Connect();
    c->Disconnect();
    ASSERT_TRUE(server->waitForClosed(1, 5s));
    EXPECT_EQ(server->transcript(), "USER root\r\nPASS pw\r\nQUIT\r\n");
}

TEST(FtpClientLogin, MultiLineGreetingIsReportedBeforeUser) {
    auto server = startFtpServer(QStringLiteral("multiline=1"));
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->Connect();
    EXPECT_EQ(r.status.mid(0, 4),
              (QStringList{"220-routersim FTP server", "220-Welcome", "220 Ready", "USER root"}));
}

TEST(FtpClientLogin, WrongPasswordQuitsAndRaisesThe530Line) {
    auto server = startFtpServer(QStringLiteral("password=right"));
    Recorder r;
    auto c = makeClient(server->port(), r, QStringLiteral("wrong"));
    const QString m = messageOf([&] { c->Connect(); });
    EXPECT_EQ(m, QStringLiteral("530 Login incorrect\r\n"));
    EXPECT_EQ(r.connects, 0);
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(r.status.mid(r.status.size() - 3),
              (QStringList{"QUIT", "221 Goodbye", "Disconnected"}));
    ASSERT_TRUE(server->waitForClosed(1, 5s));
    EXPECT_EQ(server->commands(), (QList<QByteArray>{"USER root", "PASS wrong", "QUIT"}));
}

TEST(FtpClientLogin, RefusingGreetingAndRefusedQuitKeepTheLoginFailure) {
    {
        auto server = startFtpServer(QStringLiteral("greeting=421"));
        Recorder r;
        auto c = makeClient(server->port(), r);
        int failedEvents = 0;
        c->OnConnectionFailed = [&](TFtpClient&) { ++failedEvents; };
        EXPECT_EQ(messageOf([&] { c->Connect(); }), "421 Refused by routersim\r\n");
        EXPECT_EQ(failedEvents, 1);
        EXPECT_TRUE(server->commands().isEmpty() ||
                    server->commands() == QList<QByteArray>{"QUIT"});
    }
    {
        // The "QUIT" refused as well: the caller still learns of the password.
        auto server = startFtpServer(QStringLiteral("pass=530,quit=500"));
        Recorder r;
        auto c = makeClient(server->port(), r);
        EXPECT_TRUE(messageOf([&] { c->Connect(); }).startsWith("530"));
        EXPECT_FALSE(c->Connected());
        EXPECT_EQ(r.status.last(), QStringLiteral("Disconnected"));
    }
}

TEST(FtpClientReplies, JunkOverLongAndContinuationLinesAreBounded) {
    auto server = startFtpServer();
    FtpServerConfig cfg = server->config();
    // No digits: code 0, which counts as acceptance; a blank-led line continues the reply.
    cfg.replies["GREETING"] = "hello there\r\n";
    cfg.replies["USER"] =
        "331-first\r\n still the same reply\r\n331 " + QByteArray(20000, 'x') + "\r\n";
    server->setConfig(cfg);
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->Connect();
    EXPECT_TRUE(c->Connected());
    EXPECT_EQ(r.status[0], QStringLiteral("hello there"));
    EXPECT_EQ(r.status[2], QStringLiteral("331-first"));
    EXPECT_EQ(r.status[3], QStringLiteral("still the same reply"));
    EXPECT_EQ(r.status[4].size(), TTcpSocket::MaxLineLength - 2); // cut, its line end kept
    EXPECT_TRUE(r.status[4].startsWith(QStringLiteral("331 xxx")));
    // The rest of the over-long line was read and dropped: the next reply is the password's.
    EXPECT_EQ(r.status[5], QStringLiteral("PASS "));
    EXPECT_EQ(r.status[6], QStringLiteral("230 User logged in"));
}

TEST(FtpClientReplies, LongBannerStaysInStepAndAReplyPastItsByteBoundEndsTheConnection) {
    auto server = startFtpServer();
    FtpServerConfig cfg = server->config();
    QByteArray banner;
    for (int i = 0; i < 1500; ++i)
        banner += "220-Authorised use only, line " + QByteArray::number(i) + "\r\n";
    cfg.replies["GREETING"] = banner + "220 ready\r\n";
    server->setConfig(cfg);
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->Connect();
    EXPECT_TRUE(c->Connected());
    ASSERT_EQ(r.status.size(), 1501 + 4);
    EXPECT_EQ(r.status[1500], QStringLiteral("220 ready"));
    EXPECT_EQ(r.status[1501], QStringLiteral("USER root"));
    EXPECT_EQ(r.status[1502], QStringLiteral("331 Password required"));
    EXPECT_EQ(r.status[1504], QStringLiteral("230 User logged in"));
    c->Disconnect();

    // The same banner against a smaller bound: the login ends there, nothing is sent after it.
    server->clear();
    c->ReplyByteLimit = 4096;
    EXPECT_EQ(messageOf([&] { c->Connect(); }),
              QStringLiteral("FTP reply longer than 4096 bytes; connection closed"));
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(r.connects, 1);
    EXPECT_TRUE(server->waitForClosed(2, 5s));
    EXPECT_TRUE(server->commands().isEmpty());
}

TEST(FtpClientReplies, AReplyTricklingPastItsDeadlineEndsThere) {
    // A byte every 10 ms, never a line end: data is always about to be ready, yet the wait's
    // deadline ends the reply.
    QList<ScriptedPeer::Part> trickle;
    for (int i = 0; i < 150; ++i)
        trickle.append({QByteArray("2"), 10ms});
    ScriptedPeer peer(trickle, 0ms, 0);
    TTcpSocket socket;
    socket.Host = QStringLiteral("127.0.0.1");
    socket.Port = peer.port();
    socket.ReplyWaitLimit = 300ms;
    socket.Connect();
    QElapsedTimer clock;
    clock.start();
    QString message;
    try {
        socket.ReadLn();
    } catch (const FtpException& e) {
        message = e.message();
    }
    EXPECT_EQ(message, QStringLiteral("FTP reply not complete within 0.3 s; connection closed"));
    EXPECT_GE(clock.elapsed(), 290);
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST(FtpClientReplies, ServerHangingUpInsteadOfAnsweringIsASocketError) {
    auto server = startFtpServer(QStringLiteral("close=PASS"));
    Recorder r;
    auto c = makeClient(server->port(), r);
    EXPECT_EQ(messageOf([&] { c->Connect(); }), QStringLiteral("10057:Socket is not connected"));
    ASSERT_FALSE(r.errors.isEmpty());
    EXPECT_EQ(r.errors[0].first, 10057);
    EXPECT_EQ(r.connects, 0);
    EXPECT_FALSE(c->Connected());
}

TEST(FtpClientConnect, RefusedConnectionReportsTheSocketErrorFirst) {
    ftpTestApp();
    quint16 port = 0;
    const int holder = closedPort(&port);
    Recorder r;
    auto c = makeClient(port, r);
    int failedEvents = 0;
    c->OnConnectionFailed = [&](TFtpClient&) { ++failedEvents; };
    EXPECT_EQ(messageOf([&] { c->Connect(); }), QStringLiteral("Connection Failed"));
    ::close(holder);
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_EQ(r.errors[0].first, 10061);
    EXPECT_EQ(r.errors[0].second, QStringLiteral("10061:Connection refused"));
    EXPECT_EQ(failedEvents, 1);
    EXPECT_FALSE(c->Connected());
}

TEST(FtpClientConnect, UnansweredConnectionTimesOut) {
    ftpTestApp();
    // A listener whose accept queue is full drops further connection requests.
    quint16 port = 0;
    const int listener = closedPort(&port);
    ASSERT_EQ(::listen(listener, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int f = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(f, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fillers.push_back(f);
    }
    QThread::msleep(50);
    Recorder r;
    auto c = makeClient(port, r);
    c->TimeOut = 300ms;
    QElapsedTimer clock;
    clock.start();
    const QString m = messageOf([&] { c->Connect(); });
    const qint64 took = clock.elapsed();
    for (int f : fillers)
        ::close(f);
    ::close(listener);
    if (m != QStringLiteral("Connection Timed out"))
        GTEST_SKIP() << "this kernel accepted the connection: " << m.toStdString();
    EXPECT_GE(took, 290);
    EXPECT_LT(took, 3000);
}

TEST(FtpClientConnect, NotConnectedAndAlreadyConnected) {
    Recorder r;
    auto c = makeClient(1, r);
    EXPECT_EQ(messageOf([&] { c->Upload(QStringLiteral("/nonexistent"), {}); }),
              QStringLiteral("Not Connected"));
    EXPECT_EQ(messageOf([&] { c->Download(QStringLiteral("0#1"), QStringLiteral("/x")); }),
              QStringLiteral("Not Connected"));
    c->Disconnect(); // nothing to close: no exception
    c->Host.clear();
    EXPECT_EQ(messageOf([&] { c->Connect(); }), QStringLiteral("Null Remote Address"));
    c->Host = QStringLiteral("127.0.0.1");
    auto server = startFtpServer();
    c->Port = server->port();
    c->Connect();
    c->Connect(); // a second Connect while connected does nothing
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_EQ(messageOf([&] { c->TTcpSocket::Connect(); }), QStringLiteral("Already connected"));
}

TEST(FtpClientTransfer, RejectionAfterTheDataArrivesOnlyAsStatus) {
    auto server = startFtpServer(QStringLiteral("storreply=429"));
    QTemporaryDir dir;
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->Connect();
    c->Upload(writeFile(dir, QStringLiteral("f"), "data"), QStringLiteral("f"));
    EXPECT_EQ(r.status.last(), QStringLiteral("429 Incorrect upgrade file"));
    EXPECT_EQ(r.failures, 0);
}

TEST(FtpClientTransfer, RefusedStoreRaisesTheReplyLine) {
    auto server = startFtpServer(QStringLiteral("stor=502"));
    QTemporaryDir dir;
    Recorder r;
    auto c = makeClient(server->port(), r);
    int unsupported = 0;
    c->OnUnSupportedFunction = [&](TFtpClient&) { ++unsupported; };
    c->Connect();
    EXPECT_EQ(messageOf([&] { c->Upload(writeFile(dir, "f", "x"), "f"); }),
              QStringLiteral("502 Refused by routersim\r\n"));
    EXPECT_EQ(unsupported, 1);
    EXPECT_EQ(r.failures, 1);
    EXPECT_TRUE(c->Connected()); // the control connection stays usable
}

TEST(FtpClientTransfer, RetrieveWritesExactlyTheBytesReceived) {
    auto server = startFtpServer();
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("rom.bin"));
    writeFile(dir, QStringLiteral("rom.bin"), QByteArray(5000, 'o')); // overwritten
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->Connect();
    c->Download(QStringLiteral("4096#200000"), out);
    QByteArray expected(200000, '\0');
    for (int i = 0; i < expected.size(); ++i)
        expected[i] = char((4096 + i) & 0xFF);
    EXPECT_TRUE(readFile(out) == expected);
    EXPECT_EQ(c->GetBytesRcvd(), 200000);
    EXPECT_GT(r.packetsRecvd, 0);
    EXPECT_TRUE(r.status.contains(QStringLiteral("Received 200000 Bytes")));
    EXPECT_EQ(r.status.last(), QStringLiteral("226 Transfer complete"));
    const QList<QByteArray> cmds = server->commands();
    ASSERT_EQ(cmds.size(), 4);
    EXPECT_EQ(cmds[3], "RETR 4096#200000");
}

TEST(FtpClientTransfer, StalledRetrievalEndsAtTheTimeOut) {
    auto server = startFtpServer(QStringLiteral("datastall=1000"));
    QTemporaryDir dir;
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->TimeOut = 250ms;
    c->Connect();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(messageOf([&] { c->Download("0#5000", dir.filePath("out")); }),
              QStringLiteral("Socket send aborted"));
    EXPECT_GE(clock.elapsed(), 240);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(readFile(dir.filePath("out")).size(), 1000);
    EXPECT_EQ(r.failures, 1);
}

TEST(FtpClientTransfer, SilentStoreReplyCancelsTheDataConnectionAndEnds) {
    auto server = startFtpServer(QStringLiteral("stall=STOR"));
    QTemporaryDir dir;
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->TimeOut = 100ms;
    c->ReplyWaitLimit = 400ms;
    c->Connect();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(messageOf([&] { c->Upload(writeFile(dir, "f", "x"), "f"); }),
              QStringLiteral("FTP reply not complete within 0.4 s; connection closed"));
    EXPECT_FALSE(c->Connected()); // a late reply can never be read as another's
    EXPECT_GE(clock.elapsed(), 390);
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST(FtpClientTransfer, SlowCommandReplyCancelsTheWaitingDataConnection) {
    // The control connection's timer is not the end of a reply wait, but it cancels the data
    // connection of the transfer in progress.
    auto server = startFtpServer(QStringLiteral("delay=STOR:600"));
    QTemporaryDir dir;
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->TimeOut = 200ms;
    c->Connect();
    EXPECT_EQ(messageOf([&] { c->Upload(writeFile(dir, "f", "x"), "f"); }),
              QStringLiteral("Accepting Canceled"));
    // The reply itself was waited for.
    EXPECT_EQ(r.status.last(), QStringLiteral("150 Opening data connection"));

    // A slow transfer reply after the data has gone is harmless once it has arrived: QUIT
    // discards it. Give the server's delayed reply time to come, so QUIT does not race it.
    QTest::qWait(1500);
    FtpServerConfig cfg = server->config();
    cfg.delayOn = "GREETING";
    server->setConfig(cfg);
    c->Disconnect();
    c->Connect(); // the greeting waited for beyond the time-out
    EXPECT_TRUE(c->Connected());
}

TEST(FtpClientEvents, EventLoopTurnsWhileACallBlocks) {
    auto server = startFtpServer(QStringLiteral("stall=PASS"));
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->ReplyWaitLimit = 600ms;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    EXPECT_EQ(messageOf([&] { c->Connect(); }),
              QStringLiteral("FTP reply not complete within 0.6 s; connection closed"));
    EXPECT_GE(ticks, 10);
}

TEST(FtpClientEvents, CancelEndsAWaitAtOnce) {
    auto server = startFtpServer(QStringLiteral("stall=PASS"));
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->ReplyWaitLimit = 5s;
    QTimer::singleShot(100, [&] { c->CancelAll(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(messageOf([&] { c->Connect(); }), QStringLiteral("Socket readln aborted"));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(c->Connected());
    // A canceled component starts afresh on its next connection.
    server->setConfig({});
    c->Connect();
    EXPECT_TRUE(c->Connected());
}

TEST(FtpClientHangUp, AfterTheWholeFileItIsAcceptanceBeforeItAFailure) {
    QTemporaryDir dir;
    const QByteArray bytes = patternBytes(300000, 7);
    const QString file = writeFile(dir, QStringLiteral("fw.bin"), bytes);
    {
        auto server = startFtpServer(QStringLiteral("noreply=STOR"));
        Recorder r;
        auto c = makeClient(server->port(), r);
        c->Connect();
        c->Upload(file, QStringLiteral("fw.bin"));
        EXPECT_TRUE(c->TransferReplyMissing);
        EXPECT_EQ(r.failures, 0);
        EXPECT_FALSE(c->Connected());
        ASSERT_EQ(server->storedFiles().size(), 1);
        EXPECT_TRUE(server->storedFiles()[0].bytes == bytes);
    }
    {
        // Gone in the middle of the file: the data it had not read makes the close unclean.
        auto server = startFtpServer(QStringLiteral("storcut=100000"));
        Recorder r;
        auto c = makeClient(server->port(), r);
        c->Connect();
        const QString m = messageOf([&] { c->Upload(file, QStringLiteral("fw.bin")); });
        EXPECT_TRUE(m == QStringLiteral("10057:Socket is not connected") ||
                    m == QStringLiteral("10054:Connection reset by peer") ||
                    m == QStringLiteral("10058:Can't send after socket shutdown"))
            << m.toStdString();
        EXPECT_FALSE(c->TransferReplyMissing);
        EXPECT_EQ(r.failures, 1);
    }
}

TEST(FtpClientHangUp, RetrievalNeedsEveryByteAskedForBeforeTheHangUp) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("rom.bin"));
    auto server = startFtpServer(QStringLiteral("noreply=RETR"));
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->DownloadLimit = 512;
    c->Connect();
    c->Download(QStringLiteral("0#512"), out);
    EXPECT_TRUE(c->TransferReplyMissing);
    EXPECT_EQ(readFile(out).size(), 512);

    // Without a length to compare with, a missing reply cannot be told from a lost one.
    c->DownloadLimit = -1;
    c->Connect();
    EXPECT_EQ(messageOf([&] { c->Download(QStringLiteral("0#512"), out); }),
              QStringLiteral("10057:Socket is not connected"));
}

TEST(FtpClientTransfer, RetrievalStopsAtItsLimitAndCountsWhatWasOffered) {
    auto server = startFtpServer(QStringLiteral("retrextra=188"));
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("rom.bin"));
    Recorder r;
    auto c = makeClient(server->port(), r);
    c->DownloadLimit = 512;
    c->Connect();
    c->Download(QStringLiteral("0#512"), out);
    QByteArray expected(512, '\0');
    for (int i = 0; i < 512; ++i)
        expected[i] = char(i & 0xFF);
    EXPECT_TRUE(readFile(out) == expected);
    EXPECT_EQ(c->GetBytesRcvd(), 512);
    EXPECT_EQ(c->DownloadExcess, 188);
    EXPECT_TRUE(r.status.contains(QStringLiteral("Received 512 Bytes")));
}

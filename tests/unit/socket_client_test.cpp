#include "net/SocketClient.h"
#include "net/SocketErrors.h"
#include "process/ProcessState.h"
#include "search/DeviceSearch.h"
#include "socket_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Opens and connects a client to the peer and sends a one-line request.
void connectAndAsk(SocketClient& c, const ScriptedPeer& peer) {
    ASSERT_EQ(c.OpenSocket(), 1);
    ASSERT_EQ(c.ConnectTo(kLoopback, peer.port()), 1) << c.lastError.toStdString();
    ASSERT_EQ(c.SendData(QByteArray("GET / HTTP/1.1\r\n\r\n")), 18);
}

} // namespace

TEST(SocketErrorTextTest, FixedTextsAndUnknownNumbers) {
    EXPECT_EQ(SocketErrorText(10004), QStringLiteral("Interrupted system call."));
    EXPECT_EQ(SocketErrorText(10047),
              QStringLiteral("Address family not supported by protocol family."));
    EXPECT_EQ(SocketErrorText(10059), QStringLiteral("Too many references: can not splice."));
    EXPECT_EQ(SocketErrorText(10061), QStringLiteral("Connection refused."));
    EXPECT_EQ(SocketErrorText(10101), QStringLiteral("Disconnect."));
    EXPECT_EQ(SocketErrorText(11004),
              QStringLiteral("Valid name, no data record of requested type."));
    EXPECT_EQ(SocketErrorText(10000), QStringLiteral("unknown error code : 10000"));
    EXPECT_EQ(SocketErrorText(10072), QStringLiteral("unknown error code : 10072"));
}

TEST(SocketErrorTextTest, NoRouteToHostStopsTheRepeatedSearch) {
    const DeviceSearch search; // installs its no-route hook
    ProcessState::repeatSearch = true;
    EXPECT_EQ(SocketErrorText(10060), QStringLiteral("Connection timed out."));
    EXPECT_TRUE(ProcessState::repeatSearch);
    EXPECT_EQ(SocketErrorText(10065), QStringLiteral("No route to host."));
    EXPECT_FALSE(ProcessState::repeatSearch);
}

TEST(SocketErrorTextTest, PlatformNumbersMapToWindowsSocketsNumbers) {
    EXPECT_EQ(wsaErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(wsaErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(wsaErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(wsaErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(wsaErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(wsaErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(wsaErrorFromErrno(EPIPE), 10058);
    EXPECT_EQ(wsaErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(wsaErrorFromErrno(EINPROGRESS), 10036);
}

TEST(SocketClientTest, StartsAndStopsStayBalanced) {
    const int before = SocketClient::networkBalance();
    {
        SocketClient c;
        EXPECT_TRUE(SocketClient::networkStarted());
        EXPECT_EQ(c.OpenSocket(), 1);
        EXPECT_TRUE(SocketClient::connectionOpen());
        EXPECT_EQ(SocketClient::networkBalance(), before + 1);
    }
    EXPECT_FALSE(SocketClient::connectionOpen());
    EXPECT_EQ(SocketClient::networkBalance(), before);
}

TEST(SocketClientTest, ConnectFailuresCarryAddressAndPortOnly) {
    SocketClient c;
    ASSERT_EQ(c.OpenSocket(), 1);
    EXPECT_EQ(c.ConnectTo(QStringLiteral("localhost"), 80), -1);
    EXPECT_EQ(c.lastError,
              QStringLiteral("Failed to connect socket to IP : localhost and port : 80"));
    EXPECT_EQ(c.ConnectTo(QStringLiteral("127.0.0.1.5"), 80), -1);

    // A port nobody listens on: refused, with the same text.
    quint16 closedPort = 0;
    {
        ScriptedPeer probe({}, 0ms);
        closedPort = probe.port();
        SocketClient k;
        ASSERT_EQ(k.OpenSocket(), 1);
        ASSERT_EQ(k.ConnectTo(kLoopback, closedPort), 1);
    }
    SocketClient d;
    ASSERT_EQ(d.OpenSocket(), 1);
    EXPECT_EQ(d.ConnectTo(kLoopback, closedPort), -1);
    EXPECT_EQ(d.lastError,
              QStringLiteral("Failed to connect socket to IP : 127.0.0.1 and port : ") +
                  QString::number(closedPort));
}

TEST(SocketClientTest, WithoutASocketEveryTransferFails) {
    SocketClient c;
    char buf[16];
    EXPECT_EQ(c.ReceiveToBuffer(buf, sizeof buf), -1);
    EXPECT_EQ(c.lastError, QStringLiteral("INVALID_SOCKET in receive data."));
    EXPECT_EQ(buf[0], '\0');
    c.lastError.clear();
    EXPECT_EQ(c.SendData(QByteArray("x")), -1);
    EXPECT_TRUE(c.lastError.startsWith(QStringLiteral("Send Socket Error: ")));
}

TEST(SocketClientTest, SendOfNothingSendsNothing) {
    ScriptedPeer peer({{"HTTP/1.1 200 OK\r\n\r\nx"}}, 0ms, 0);
    SocketClient c;
    ASSERT_EQ(c.OpenSocket(), 1);
    ASSERT_EQ(c.ConnectTo(kLoopback, peer.port()), 1);
    RecordingSinks rec;
    EXPECT_EQ(c.SendData("abc", 0, &rec), 0);
    EXPECT_EQ(rec.advances, 0);
    QByteArray reply;
    EXPECT_EQ(c.ReceiveToBuffer(reply, 100), 20);
    EXPECT_EQ(peer.finish(), QByteArray());
}

TEST(SocketClientTest, ReplyMayFillCapacityMinusTwo) {
    const int capacity = 100;
    {
        ScriptedPeer peer({{QByteArray(capacity - 2, 'a')}});
        SocketClient c;
        connectAndAsk(c, peer);
        std::array<char, capacity> buf;
        buf.fill('#');
        EXPECT_EQ(c.ReceiveToBuffer(buf.data(), capacity), capacity - 2);
        EXPECT_EQ(buf[capacity - 3], 'a');
        EXPECT_EQ(buf[capacity - 2], '\0');
        EXPECT_EQ(buf[capacity - 1], '#');
        EXPECT_EQ(peer.finish(), QByteArray("GET / HTTP/1.1\r\n\r\n"));
    }
    {
        // Arriving in two chunks changes nothing.
        ScriptedPeer peer({{QByteArray(60, 'a')}, {QByteArray(capacity - 1 - 60, 'b'), 100ms}});
        SocketClient c;
        connectAndAsk(c, peer);
        std::array<char, capacity + 8> buf;
        buf.fill('#');
        EXPECT_EQ(c.ReceiveToBuffer(buf.data(), capacity), -1);
        EXPECT_EQ(c.lastError, QStringLiteral("Read Data grater than receive buffer!"));
        for (size_t i = capacity; i < buf.size(); ++i)
            EXPECT_EQ(buf[i], '#') << "written past the capacity at " << i;
    }
}

TEST(SocketClientTest, ClosedBeforeAnyByteIsAReadError) {
    ScriptedPeer peer({});
    SocketClient c;
    connectAndAsk(c, peer);
    QByteArray reply;
    EXPECT_EQ(c.ReceiveToBuffer(reply, 1465), -1);
    EXPECT_EQ(c.lastError, QStringLiteral("Read Data error!"));
}

TEST(SocketClientTest, StalledPeerEndsAtTheTransferTimeOut) {
    ScriptedPeer peer({{"partial"}}, 10s);
    SocketClient c;
    c.setTransferTimeout(400ms);
    connectAndAsk(c, peer);
    QByteArray reply;
    const auto t0 = std::chrono::steady_clock::now();
    // Data then silence: the 3-second readiness wait passes, the receive times out, and what
    // came counts as the reply.
    EXPECT_EQ(c.ReceiveToBuffer(reply, 1465), 7);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GT(took, 3s);
    EXPECT_LT(took, 6s);
    EXPECT_EQ(reply, QByteArray("partial"));
}

TEST(SocketClientTest, SlowReaderKeepsTheBarCloseToWhatItTook) {
    // A router with a small window that takes 16 KiB at a time, with pauses.
    constexpr qint64 Image = 1024 * 1024;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int window = 16 * 1024;
    ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
    std::atomic<qint64> taken{0};
    std::thread router([&] {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return;
        const int fd = ::accept(listener, nullptr, nullptr);
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        char buf[16 * 1024];
        while (taken < Image && std::chrono::steady_clock::now() < deadline) {
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, 100) != 1)
                continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            taken += n;
            std::this_thread::sleep_for(2ms);
        }
        ::close(fd);
    });
    struct Lead : ProgressSink {
        const std::atomic<qint64>* taken;
        qint64 position = 0, lead = 0, step = 0;
        void setProgressMaximum(qint64) override {}
        void setProgressPosition(qint64) override {}
        void advanceProgress(qint64 d) override {
            position += d;
            step = std::max(step, d);
            lead = std::max(lead, position - taken->load());
        }
    } bar;
    bar.taken = &taken;
    SocketClient c;
    ASSERT_EQ(c.OpenSocket(), 1);
    ASSERT_EQ(c.ConnectTo(kLoopback, ntohs(sa.sin_port)), 1);
    EXPECT_EQ(c.SendData(QByteArray(Image, 'x'), &bar), Image);
    router.join();
    ::close(listener);
    EXPECT_EQ(taken.load(), Image);
    EXPECT_LE(bar.step, Image / 100);
    EXPECT_LE(bar.lead, 256 * 1024);
}

class ReceiveToFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("rom.bin")); }

    qint64 receive(QList<ScriptedPeer::Part> parts, SocketClient& c,
                   RecordingSinks* rec = nullptr) {
        ScriptedPeer peer(std::move(parts));
        EXPECT_EQ(c.OpenSocket(), 1);
        EXPECT_EQ(c.ConnectTo(kLoopback, peer.port()), 1);
        EXPECT_GT(c.SendData(QByteArray("GET /config.bin?O=0&L=4 HTTP/1.1\r\n\r\n")), 0);
        return c.ReceiveToFile(path(), rec);
    }
};

TEST_F(ReceiveToFileTest, BodyGoesToTheFileAndTheOldFileToBak) {
    writeFile(path(), "old content");
    writeFile(path() + QStringLiteral(".BAK"), "older backup");
    RecordingSinks rec;
    SocketClient c(&rec);
    const QByteArray header = "HTTP/1.1 200 OK\r\nContent-Type: x\r\n\r\n";
    EXPECT_EQ(receive({{header + "ABCD"}, {"EFGH", 100ms}}, c, &rec), header.size() + 8);
    EXPECT_EQ(readAll(path()), QByteArray("ABCDEFGH"));
    EXPECT_EQ(readAll(path() + QStringLiteral(".BAK")), QByteArray("old content"));
    // The progress counts the header too.
    EXPECT_EQ(rec.position, header.size() + 8);
}

TEST_F(ReceiveToFileTest, HeaderAloneInTheFirstChunkFails) {
    SocketClient c;
    EXPECT_EQ(receive({{"HTTP/1.1 200 OK\r\n\r\n"}, {"BODY", 150ms}}, c), -1);
    EXPECT_EQ(c.lastError, QStringLiteral("HTTP header parse length error !"));
}

TEST_F(ReceiveToFileTest, BareLineFeedsAreNoHeaderEnd) {
    SocketClient c;
    EXPECT_EQ(receive({{"HTTP/1.1 200 OK\nX: y\n\nBODY"}}, c), -1);
    EXPECT_EQ(c.lastError, QStringLiteral("HTTP header parse error !"));
}

TEST_F(ReceiveToFileTest, StatusMustBeInTheFirstChunk) {
    SocketClient c;
    EXPECT_EQ(receive({{"HTTP/1.1 2"}, {"00 OK\r\n\r\nBODY", 150ms}}, c), -1);
    EXPECT_EQ(c.lastError, QStringLiteral("unknown response error code !"));
}

TEST_F(ReceiveToFileTest, BadRequestShowsErrorBox03) {
    RecordingSinks rec;
    SocketClient c(&rec);
    EXPECT_EQ(receive({{"HTTP/1.1 400 Bad Request\r\n\r\n"}}, c), -1);
    EXPECT_EQ(c.lastError, QStringLiteral("Bad Request !"));
    ASSERT_EQ(rec.boxes().size(), 1);
    EXPECT_EQ(rec.boxes()[0].text, QStringLiteral("error 03"));
    EXPECT_EQ(rec.boxes()[0].caption, QStringLiteral("File Error"));
    EXPECT_EQ(rec.boxes()[0].buttons, BoxButtons::OkCancel);
}

TEST_F(ReceiveToFileTest, NothingReceivedIsAReadError) {
    SocketClient c;
    EXPECT_EQ(receive({}, c), -1);
    EXPECT_EQ(c.lastError, QStringLiteral("Read Data error!"));
}

TEST_F(ReceiveToFileTest, UncreatableFileFails) {
    SocketClient c;
    ScriptedPeer peer({{"HTTP/1.1 200 OK\r\n\r\nX"}}, 0ms, 0);
    ASSERT_EQ(c.OpenSocket(), 1);
    ASSERT_EQ(c.ConnectTo(kLoopback, peer.port()), 1);
    EXPECT_EQ(c.ReceiveToFile(dir.filePath(QStringLiteral("no/such/dir/rom.bin"))), -1);
    EXPECT_EQ(c.lastError, QStringLiteral("ROM file create error"));
}

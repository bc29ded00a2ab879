// The search's socket pieces on 127.0.0.1: the UDP endpoint, the ICMP echo's packet, WaitMs.

#include "net/IcmpEcho.h"
#include "net/UdpEndpoint.h"
#include "process/WaitMs.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace fw;

namespace {

constexpr int SignalWaitMs = 2000;

// A datagram goes out to 127.0.0.1:port from a second endpoint.
void sendTo(quint16 port, const QByteArray& bytes) {
    UdpEndpoint out;
    out.setRemoteAddress(QStringLiteral("127.0.0.1"));
    out.setRemotePort(port);
    ASSERT_TRUE(out.open()) << out.lastError().toStdString();
    ASSERT_TRUE(out.send(bytes)) << out.lastError().toStdString();
}

} // namespace

TEST(UdpEndpoint, ReceivesWithSenderAndReportsNothingWaiting) {
    UdpEndpoint in;
    ASSERT_TRUE(in.open());
    ASSERT_NE(in.boundPort(), 0);
    char buffer[68];
    EXPECT_EQ(in.receiveFrom(buffer, sizeof buffer, nullptr, nullptr), 0);

    sendTo(in.boundPort(), QByteArray("QD\0\0", 4));
    QString from;
    quint16 fromPort = 0;
    int n = 0;
    for (int i = 0; i < 200 && n == 0; ++i) {
        n = in.receiveFrom(buffer, sizeof buffer, &from, &fromPort);
        if (n == 0)
            WaitMs(5, false);
    }
    ASSERT_EQ(n, 4);
    EXPECT_EQ(QByteArray(buffer, n), QByteArray("QD\0\0", 4));
    EXPECT_EQ(from, QStringLiteral("127.0.0.1"));
    EXPECT_NE(fromPort, 0);
}

TEST(UdpEndpoint, OversizedAndEmptyDatagramsAreSkippedAndConsumed) {
    UdpEndpoint in;
    ASSERT_TRUE(in.open());
    sendTo(in.boundPort(), QByteArray(100, 'x'));
    sendTo(in.boundPort(), QByteArray());
    sendTo(in.boundPort(), QByteArray(10, 'y'));
    WaitMs(20, false);
    char buffer[68];
    EXPECT_EQ(in.receiveFrom(buffer, sizeof buffer, nullptr, nullptr), UdpEndpoint::Skipped);
    EXPECT_EQ(in.receiveFrom(buffer, sizeof buffer, nullptr, nullptr), UdpEndpoint::Skipped);
    EXPECT_EQ(in.receiveFrom(buffer, sizeof buffer, nullptr, nullptr), 10);
    EXPECT_EQ(in.receiveFrom(buffer, sizeof buffer, nullptr, nullptr), 0);
}

TEST(UdpEndpoint, BindFailureGivesTheWindowsSocketsNumber) {
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len), 0);

    UdpEndpoint e;
    e.setLocalPort(ntohs(a.sin_port));
    EXPECT_FALSE(e.open());
    EXPECT_FALSE(e.isOpen());
    EXPECT_EQ(e.lastErrorCode(), 10048);
    EXPECT_EQ(e.lastError(), QStringLiteral("winsock.bind failed, error #10048"));
    ::close(holder);
    EXPECT_TRUE(e.open()) << e.lastError().toStdString();
    EXPECT_EQ(e.boundPort(), ntohs(a.sin_port));
}

TEST(UdpEndpoint, CloseReturnsSettingsToDefaults) {
    UdpEndpoint e;
    e.setRemoteAddress(QStringLiteral("127.0.0.1"));
    e.setRemotePort(9);
    e.setLocalPort(0);
    ASSERT_TRUE(e.open());
    e.close();
    EXPECT_FALSE(e.isOpen());
    EXPECT_TRUE(e.remoteAddress().isEmpty());
    EXPECT_EQ(e.remotePort(), 0);
    EXPECT_EQ(e.localPort(), 0);
    EXPECT_FALSE(e.send("x"));
}

TEST(UdpEndpoint, ReadyReadWhenNotifying) {
    UdpEndpoint in;
    in.setNotify(true);
    ASSERT_TRUE(in.open());
    QSignalSpy spy(&in, &UdpEndpoint::readyRead);
    sendTo(in.boundPort(), "abc");
    EXPECT_TRUE(spy.wait(SignalWaitMs));
}

TEST(IcmpEcho, PayloadAndChecksum) {
    const QByteArray p = IcmpEcho::payload();
    ASSERT_EQ(p.size(), 56);
    // A fixed text, then blanks to the end.
    qsizetype last = p.size() - 1;
    while (last >= 0 && p[last] == ' ')
        --last;
    ASSERT_GT(last, 0);
    EXPECT_LT(last, p.size() - 1);
    for (qsizetype i = 0; i <= last; ++i)
        EXPECT_TRUE(p[i] >= 0x20 && p[i] < 0x7F) << i;
    // RFC 1071's worked example sums to 0xDDF2.
    EXPECT_EQ(IcmpEcho::checksum(QByteArray::fromHex("0001f203f4f5f6f7")), quint16(~0xDDF2));
    EXPECT_EQ(IcmpEcho::checksum(QByteArray::fromHex("01")), quint16(~0x0100));
}

TEST(IcmpEcho, AddressReadBackAndClosedSocketCountsAsNoAnswer) {
    IcmpEcho e;
    e.setAddress(QStringLiteral(" 10.0.0.1x"));
    EXPECT_EQ(e.address(), QStringLiteral(" 10.0.0.1x"));
    e.setAddress(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(e.ping(), 0); // not opened
    if (e.open()) {
        e.setAddress(QString());
        EXPECT_EQ(e.ping(), 0); // nothing to resolve
        EXPECT_NE(e.socketKind(), IcmpEcho::SocketKind::None);
    } else {
        EXPECT_FALSE(e.openError().isEmpty());
    }
}

TEST(WaitMs, WaitsLongerThanAskedAndPumpsOnlyWhenTold) {
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    QElapsedTimer t;
    t.start();
    WaitMs(30, false);
    EXPECT_GT(t.elapsed(), 30);
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_FALSE(ran);
    WaitMs(10, true);
    EXPECT_TRUE(ran);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

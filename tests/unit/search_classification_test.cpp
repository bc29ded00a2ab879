// Probe requests, acceptance tests, classification and safe reading of replies, fed by hand.

#include "search/DeviceSearch.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace fw;

namespace {

const QString Router = QStringLiteral("192.0.2.1");

struct CountingProgress : ProgressSink {
    qint64 maximum = -1, position = 0, advanced = 0;
    void setProgressMaximum(qint64 m) override { maximum = m; }
    void setProgressPosition(qint64 p) override { position = p; }
    void advanceProgress(qint64 d) override {
        advanced += d;
        position += d;
    }
};

QByteArray queryReply(const QByteArray& detail, const QByteArray& romId) {
    QByteArray a(68, '\0');
    a.replace(12, detail.size(), detail);
    a.replace(44, romId.size(), romId);
    return a;
}

QByteArray bootReply(const QByteArray& romId, const QByteArray& detail, quint8 b0 = 0xC1,
                     quint8 b3 = 0) {
    QByteArray a(548, '\0');
    a[0] = char(b0);
    a[3] = char(b3);
    a.replace(108, romId.size(), romId);
    a.replace(140, detail.size(), detail);
    return a;
}

QByteArray loaderReply(const QByteArray& text) {
    return QByteArray("\0\3\0\1", 4) + text + '\0';
}

class Classification : public ::testing::Test {
protected:
    void SetUp() override {
        search.setProgress(&progress);
        search.setEchoFunction([this](const QString& a) {
            echoed << a;
            return answering.contains(a);
        });
    }
    const DeviceRecord& rec(int i) { return search.devices().at(i); }

    DeviceSearch search;
    CountingProgress progress;
    QSet<QString> answering;
    QStringList echoed;
};

} // namespace

TEST(ProbeRequests, ExactBytesPerKind) {
    DeviceSearch s;
    EXPECT_EQ(s.request(ProbeKind::Query), QByteArray("QD\0\0", 4));
    EXPECT_EQ(s.request(ProbeKind::Tftp), QByteArray("\x00\x01VN\x00octet\x00", 11));
    EXPECT_EQ(s.request(ProbeKind::DefaultAddress), QByteArray("QQ\0", 3));
    EXPECT_TRUE(s.request(ProbeKind::AddressOnly).isEmpty());

    const QByteArray boot = s.request(ProbeKind::BootPort);
    ASSERT_EQ(boot.size(), 548);
    QByteArray expected(548, '\0');
    expected[0] = char(0xC0);
    expected[1] = 1;
    expected[2] = 1;
    expected.replace(108, 6, "Ulvika");
    EXPECT_EQ(boot, expected);

    EXPECT_EQ(DeviceSearch::receiveSize(ProbeKind::Query), 68);
    EXPECT_EQ(DeviceSearch::receiveSize(ProbeKind::BootPort), 548);
    EXPECT_EQ(DeviceSearch::receiveSize(ProbeKind::Tftp), 516);
    EXPECT_EQ(DeviceSearch::receiveSize(ProbeKind::DefaultAddress), 64);
}

TEST(ProbeRequests, BootRomIdCutTo15WithByte123Zero) {
    DeviceSearch s;
    s.SetSearchSettings(0xFF, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), {}, {}, {}, {});
    const QByteArray boot = s.request(ProbeKind::BootPort);
    ASSERT_EQ(boot.size(), 548);
    EXPECT_EQ(boot.mid(108, 16), QByteArray("ABCDEFGHIJKLMNO\0", 16));
    EXPECT_EQ(boot.mid(124).count('\0'), boot.size() - 124);
}

TEST(AcceptanceTests, BootAndLoaderRepliesNeedTheirMarks) {
    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::BootPort, bootReply("A", "B")));
    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::BootPort, bootReply("A", "B", 0, 0x10)));
    EXPECT_FALSE(DeviceSearch::acceptsReply(ProbeKind::BootPort, bootReply("A", "B", 0xC0, 0)));
    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::BootPort, QByteArray(1, char(0xC1))));
    EXPECT_FALSE(DeviceSearch::acceptsReply(ProbeKind::BootPort, QByteArray(3, '\x10')));

    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::Tftp, loaderReply("$KestroX")));
    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::Tftp, QByteArray("\0\3\0\1$Kestro", 11)));
    EXPECT_FALSE(DeviceSearch::acceptsReply(ProbeKind::Tftp, QByteArray("\0\3\0\1$Kestr", 10)));
    EXPECT_FALSE(DeviceSearch::acceptsReply(ProbeKind::Tftp, loaderReply("$kestro")));
    EXPECT_FALSE(DeviceSearch::acceptsReply(ProbeKind::Tftp, QByteArray("\0\5\0\1File", 8)));

    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::Query, QByteArray("x")));
    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::DefaultAddress, QByteArray("x")));
}

TEST(ReplyTexts, ReadSafelyFromShortAndUnterminatedReplies) {
    EXPECT_EQ(DeviceSearch::textAt(QByteArray("abc\0def", 7), 0), QStringLiteral("abc"));
    EXPECT_EQ(DeviceSearch::textAt(QByteArray("abc\0def", 7), 4), QStringLiteral("def"));
    EXPECT_EQ(DeviceSearch::textAt(QByteArray("abc"), 3), QString());
    EXPECT_EQ(DeviceSearch::textAt(QByteArray("abc"), 44), QString());
    EXPECT_EQ(DeviceSearch::textAt(QByteArray("abc"), -1), QString());
    // Bytes beyond 0x7F survive as Latin-1.
    EXPECT_EQ(DeviceSearch::textAt(QByteArray("\xE9t\xE9"), 0), QStringLiteral(u"\u00E9t\u00E9"));
}

TEST_F(Classification, QueryThenBootFromOneRouterGivesNormalThenDuplicate) {
    answering << Router;
    search.handleReply(ProbeKind::Query, queryReply("Router X", "ABC123"), Router);
    search.handleReply(ProbeKind::BootPort, bootReply("ABC123", "Boot X"), Router);
    ASSERT_EQ(search.devices().count(), 2);
    EXPECT_EQ(rec(0).type, 1);
    EXPECT_EQ(rec(0).address, Router);
    EXPECT_EQ(rec(0).romId, QStringLiteral("ABC123"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("Router X"));
    EXPECT_EQ(rec(1).type, -2);
    EXPECT_EQ(rec(1).romId, QStringLiteral("ABC123"));
    EXPECT_EQ(rec(1).detail, QStringLiteral("Boot X"));
    EXPECT_EQ(echoed, QStringList({Router, Router}));
    EXPECT_EQ(progress.advanced, 4);
}

TEST_F(Classification, WithoutEchoAnswerCodesMoveByThree) {
    search.handleReply(ProbeKind::Query, queryReply("d", "r"), Router);
    search.handleReply(ProbeKind::BootPort, bootReply("r", "d"), Router);
    search.handleReply(ProbeKind::Tftp, loaderReply("$KestroQ"), QStringLiteral("192.0.2.2"));
    search.handleReply(ProbeKind::Tftp, loaderReply("$KestroQ"), QStringLiteral("192.0.2.2"));
    search.handleReply(ProbeKind::DefaultAddress, "x", QStringLiteral("192.0.2.3"));
    search.handleReply(ProbeKind::DefaultAddress, "x", QStringLiteral("192.0.2.3"));
    ASSERT_EQ(search.devices().count(), 6);
    EXPECT_EQ(rec(0).type, 4);
    EXPECT_EQ(rec(1).type, -5);
    EXPECT_EQ(rec(2).type, 3);
    EXPECT_EQ(rec(3).type, -4);
    EXPECT_EQ(rec(4).type, 5);
    EXPECT_EQ(rec(5).type, -6);
}

TEST_F(Classification, CrashedLoaderRecord) {
    const QString loader = QStringLiteral("192.0.2.9");
    answering << loader;
    search.handleReply(ProbeKind::Tftp, loaderReply("$KestroABC123"), loader);
    search.handleReply(ProbeKind::Tftp, loaderReply("$KestroABC123"), loader);
    ASSERT_EQ(search.devices().count(), 2);
    EXPECT_EQ(rec(0).type, 0);
    EXPECT_EQ(rec(0).romId, QStringLiteral("$KestroABC123"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("unknown"));
    EXPECT_EQ(rec(1).type, -1);
}

TEST_F(Classification, DefaultAddressAnsweringAndListedIsDropped) {
    answering << Router;
    search.handleReply(ProbeKind::DefaultAddress, QByteArray("QQ\1", 3), Router);
    ASSERT_EQ(search.devices().count(), 1);
    EXPECT_EQ(rec(0).type, 2);
    EXPECT_EQ(rec(0).romId, QStringLiteral("default IP"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("unknown"));
    search.handleReply(ProbeKind::DefaultAddress, QByteArray("QQ\1", 3), Router);
    EXPECT_EQ(search.devices().count(), 1); // never -3
    EXPECT_EQ(progress.advanced, 4);
}

TEST_F(Classification, RejectedRepliesMoveTheProgressButAddNothing) {
    answering << Router;
    search.handleReply(ProbeKind::BootPort, bootReply("r", "d", 0x00, 0x00), Router);
    search.handleReply(ProbeKind::Tftp, QByteArray("\0\5\0\1File not found\0", 19), Router);
    EXPECT_EQ(search.devices().count(), 0);
    EXPECT_TRUE(echoed.isEmpty());
    EXPECT_EQ(progress.advanced, 4);
}

TEST_F(Classification, ShortRepliesGiveTextsUpToTheirEnd) {
    answering << Router;
    // The ROM identifier runs to the datagram's end without a terminating zero.
    search.handleReply(ProbeKind::Query, queryReply("Router X", "ABC123").left(47), Router);
    // Shorter than both offsets.
    search.handleReply(ProbeKind::Query, QByteArray("QD\1", 3), QStringLiteral("192.0.2.5"));
    QByteArray boot = bootReply("ROMID", "Detail text");
    boot.truncate(140 + 6);
    search.handleReply(ProbeKind::BootPort, boot, QStringLiteral("192.0.2.6"));
    search.handleReply(ProbeKind::Tftp, QByteArray("\0\3\0\1$KestroNoZero", 17),
                       QStringLiteral("192.0.2.7"));
    ASSERT_EQ(search.devices().count(), 4);
    EXPECT_EQ(rec(0).romId, QStringLiteral("ABC"));
    EXPECT_EQ(rec(0).detail, QStringLiteral("Router X"));
    EXPECT_EQ(rec(1).romId, QString());
    EXPECT_EQ(rec(1).detail, QString());
    EXPECT_EQ(rec(2).romId, QStringLiteral("ROMID"));
    EXPECT_EQ(rec(2).detail, QStringLiteral("Detail"));
    EXPECT_EQ(rec(3).romId, QStringLiteral("$KestroNoZero"));
}

TEST_F(Classification, FullListDropsFurtherRepliesWithoutEcho) {
    answering << Router;
    for (int i = 0; i < 70; ++i)
        search.handleReply(ProbeKind::Query, queryReply("d", "r"), Router);
    EXPECT_EQ(search.devices().count(), DeviceList::Capacity);
    EXPECT_EQ(echoed.size(), DeviceList::Capacity);
    EXPECT_EQ(rec(0).type, 1);
    EXPECT_EQ(rec(63).type, -2);
    EXPECT_EQ(progress.advanced, 140);
}

TEST(SearchSettings, FlagsRomIdAndDefaultAddresses) {
    DeviceSearch s;
    EXPECT_EQ(s.searchFlags(), 0x9F);
    EXPECT_EQ(s.romId(), QStringLiteral("Ulvika"));
    EXPECT_EQ(s.defaultAddress(1), QStringLiteral("192.168.123.254"));
    EXPECT_EQ(s.defaultAddress(2), QStringLiteral("192.168.2.1"));
    EXPECT_EQ(s.defaultAddress(3), QStringLiteral("192.168.0.1"));
    EXPECT_EQ(s.defaultAddress(4), QStringLiteral("192.168.1.254"));

    s.SetSearchSettings(0x1A, QStringLiteral("XYZ"), QStringLiteral("default"), QString(),
                        QStringLiteral("10.0.0.1"), QStringLiteral("default"));
    EXPECT_EQ(s.searchFlags(), 0x1A);
    EXPECT_EQ(s.romId(), QStringLiteral("XYZ"));
    EXPECT_EQ(s.defaultAddress(1), QStringLiteral("192.168.123.254"));
    EXPECT_EQ(s.defaultAddress(2), QString());
    EXPECT_EQ(s.defaultAddress(3), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(s.defaultAddress(4), QStringLiteral("192.168.1.254"));

    s.SetSearchSettings(0xFF, QString(), QStringLiteral("default"), QStringLiteral("default"),
                        QStringLiteral("default"), QStringLiteral("default"));
    EXPECT_EQ(s.searchFlags(), 0x1A);
    EXPECT_EQ(s.romId(), QString()); // always replaced
    EXPECT_EQ(s.defaultAddress(2), QString());
}

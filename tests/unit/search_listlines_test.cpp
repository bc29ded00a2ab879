// The router list lines in both list modes and the count text.

#include "search/DeviceSearch.h"

#include <gtest/gtest.h>

using namespace fw;

namespace {

struct Row {
    qint32 type;
    const char* detailed;
    const char* plain;
};

// Every device type with its two texts.
const Row Rows[] = {
    {1, "   normal", ""},
    {2, "   default", ""},
    {0, "   crash", "   crash"},
    {4, "   normal IP unreachable", "   IP unreachable"},
    {5, "   default IP unreachable", "   IP unreachable"},
    {3, "   crash and IP unreachable", "   crash and IP unreachable"},
    {6, "   unknow device", "   unknow device"},
    {-2, "   normal IP duplicate", "   IP duplicate"},
    {-3, "   default IP duplicate", "   IP duplicate"},
    {-1, "   crash and IP duplicate", "   crash and IP duplicate"},
    {-5, "   normal IP unreachable and duplicate", "   IP unreachable and duplicate"},
    {-6, "   default IP unreachable and duplicate", "   IP unreachable and duplicate"},
    {-4, "   crash IP unreachable and duplicate", "   crash and IP unreachable and duplicate"},
    {7, "  unknow error", "  unknow error"},
    {-7, "  unknow error", "  unknow error"},
};

} // namespace

TEST(DeviceTypeTexts, EveryCodeInBothModes) {
    for (const Row& r : Rows) {
        EXPECT_EQ(DeviceSearch::typeText(r.type, 222), QString::fromLatin1(r.detailed)) << r.type;
        EXPECT_EQ(DeviceSearch::typeText(r.type, 111), QString::fromLatin1(r.plain)) << r.type;
    }
}

TEST(ListLines, PlainAndDetailedLinesInListOrder) {
    DeviceSearch s;
    s.devices().append({1, QStringLiteral("192.168.123.254"), QStringLiteral("ABC123"),
                        QStringLiteral("Router X")});
    s.devices().append({-4, QStringLiteral("192.168.123.9"), QStringLiteral("$KestroZ"),
                        QStringLiteral("unknown")});
    s.devices().append({6, QStringLiteral("10.1.1.1"), QStringLiteral("unknow module"), {}});
    EXPECT_EQ(s.listLines(111),
              QStringList({QStringLiteral("192.168.123.254"),
                           QStringLiteral("192.168.123.9   crash and IP unreachable and duplicate"),
                           QStringLiteral("10.1.1.1   unknow device")}));
    EXPECT_EQ(s.listLines(222),
              QStringList({QStringLiteral("192.168.123.254  ABC123 - Router X   normal"),
                           QStringLiteral("192.168.123.9  $KestroZ - unknown   crash IP "
                                          "unreachable and duplicate"),
                           QStringLiteral("10.1.1.1  unknow module -    unknow device")}));
    EXPECT_EQ(s.countText(), QStringLiteral("3 devices found"));
}

TEST(ListLines, CountTextSingularForZeroAndOne) {
    DeviceSearch s;
    EXPECT_TRUE(s.listLines(111).isEmpty());
    EXPECT_EQ(s.countText(), QStringLiteral("0 device found"));
    s.devices().append({1, QStringLiteral("a"), {}, {}});
    EXPECT_EQ(s.countText(), QStringLiteral("1 device found"));
    s.devices().append({1, QStringLiteral("b"), {}, {}});
    EXPECT_EQ(s.countText(), QStringLiteral("2 devices found"));
}

TEST(ListLines, ClearDevicesEmptiesEveryRecord) {
    DeviceSearch s;
    s.devices().append({-2, QStringLiteral("a"), QStringLiteral("r"), QStringLiteral("d")});
    s.devices().append({5, QStringLiteral("b"), QStringLiteral("r"), QStringLiteral("d")});
    s.ClearDevices();
    EXPECT_EQ(s.devices().count(), 0);
    EXPECT_FALSE(s.IsListed(QStringLiteral("a")));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(s.devices().at(i).type, 0);
        EXPECT_TRUE(s.devices().at(i).address.isEmpty());
        EXPECT_TRUE(s.devices().at(i).romId.isEmpty());
        EXPECT_TRUE(s.devices().at(i).detail.isEmpty());
    }
    EXPECT_EQ(s.countText(), QStringLiteral("0 device found"));
}

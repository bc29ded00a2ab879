// The router choice: presets, methods and layouts per device type, typed addresses, Refresh,
// the list, the password events and Browse.

#include "support/FakeMainView.h"
#include "transfer/FileAttributes.h"

#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

constexpr quint8 kUser = 0x9F;    // ReleaseToUser set
constexpr quint8 kFactory = 0x8F; // ReleaseToUser clear

void setUp(FormHarness& h, quint8 flags, qint16 haveFile) {
    h.form.FullHeight = 359;
    h.form.settings.setByte(SettingsRecord::SettingFlags, flags);
    h.form.HaveUpgradeFile = haveFile;
}

} // namespace

TEST(RouterChoice, FactoryPasswordPresets) {
    const std::pair<const char*, const char*> cases[] = {
        {"GZT350", ""}, {"HVK350", ""}, {"ABC100", "qelur"}, {"gzt350", "qelur"}, {"", "qelur"}};
    for (const auto& [rom, password] : cases) {
        SCOPED_TRACE(rom);
        FormHarness h;
        setUp(h, kFactory, 1);
        h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.1"), QString::fromLatin1(rom));
        h.view.password = QStringLiteral("from settings");
        h.choose(QStringLiteral("10.0.0.1"));
        EXPECT_EQ(h.view.password, QString::fromLatin1(password));
        // Factory release with the package's files: router only, password hidden.
        EXPECT_FALSE(h.view.shown(Group::Password));
        EXPECT_FALSE(h.view.shown(Group::UpgradeFile));
    }
}

TEST(RouterChoice, UserReleaseEmptiesThePasswordAndShowsIt) {
    FormHarness h;
    setUp(h, kUser, 1);
    h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.1"), QStringLiteral("ABC100"));
    h.view.password = QStringLiteral("typed");
    h.choose(QStringLiteral("10.0.0.1   normal"));
    EXPECT_EQ(h.view.password, QString());
    EXPECT_TRUE(h.view.shown(Group::Password));
    EXPECT_FALSE(h.view.shown(Group::UpgradeFile));
    EXPECT_EQ(h.view.height, 359 - 137 - 57 + 4); // layout 5
    EXPECT_TRUE(h.view.passwordEnabled);
    EXPECT_TRUE(h.view.passwordWhite);
    EXPECT_EQ(h.view.status(), QStringLiteral("Please input the password"));
    EXPECT_TRUE(h.view.upgradeEnabled());

    FormHarness noFile; // without a file: layout 3, both groups
    setUp(noFile, kUser, 0);
    noFile.addDevice(DeviceType::Default, QStringLiteral("10.0.0.2"));
    noFile.choose(QStringLiteral("10.0.0.2"));
    EXPECT_TRUE(noFile.view.shown(Group::Password));
    EXPECT_TRUE(noFile.view.shown(Group::UpgradeFile));
    EXPECT_EQ(noFile.view.status(), QStringLiteral("Please select the upgrade files"));
    EXPECT_FALSE(noFile.view.upgradeEnabled());
}

TEST(RouterChoice, MethodAndUpgradeButtonPerType) {
    struct Case {
        qint32 type;
        qint16 method;
        bool upgrade;
        QString status;
    };
    const Case withFile[] = {
        {0, Method::Tftp, true, QStringLiteral("Press Upgrade Button To Upgrade Router")},
        {1, Method::Http, true, QStringLiteral("Press Upgrade Button To Upgrade Router")},
        {2, Method::Http, true, QStringLiteral("Press Upgrade Button To Upgrade Router")},
        {6, Method::Ftp, true, QStringLiteral("Press Upgrade Button To Upgrade Router")},
        {3, Method::None, false, QString()},
        {4, Method::None, false, QString()},
        {5, Method::None, false, QString()},
        {-2, Method::None, false, QString()},
        {7, Method::None, false, QString()},
    };
    for (const Case& c : withFile) {
        SCOPED_TRACE(c.type);
        FormHarness h;
        setUp(h, kFactory, 1);
        h.view.setUpgradeEnabled(true);
        h.form.UpgradeMethod = 99;
        h.addDevice(c.type, QStringLiteral("10.0.0.1"), QStringLiteral("ABC100"));
        h.choose(QStringLiteral("10.0.0.1"));
        EXPECT_EQ(h.form.UpgradeMethod, c.method);
        EXPECT_EQ(h.view.upgradeEnabled(), c.upgrade);
        EXPECT_EQ(h.view.status(), c.status);
        EXPECT_EQ(h.view.passwordEnabled, c.type == 1 || c.type == 2 || c.type == 6);
    }
}

TEST(RouterChoice, CrashedRouterNeedsAFile) {
    FormHarness h;
    setUp(h, kFactory, 0);
    h.addDevice(DeviceType::Crash, QStringLiteral("10.0.0.1"));
    h.choose(QStringLiteral("10.0.0.1   crash"));
    EXPECT_EQ(h.form.UpgradeMethod, Method::Tftp);
    EXPECT_FALSE(h.view.upgradeEnabled());
    EXPECT_EQ(h.view.status(), QStringLiteral("Please select the upgrade files"));
    EXPECT_TRUE(h.view.shown(Group::UpgradeFile)); // layout 2

    h.view.updateFileName = QStringLiteral("/x/a.bin; ");
    h.choose(QStringLiteral("10.0.0.1"));
    EXPECT_TRUE(h.view.upgradeEnabled());
    EXPECT_EQ(h.view.status(), QStringLiteral("Press Upgrade Button To Upgrade Router"));
}

TEST(RouterChoice, UnreachableNormalRouterLayouts) {
    const std::tuple<quint8, qint16, bool, bool> cases[] = {{kUser, 1, true, false},
                                                            {kUser, 0, true, true},
                                                            {kFactory, 1, false, false},
                                                            {kFactory, 0, false, true}};
    for (const auto& [flags, haveFile, password, file] : cases) {
        FormHarness h;
        setUp(h, flags, haveFile);
        h.addDevice(4, QStringLiteral("10.0.0.1"));
        h.choose(QStringLiteral("10.0.0.1"));
        EXPECT_EQ(h.view.shown(Group::Password), password);
        EXPECT_EQ(h.view.shown(Group::UpgradeFile), file);
        EXPECT_FALSE(h.view.upgradeEnabled());
    }
}

TEST(RouterChoice, TwoResultsForOneAddressTheLastDecides) {
    FormHarness h;
    setUp(h, kFactory, 1);
    h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.1"), QStringLiteral("ABC"));
    h.addDevice(4, QStringLiteral("10.0.0.1"), QStringLiteral("GZT350"));
    h.choose(QStringLiteral("10.0.0.1"));
    EXPECT_FALSE(h.view.upgradeEnabled());
    EXPECT_EQ(h.form.UpgradeMethod, Method::None);
    EXPECT_EQ(h.view.password, QString()); // the second preset
    EXPECT_TRUE(h.view.passwordEnabled);   // the first enabled it
}

TEST(RouterChoice, EveryChoiceResetsTheUserNameField) {
    FormHarness h;
    setUp(h, kUser, 1);
    h.view.userIdShown = true;
    h.view.userId = QStringLiteral("root");
    h.view.setPasswordGeometry(215, 110);
    h.view.label2Left = 160;
    h.view.setUpgradeEnabled(true);
    h.choose(QStringLiteral("10.9.9.9")); // not in the results
    EXPECT_TRUE(h.view.upgradeEnabled()); // unchanged
    EXPECT_FALSE(h.view.userIdShown);
    EXPECT_EQ(h.view.userId, QStringLiteral("admin"));
    EXPECT_EQ(h.view.passwordLeft, 70);
    EXPECT_EQ(h.view.passwordWidth, 259);
    EXPECT_EQ(h.view.label2Left, 10);
    EXPECT_EQ(h.view.focusIpCount, 1);
    EXPECT_TRUE(h.view.statuses.isEmpty());
}

TEST(RouterChoice, EnterProbesExactlyTheTypedAddress) {
    FormHarness h;
    setUp(h, kFactory, 1);
    h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.1"));
    h.view.setIpText(QStringLiteral("10.0.0.77 typed"));

    h.form.IPComBoxKeyPress('a'); // other keys do nothing
    EXPECT_TRUE(h.probed.isEmpty());

    h.onProbe = [&](const QString& a) {
        h.addDevice(DeviceType::EchoOnly, a, QStringLiteral("unknow module"));
    };
    h.form.IPComBoxKeyPress(13);
    EXPECT_EQ(h.probed, QStringList{QStringLiteral("10.0.0.77")});
    ASSERT_EQ(h.search.devices().count(), 1); // cleared before the probe
    EXPECT_EQ(h.view.ipItems().size(), 1);
    EXPECT_TRUE(h.view.ipText().startsWith(QStringLiteral("10.0.0.77")));
    EXPECT_EQ(h.view.statuses.first(), QStringLiteral("1 device found"));
    EXPECT_EQ(h.form.UpgradeMethod, Method::Ftp);

    h.onProbe = nullptr; // nothing answers: the list empties, Upgrade stays as it was
    h.view.setUpgradeEnabled(true);
    h.view.setIpText(QStringLiteral("10.0.0.99"));
    h.form.IPComBoxKeyPress(13);
    EXPECT_EQ(h.probed.last(), QStringLiteral("10.0.0.99"));
    EXPECT_TRUE(h.view.ipItems().isEmpty());
    EXPECT_TRUE(h.view.upgradeEnabled());
    EXPECT_EQ(h.view.status(), QStringLiteral("0 device found"));
}

TEST(RouterChoice, FillDeviceListSelectsTheFirstSortedLine) {
    FormHarness h;
    h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.3"));
    h.addDevice(DeviceType::Crash, QStringLiteral("10.0.0.20"));
    h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.100"));
    h.form.FillDeviceList();
    const QStringList items = h.view.ipItems();
    ASSERT_EQ(items.size(), 3);
    EXPECT_TRUE(items[0].startsWith(QStringLiteral("10.0.0.100")));
    EXPECT_TRUE(items[1].startsWith(QStringLiteral("10.0.0.20")));
    EXPECT_EQ(h.view.ipText(), items[0]);
    EXPECT_EQ(h.view.status(), QStringLiteral("3 devices found"));

    h.form.ListDetail = 222;
    h.form.FillDeviceList();
    EXPECT_EQ(h.view.ipItems(), sortedIpItems(h.search.listLines(222)));
}

TEST(RouterChoice, RefreshSearchesAndChoosesAgain) {
    FormHarness h;
    setUp(h, kUser, 0);
    h.form.settings.setText(SettingsRecord::PassWd, "stored");
    h.form.LogShown = true;
    h.view.setUpgradeEnabled(true);
    h.view.userIdShown = true;
    h.view.progressMaximum = 500;
    h.view.progressPosition = 200;
    QString passwordDuringSearch;
    int heightDuringSearch = 0;
    h.view.onSearchWindow = [&] {
        passwordDuringSearch = h.view.password;
        heightDuringSearch = h.view.height;
        h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.1"));
    };
    h.form.IPReFreshClick();
    EXPECT_EQ(h.view.searchWindowShown, 1);
    EXPECT_EQ(h.view.statuses.first(), QStringLiteral("Please Wait for Searching Router..."));
    EXPECT_EQ(passwordDuringSearch, QStringLiteral("stored"));
    EXPECT_EQ(heightDuringSearch, 359 - 137 - 41 + 14); // layout 2, log hidden
    EXPECT_FALSE(h.form.LogShown);
    EXPECT_EQ(h.view.progressMaximum, 0);
    EXPECT_EQ(h.view.progressPosition, 0);
    EXPECT_FALSE(h.view.userIdShown);
    // Then the list and the choice of its first line.
    EXPECT_EQ(h.view.ipText(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(h.view.password, QString());
    EXPECT_EQ(h.form.UpgradeMethod, Method::Http);
}

TEST(RouterChoice, PasswordAndUserEditsEnableUpgrade) {
    FormHarness h;
    h.form.PasswordComBoxChange();
    EXPECT_TRUE(h.view.upgradeEnabled());
    EXPECT_EQ(h.view.status(),
              QStringLiteral("Confirm your password and press Upgrade button to upgrade"));
    h.view.setUpgradeEnabled(false);
    h.form.UserIDComBoxChange();
    EXPECT_TRUE(h.view.upgradeEnabled());
    EXPECT_EQ(h.view.statuses.size(), 2);
}

TEST(Browse, ThreeFilesReplaceTheCopy) {
    FormHarness h;
    h.form.HaveUpgradeFile = 1;
    h.form.extractionCopy.append(QStringLiteral("/tmp/old.bin"), 0x0815, 1);
    h.form.extractionCopy.append(QStringLiteral("/tmp/old2.bin"), 0x0815, 1);
    h.form.extractionCopy.append(QStringLiteral("/tmp/old3.bin"), 0x0815, 1);
    h.form.extractionCopy.append(QStringLiteral("/tmp/old4.bin"), 0x0815, 1);
    h.view.filesToChoose = QStringList{QStringLiteral("/data/a.bin"), QStringLiteral("/data/b.exe"),
                                       QStringLiteral("/data/c d.bin")};
    h.form.BrowseClick();
    ASSERT_EQ(h.form.extractionCopy.count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.form.extractionCopy[i].path, h.view.filesToChoose->at(i));
        EXPECT_EQ(h.form.extractionCopy[i].attribute, 0x080D);
        EXPECT_EQ(h.form.extractionCopy[i].kind, 1);
    }
    EXPECT_EQ(h.form.extractionCopy[3].path, QString()); // nothing left behind
    EXPECT_EQ(h.view.updateFileName, QStringLiteral("/data/a.bin; /data/b.exe; /data/c d.bin; "));
    EXPECT_TRUE(h.view.upgradeEnabled());
    EXPECT_EQ(h.form.HaveUpgradeFile, 1);

    h.view.filesToChoose.reset(); // cancelled: nothing changes
    h.view.setUpgradeEnabled(false);
    h.form.BrowseClick();
    EXPECT_EQ(h.view.fileDialogShown, 2);
    EXPECT_EQ(h.form.extractionCopy.count, 3);
    EXPECT_EQ(h.view.updateFileName, QStringLiteral("/data/a.bin; /data/b.exe; /data/c d.bin; "));
    EXPECT_FALSE(h.view.upgradeEnabled());
}

TEST(Browse, MoreFilesThanTheCopyHoldsAreRefused) {
    FormHarness h;
    QStringList many;
    for (int i = 0; i < 65; ++i)
        many << QStringLiteral("/d/f%1.bin").arg(i);
    h.view.filesToChoose = many;
    h.form.BrowseClick();
    EXPECT_EQ(h.form.extractionCopy.count, 65);
    EXPECT_TRUE(h.view.boxes.isEmpty());

    many << QStringLiteral("/d/one-too-many.bin");
    h.view.filesToChoose = many;
    h.view.updateFileName = QStringLiteral("kept");
    h.form.BrowseClick();
    ASSERT_EQ(h.view.boxes.size(), 1);
    EXPECT_EQ(h.view.boxes[0].text,
              QStringLiteral("Too many files selected. Please select at most 65 upgrade files !"));
    EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Upgrade Warning"));
    EXPECT_EQ(h.form.extractionCopy.count, 65);
    EXPECT_EQ(h.form.extractionCopy[64].path, QStringLiteral("/d/f64.bin"));
    EXPECT_EQ(h.view.updateFileName, QStringLiteral("kept"));
}

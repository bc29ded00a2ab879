// Renders the main window as a person sees it after a search, with the detailed router list and
// the System Log. With FW_MAIN_WINDOW_SHOT set, the picture is saved there (docs/main-window.png).

#include "MainWindow.h"
#include "search/DeviceSearch.h"
#include "transfer/FileAttributes.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace fw;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "mainwindow_screenshot_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QApplication(argc, argv);
    return *a;
}

} // namespace

TEST(MainWindowScreenshot, RoutersListedAndLogShown) {
    app();
    QTemporaryDir temp;
    DeviceSearch search;
    MainWindowLogicConfig config;
    config.tempBase = temp.path();
    config.probe = [](const QString&) {};
    MainWindow w(search, config, HeadlessPolicy::interactive());
    w.setStartOnActivate(false);

    const QString exe = temp.filePath(QStringLiteral("fwupgrade.exe"));
    QFile f(exe);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("MZ");
    f.close();
    MainWindowLogic& form = w.form();
    form.FormCreate({}, exe);

    // A user release that shows its log, a hand-picked file, three routers found.
    form.settings.setByte(SettingsRecord::SettingFlags, 0x3F);
    form.ListDetail = 222;
    form.extractionCopy.clear();
    form.extractionCopy.append(QStringLiteral("/home/support/fw/QR240_v2.40.bin"), AttrHandPicked,
                               1);
    w.setUpdateFileNameText(QStringLiteral("/home/support/fw/QR240_v2.40.bin; "));
    search.devices().append(DeviceRecord{DeviceType::Normal, QStringLiteral("192.168.123.254"),
                                         QStringLiteral("QR240"), QStringLiteral("V2.31")});
    search.devices().append(DeviceRecord{DeviceType::Default, QStringLiteral("192.168.2.1"),
                                         QStringLiteral("default IP"), QStringLiteral("unknown")});
    search.devices().append(DeviceRecord{DeviceType::Crash, QStringLiteral("192.168.0.10"),
                                         QStringLiteral("$Kestrol"), QStringLiteral("unknown")});
    const Sinks s = w.sinks();
    s.logLine(QStringLiteral("Program release to User"));
    s.logLine(QStringLiteral("Enabled Log state by initial setting"));
    form.FillDeviceList();
    ASSERT_EQ(w.ipItems().size(), 3);
    w.setIpText(w.ipItems()[1]); // the normal router
    form.IPComBoxChange();
    w.setPasswordText(QStringLiteral("secret"));
    form.PasswordComBoxChange();

    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 2000));
    QTest::qWait(50);
    const QImage image = w.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size() / image.devicePixelRatio(), QSize(344, 359 + 4)); // layout 3, log
    EXPECT_EQ(form.UpgradeMethod, Method::Http);
    EXPECT_TRUE(w.upgradeEnabled());

    // Something is drawn: the picture is not one flat colour.
    const QRgb first = image.pixel(0, 0);
    int differing = 0;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            differing += image.pixel(x, y) != first;
    EXPECT_GT(differing, 500);

    const QByteArray path = qgetenv("FW_MAIN_WINDOW_SHOT");
    if (!path.isEmpty()) {
        EXPECT_TRUE(image.save(QString::fromLocal8Bit(path), "PNG", 9));
    }
    w.hide();
}

// The command line of the main window: put/set/get, "null", "log", and parameter errors.

#include "process/ProcessState.h"
#include "support/FakeMainView.h"
#include "transfer/FileAttributes.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

const QString kVersion = QStringLiteral("Program Version V1.1.1f ");
const QString kBuild = QStringLiteral("Program build at 2002/02/19 pm 1:48");
const QString kClear = QStringLiteral("Clear all setting by parameter input error.");

QStringList args(std::initializer_list<const char*> list) {
    QStringList out;
    for (const char* a : list)
        out << QString::fromLatin1(a);
    return out;
}

// An executable without a package: the reader finds nothing.
QString plainExe(FormHarness& h) {
    const QString path = h.temp.filePath(QStringLiteral("plain.exe"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("MZ plain body without a package");
    return path;
}

} // namespace

TEST(StartupCommandLine, PutWithNullsFileAndLog) {
    FormHarness h;
    h.onProbe = [&](const QString& a) { h.addDevice(DeviceType::Normal, a, QStringLiteral("R1")); };
    h.form.FormCreate(args({"put", "10.0.0.1", "null", "null", "image.bin", "log"}), plainExe(h));

    EXPECT_EQ(h.view.log, QStringList({kVersion, kBuild,
                                       QStringLiteral("Set DstIP = 10.0.0.1 in parameter input"),
                                       QStringLiteral("Set password = null in parameter input"),
                                       QStringLiteral("Set ROMID = null in parameter input")}));
    EXPECT_EQ(h.view.ipText(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(h.view.password, QString());
    EXPECT_EQ(h.form.romId, QString());
    EXPECT_EQ(h.view.updateFileName, QStringLiteral("image.bin;"));
    EXPECT_TRUE(h.form.PutMode);
    EXPECT_TRUE(h.form.ParamLog);
    EXPECT_TRUE(h.form.ParamMode);
    EXPECT_EQ(h.form.HaveUpgradeFile, 1);
    ASSERT_EQ(h.form.extractionCopy.count, 1);
    EXPECT_EQ(h.form.extractionCopy[0].path, QStringLiteral("image.bin"));
    EXPECT_EQ(h.form.extractionCopy[0].attribute, 0x080D);
    EXPECT_EQ(h.form.extractionCopy[0].kind, 1);
    EXPECT_EQ(h.form.FullHeight, 359);
    EXPECT_EQ(h.view.userId, QStringLiteral("admin"));
    EXPECT_FALSE(ProcessState::quitAtStart);

    h.form.FormActivate();
    EXPECT_EQ(h.probed, QStringList{QStringLiteral("10.0.0.1")});
    EXPECT_EQ(h.search.romId(), QString());
    EXPECT_EQ(h.search.searchFlags(), 0x9F);
    EXPECT_EQ(h.search.defaultAddress(1), QStringLiteral("192.168.123.254"));
    // The list line of the probed router is selected and chosen: HTTP, password group shown.
    EXPECT_TRUE(h.view.ipText().startsWith(QStringLiteral("10.0.0.1")));
    EXPECT_EQ(h.form.UpgradeMethod, Method::Http);
    EXPECT_TRUE(h.view.upgradeEnabled());
    EXPECT_TRUE(h.form.LogShown);
    EXPECT_EQ(h.form.ListDetail, 222);
    EXPECT_TRUE(h.view.shown(Group::SystemLog));
    EXPECT_EQ(h.view.height, 359 - 57 + 4); // layout 5 with the log
    EXPECT_TRUE(h.form.AutoStart);
    EXPECT_FALSE(h.form.Interactive);
    EXPECT_TRUE(h.view.timerActive);
    EXPECT_FALSE(h.form.ParamMode);
}

TEST(StartupCommandLine, FourParametersPresetAndStartAutomatically) {
    FormHarness h;
    h.form.FormCreate(args({"PUT", "10.0.0.7 x", "secret", "HVK350"}), plainExe(h));
    EXPECT_EQ(h.view.log.mid(2),
              QStringList({QStringLiteral("Set DstIP = 10.0.0.7 x in parameter input"),
                           QStringLiteral("Set password = ******** in parameter input"),
                           QStringLiteral("Set ROMID = HVK350 in parameter input"),
                           // No file given: the executable's own package is looked at.
                           QStringLiteral("No Imbed File Found !!")}));
    EXPECT_TRUE(h.form.PutMode);
    EXPECT_FALSE(h.form.ParamLog);
    EXPECT_EQ(h.form.HaveUpgradeFile, 0);
    ASSERT_EQ(h.form.extractionCopy.count, 1); // the body copy only
    EXPECT_EQ(h.form.extractionCopy[0].attribute, 0);

    h.form.FormActivate();
    EXPECT_EQ(h.probed, QStringList{QStringLiteral("10.0.0.7")}); // the first word only
    EXPECT_EQ(h.search.romId(), QStringLiteral("HVK350"));
    EXPECT_TRUE(h.form.AutoStart);
    EXPECT_TRUE(h.view.timerActive);
    EXPECT_FALSE(h.form.LogShown);
    // Nothing answered: the list is empty and so is the address.
    EXPECT_EQ(h.view.ipText(), QString());
    EXPECT_EQ(h.view.status(), QStringLiteral("0 device found"));
}

TEST(StartupCommandLine, AGivenPasswordSurvivesTheRouterChoice) {
    for (const char* verb : {"put", "set"}) {
        SCOPED_TRACE(verb);
        FormHarness h; // user release: a chosen router would empty the password box
        h.onProbe = [&](const QString& a) { h.addDevice(DeviceType::Normal, a); };
        h.form.FormCreate(args({verb, "10.0.0.1", "secret", "R", "/x/fw.bin"}), plainExe(h));
        h.form.FormActivate();
        EXPECT_EQ(h.form.UpgradeMethod, Method::Http);
        EXPECT_EQ(h.view.password, QStringLiteral("secret"));
        EXPECT_EQ(h.view.status(), QStringLiteral("Press Upgrade Button To Upgrade Router"));
    }
    {
        FormHarness h; // "null" gives no password: the preset applies as usual
        h.onProbe = [&](const QString& a) { h.addDevice(DeviceType::Normal, a); };
        h.form.FormCreate(args({"put", "10.0.0.1", "null", "R", "/x/fw.bin"}), plainExe(h));
        h.view.password = QStringLiteral("typed");
        h.form.FormActivate();
        EXPECT_EQ(h.view.password, QString());
    }
    {
        FormHarness h; // a parameter error drops the password and the keeping with it
        h.onProbe = [&](const QString& a) { h.addDevice(DeviceType::Normal, a); };
        h.form.FormCreate(args({"put", "10.0.0.1", "secret", "R", "f", "x"}), plainExe(h));
        EXPECT_FALSE(h.form.KeepPassword);
    }
}

TEST(StartupCommandLine, DashTakesTheStandardInputLineAsItIs) {
    EXPECT_TRUE(MainWindowLogic::PasswordFromInput(args({"SET", "a", "-", "r"})));
    EXPECT_TRUE(MainWindowLogic::PasswordFromInput(args({"get", "a", "-", "r", "0", "1", "o"})));
    EXPECT_FALSE(MainWindowLogic::PasswordFromInput(args({"fetch", "a", "-", "r"})));
    EXPECT_FALSE(MainWindowLogic::PasswordFromInput(args({"put", "a", "--", "r"})));
    EXPECT_FALSE(MainWindowLogic::PasswordFromInput(args({"put", "a", "-"})));
    // "null" on standard input is a password; an empty line is none.
    for (const char* line : {"null", ""}) {
        FormHarness h;
        h.form.StandardInputPassword = QString::fromLatin1(line);
        h.form.FormCreate(args({"put", "10.0.0.1", "-", "R"}), plainExe(h));
        EXPECT_EQ(h.view.password, QString::fromLatin1(line));
        EXPECT_EQ(h.form.KeepPassword, *line != 0);
        EXPECT_EQ(h.view.log[3], *line ? QStringLiteral("Set password = ******** in parameter input")
                                       : QStringLiteral("Set password = null in parameter input"));
    }
}

TEST(StartupCommandLine, FiveParametersLogOrFile) {
    {
        FormHarness h;
        h.form.FormCreate(args({"set", "null", "pw", "R", "LOG"}), plainExe(h));
        EXPECT_TRUE(h.form.ParamLog);
        EXPECT_FALSE(h.form.PutMode);
        EXPECT_EQ(h.view.updateFileName, QString());
        EXPECT_EQ(h.view.log[2], QStringLiteral("Set DST IP = null in parameter input"));
        h.form.FormActivate();
        EXPECT_TRUE(h.probed.isEmpty());
        EXPECT_FALSE(h.view.timerActive); // "set" waits for a person
        EXPECT_FALSE(h.form.Interactive);
        EXPECT_TRUE(h.form.LogShown);
    }
    {
        FormHarness h;
        h.form.FormCreate(args({"set", "10.0.0.1", "pw", "R", "/x/fw.bin"}), plainExe(h));
        EXPECT_FALSE(h.form.ParamLog);
        EXPECT_EQ(h.view.updateFileName, QStringLiteral("/x/fw.bin;"));
        EXPECT_EQ(h.form.HaveUpgradeFile, 1);
    }
    {
        FormHarness h; // "log" twice: the fifth is not a file
        h.form.FormCreate(args({"put", "10.0.0.1", "pw", "R", "log", "Log"}), plainExe(h));
        EXPECT_TRUE(h.form.ParamLog);
        EXPECT_EQ(h.form.HaveUpgradeFile, 0);
        EXPECT_EQ(h.view.updateFileName, QString());
    }
}

TEST(StartupCommandLine, ParameterErrorsClearEverythingAndStartInteractively) {
    const QList<QStringList> wrong = {
        args({"set", "10.0.0.2", "pw", "ROM1", "file.bin", "nolog"}),
        args({"put", "10.0.0.2", "pw", "ROM1", "file.bin", "log", "extra"}),
        args({"get", "10.0.0.2", "pw", "ROM1", "0", "16"}),
        args({"get", "10.0.0.2", "pw", "ROM1"}),
        args({"fetch", "10.0.0.2", "pw", "ROM1"}),
    };
    for (const QStringList& a : wrong) {
        SCOPED_TRACE(a.join(QLatin1Char(' ')).toStdString());
        FormHarness h;
        h.form.FormCreate(a, plainExe(h));
        EXPECT_EQ(h.view.log,
                  QStringList({kVersion, kBuild,
                               QStringLiteral("Set DstIP = 10.0.0.2 in parameter input"),
                               QStringLiteral("Set password = ******** in parameter input"),
                               QStringLiteral("Set ROMID = ROM1 in parameter input"), kClear,
                               QStringLiteral("No Imbed File Found !!")}));
        EXPECT_EQ(h.view.ipText(), QString());
        EXPECT_EQ(h.view.password, QString());
        EXPECT_EQ(h.view.updateFileName, QString());
        EXPECT_EQ(h.form.romId, QStringLiteral("Ulvika"));
        EXPECT_FALSE(h.form.ParamMode || h.form.ParamLog || h.form.GetMode || h.form.PutMode);
        EXPECT_EQ(h.form.HaveUpgradeFile, 0);
        // The copy is the reader's list (its body copy), not the file named before the error.
        EXPECT_EQ(h.form.extractionCopy.count, h.form.package->extractionList().count);
        EXPECT_NE(h.form.extractionCopy[0].path, QStringLiteral("file.bin"));
        EXPECT_EQ(h.view.caption(), QStringLiteral("Firmware Upgrade  V1.1.1"));

        // The interactive start: no settings file, so the search window opens.
        h.form.FormActivate();
        EXPECT_EQ(h.view.searchWindowShown, 1);
        EXPECT_TRUE(h.form.Interactive);
        EXPECT_FALSE(h.view.timerActive);
    }
}

TEST(StartupCommandLine, ThreeParametersAreNone) {
    FormHarness h;
    h.form.FormCreate(args({"put", "10.0.0.1", "pw"}), plainExe(h));
    EXPECT_FALSE(h.form.ParamMode);
    EXPECT_EQ(h.view.log,
              QStringList({kVersion, kBuild, QStringLiteral("No Imbed File Found !!")}));
    EXPECT_EQ(h.view.ipText(), QString());
}

TEST(StartupCommandLine, GetWithSevenFillsTheReadBackTexts) {
    FormHarness h;
    h.form.FormCreate(args({"GET", "10.0.0.3", "pw", "ROM", "0x1000", "256", "out.bin"}),
                      plainExe(h));
    EXPECT_TRUE(h.form.GetMode);
    EXPECT_EQ(h.view.caption(), QStringLiteral("Device ROM data download V1.1.0"));
    EXPECT_EQ(h.form.settings.getText(SettingsRecord::GetOffset), QStringLiteral("0x1000"));
    EXPECT_EQ(h.form.settings.getText(SettingsRecord::GetLength), QStringLiteral("256"));
    EXPECT_EQ(h.form.settings.getText(SettingsRecord::GetOutputName), QStringLiteral("out.bin"));
    EXPECT_EQ(h.view.updateFileName, QStringLiteral("out.bin;"));
    EXPECT_EQ(h.view.log.size(), 5);

    h.form.FormActivate();
    EXPECT_TRUE(h.view.timerActive);
    EXPECT_FALSE(h.form.AutoStart);
    EXPECT_EQ(h.probed, QStringList{QStringLiteral("10.0.0.3")});
}

TEST(StartupCommandLine, ReadBackTextsLongerThanTheirFieldsAreRefused) {
    const QString name31(31, QLatin1Char('n'));
    const QString text15 = QStringLiteral("000000000004096");
    {
        FormHarness h; // exactly at the limits
        h.form.FormCreate({QStringLiteral("get"), QStringLiteral("10.0.0.3"), QStringLiteral("p"),
                           QStringLiteral("R"), text15, text15, name31},
                          plainExe(h));
        EXPECT_TRUE(h.form.GetMode);
        EXPECT_EQ(h.form.settings.getText(SettingsRecord::GetOutputName), name31);
        EXPECT_EQ(h.form.settings.getText(SettingsRecord::GetOffset), text15);
    }
    const QList<QStringList> tooLong = {
        {QStringLiteral("get"), QStringLiteral("10.0.0.3"), QStringLiteral("p"),
         QStringLiteral("R"), text15, text15, name31 + QLatin1Char('x')},
        {QStringLiteral("get"), QStringLiteral("10.0.0.3"), QStringLiteral("p"),
         QStringLiteral("R"), text15 + QLatin1Char('2'), text15, name31},
        {QStringLiteral("get"), QStringLiteral("10.0.0.3"), QStringLiteral("p"),
         QStringLiteral("R"), text15, text15 + QLatin1Char('2'), name31},
        {QStringLiteral("get"), QStringLiteral("10.0.0.3"), QStringLiteral("p"),
         QStringLiteral("R"), text15, text15, QStringLiteral("\u4e2d.bin")},
    };
    for (const QStringList& a : tooLong) {
        FormHarness h;
        h.form.FormCreate(a, plainExe(h));
        EXPECT_FALSE(h.form.GetMode);
        EXPECT_EQ(h.view.caption(), QStringLiteral("Firmware Upgrade  V1.1.1"));
        EXPECT_TRUE(h.view.log.contains(kClear));
        EXPECT_EQ(h.form.settings.getText(SettingsRecord::GetOutputName), QString());
    }
}

TEST(StartupCommandLine, ReadBackNumbersBeyond32BitsAreParameterErrors) {
    {
        FormHarness h; // a boot-flash address fits: all 32 bits, read as signed later
        h.form.FormCreate({QStringLiteral("get"), QStringLiteral("10.0.0.3"), QStringLiteral("p"),
                           QStringLiteral("R"), QStringLiteral("0xBFC00000"),
                           QStringLiteral("65536"), QStringLiteral("boot.bin")},
                          plainExe(h));
        EXPECT_TRUE(h.form.GetMode);
    }
    FormHarness h;
    h.form.FormCreate({QStringLiteral("get"), QStringLiteral("10.0.0.3"), QStringLiteral("p"),
                       QStringLiteral("R"), QStringLiteral("0x1BFC00000"), QStringLiteral("65536"),
                       QStringLiteral("boot.bin")},
                      plainExe(h));
    EXPECT_FALSE(h.form.GetMode);
    const qsizetype why =
        h.view.log.indexOf(QStringLiteral("ROM offset 0x1BFC00000 does not fit in 32 bits"));
    ASSERT_GE(why, 0);
    EXPECT_GT(h.view.log.indexOf(kClear), why);
}

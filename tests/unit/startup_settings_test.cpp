// Start-up from the package: the reader's results, the settings record and the start decisions.

#include "package/PackageFormat.h"
#include "process/ProcessState.h"
#include "support/FakeMainView.h"
#include "transfer/FileAttributes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;
using PackageFormat::MemoryRecord;

namespace {

constexpr quint16 kUpgradeA = AttrUpgradeFile | AttrNormalCheck | AttrDefault | 0x0010;
const QString kCaption = QStringLiteral("Firmware Upgrade  V1.1.1");

// The settings file as it ships: StartMode 4, no file, flags 0x1A, MethodOrder 2.
SettingsRecord shipped() {
    SettingsRecord r;
    r.setByte(SettingsRecord::StartMode, 4);
    r.setByte(SettingsRecord::SettingFlags, 0x1A);
    for (auto f :
         {SettingsRecord::DefaultIP1, SettingsRecord::DefaultIP2, SettingsRecord::DefaultIP3,
          SettingsRecord::DefaultIP4, SettingsRecord::WindowCaption})
        r.setText(f, "default");
    r.setByte(SettingsRecord::TimeOut, 0);
    r.setByte(SettingsRecord::MethodOrder, 2);
    return r;
}

MemoryRecord settingsFile(const QByteArray& bytes, const char* name = "setting.cfg") {
    return MemoryRecord{name, AttrSettingsFile, bytes};
}

MemoryRecord upgradeFile(const char* name = "fw_a.bin", quint16 attribute = kUpgradeA) {
    return MemoryRecord{name, attribute, QByteArray(300, '\x5A')};
}

QString writeExe(FormHarness& h, const QList<MemoryRecord>& records,
                 const PackageFormat::Defects& defects = {}) {
    const QString path = h.temp.filePath(QStringLiteral("fwupgrade.exe"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(PackageFormat::buildPackage(QByteArray(64, 'B'), records, defects, true));
    return path;
}

// FormCreate with no parameters, then ReadSettings; the log lines ReadSettings added.
struct SettingsRun {
    FormHarness h;
    qsizetype logBefore = 0;
    int result = 0;

    explicit SettingsRun(const QList<MemoryRecord>& records) {
        h.form.FormCreate({}, writeExe(h, records));
        logBefore = h.view.log.size();
    }
    QStringList read() {
        result = h.form.ReadSettings();
        return h.view.logFrom(logBefore);
    }
};

} // namespace

TEST(StartupPackage, ReaderResults) {
    {
        FormHarness h; // missing executable: -1
        h.form.FormCreate({}, h.temp.filePath(QStringLiteral("missing.exe")));
        ASSERT_FALSE(h.view.boxes.isEmpty());
        EXPECT_EQ(h.view.boxes.last().text, QStringLiteral("Read Imbed File Error !!"));
        EXPECT_EQ(h.view.boxes.last().caption, QStringLiteral("Initial Error"));
        EXPECT_EQ(h.view.boxes.last().buttons, BoxButtons::Ok);
        EXPECT_TRUE(ProcessState::quitAtStart);
        EXPECT_EQ(h.form.exitStatus, ExitStatus::StartupEnded);
        EXPECT_EQ(h.view.terminateCount, 1);
        EXPECT_EQ(h.view.releaseCount, 1);
    }
    {
        FormHarness h; // damaged: ends the program even when the command line names its own file
        QFile exe(writeExe(h, {upgradeFile()}));
        ASSERT_TRUE(exe.open(QIODevice::ReadWrite));
        QByteArray bytes = exe.readAll();
        bytes[bytes.size() - 23] = 'X'; // the image's last byte, before the 22-byte trailer
        ASSERT_TRUE(exe.seek(0) && exe.write(bytes) == bytes.size());
        exe.close();
        h.form.FormCreate({QStringLiteral("put"), QStringLiteral("10.0.0.1"), QStringLiteral("pw"),
                           QStringLiteral("R"), QStringLiteral("/x/fw.bin")},
                          exe.fileName());
        ASSERT_EQ(h.view.boxes.size(), 1);
        EXPECT_EQ(h.view.boxes[0].text,
                  QStringLiteral("The package is damaged: fw_a.bin does not match its digest"));
        EXPECT_TRUE(ProcessState::quitAtStart);
        EXPECT_EQ(h.form.exitStatus, ExitStatus::StartupEnded);
    }
    {
        FormHarness h; // unsupported version: -2, only the reader's own box
        PackageFormat::Defects d;
        d.version = 3;
        h.form.FormCreate({}, writeExe(h, {upgradeFile()}, d));
        for (const RecordedBox& b : h.view.boxes)
            EXPECT_NE(b.text, QStringLiteral("Read Imbed File Error !!"));
        EXPECT_TRUE(ProcessState::quitAtStart);
        EXPECT_EQ(h.form.exitStatus, ExitStatus::StartupEnded);
        EXPECT_EQ(h.view.releaseCount, 1);
    }
    {
        FormHarness h; // only a settings file: no upgrade file
        h.form.FormCreate({}, writeExe(h, {settingsFile(shipped().bytes())}));
        EXPECT_TRUE(h.view.log.contains(QStringLiteral("No Upgrade File Found !!")));
        EXPECT_EQ(h.form.HaveUpgradeFile, 0);
        EXPECT_GE(h.form.extractionCopy.count, 1);
        EXPECT_FALSE(ProcessState::quitAtStart);
    }
    {
        FormHarness h; // an upgrade file: listed and copied
        h.form.FormCreate({}, writeExe(h, {upgradeFile()}));
        EXPECT_EQ(h.form.HaveUpgradeFile, 1);
        EXPECT_FALSE(h.view.log.contains(QStringLiteral("No Upgrade File Found !!")));
        EXPECT_EQ(h.form.extractionCopy.count, h.form.package->extractionList().count);
        EXPECT_GT(h.view.log.size(), 2); // the reader's list follows the version lines
        EXPECT_EQ(h.view.log[0], QStringLiteral("Program Version V1.1.1f "));
        EXPECT_EQ(h.view.log[1], QStringLiteral("Program build at 2002/02/19 pm 1:48"));
    }
}

TEST(StartupPackage, FormCloseDeletesTheExtractedFiles) {
    FormHarness h;
    h.form.FormCreate({}, writeExe(h, {upgradeFile()}));
    const QString dir = h.form.package->extractionDirectory();
    ASSERT_FALSE(dir.isEmpty());
    ASSERT_TRUE(QFileInfo::exists(dir));
    h.form.FormClose();
    EXPECT_EQ(h.form.package, nullptr);
    EXPECT_FALSE(QFileInfo::exists(dir));
}

TEST(StartupPackage, ParameterModeUsesThePackageOnlyWithoutAFile) {
    const auto line = [](const char* verb, const char* file) {
        QStringList a{QString::fromLatin1(verb), QStringLiteral("10.0.0.1"), QStringLiteral("pw"),
                      QStringLiteral("R")};
        if (file)
            a << QString::fromLatin1(file);
        return a;
    };
    for (const char* verb : {"put", "set"}) {
        SCOPED_TRACE(verb);
        FormHarness h; // no file given: the package is listed and its files are the ones sent
        h.form.FormCreate(line(verb, nullptr),
                          writeExe(h, {upgradeFile(), settingsFile(shipped().bytes())}));
        ASSERT_NE(h.form.package, nullptr);
        EXPECT_EQ(h.form.extractionCopy.count, h.form.package->extractionList().count);
        EXPECT_EQ(h.form.extractionCopy.count, 3);
        EXPECT_EQ(h.form.HaveUpgradeFile, 1);
        EXPECT_EQ(h.view.log[5].left(13), QStringLiteral("Imbed file 0 "));
        // The embedded settings stay unread: the command line decides.
        h.form.FormActivate();
        EXPECT_FALSE(h.view.log.join(QLatin1Char('\n')).contains(QStringLiteral("Set PassWd")));
    }
    {
        FormHarness h; // a file given: the package is extracted, not listed, not used
        h.form.FormCreate(line("put", "/x/fw.bin"),
                          writeExe(h, {upgradeFile(), settingsFile(shipped().bytes())}));
        EXPECT_EQ(h.view.log.size(), 5);
        ASSERT_EQ(h.form.extractionCopy.count, 1);
        EXPECT_EQ(h.form.extractionCopy[0].path, QStringLiteral("/x/fw.bin"));
        ASSERT_NE(h.form.package, nullptr);
        EXPECT_GT(h.form.package->extractionList().count, 0);
    }
}

TEST(StartupSettings, ShippedSettingsOpenTheSearch) {
    SettingsRun run({upgradeFile(), settingsFile(shipped().bytes())});
    FormHarness& h = run.h;
    EXPECT_EQ(run.read(),
              QStringList({QStringLiteral("Set DstIP = "), QStringLiteral("Set PassWd = "),
                           QStringLiteral("Set ROMID = "),
                           QStringLiteral("FTP upgrade method first used."),
                           QStringLiteral("Program release to User"),
                           QStringLiteral("Disnabled Section ID check."),
                           QStringLiteral("Total section list : A")}));
    EXPECT_EQ(run.result, 3);
    EXPECT_TRUE(h.form.OrderFromSettings);
    EXPECT_FALSE(h.form.FactoryRelease);
    EXPECT_FALSE(h.form.SectionCheck);
    EXPECT_EQ(h.form.sectionList, QStringLiteral("A"));
    EXPECT_EQ(h.form.StopLimit, 40);
    EXPECT_EQ(h.view.caption(), kCaption);
    EXPECT_EQ(h.search.searchFlags(), 0x1A);
    EXPECT_EQ(h.search.defaultAddress(2), QStringLiteral("192.168.2.1"));
    EXPECT_TRUE(h.probed.isEmpty());
    EXPECT_TRUE(h.view.boxes.isEmpty());

    // The start: nothing in the list yet, so the search window opens and fills it.
    SettingsRun started({upgradeFile(), settingsFile(shipped().bytes())});
    FormHarness& s = started.h;
    s.view.onSearchWindow = [&] { s.addDevice(DeviceType::Normal, QStringLiteral("10.1.1.1")); };
    s.form.FormActivate();
    EXPECT_EQ(s.view.searchWindowShown, 1);
    EXPECT_TRUE(s.form.Interactive);
    EXPECT_FALSE(s.form.AutoStart);
    EXPECT_FALSE(s.view.timerActive);
    ASSERT_GE(s.view.statuses.size(), 2);
    EXPECT_EQ(s.view.statuses[0], QStringLiteral("0 device found"));
    EXPECT_EQ(s.view.statuses[1], QStringLiteral("Please Wait for Searching Router..."));
    EXPECT_EQ(s.view.ipText(), QStringLiteral("10.1.1.1"));
    EXPECT_EQ(s.form.UpgradeMethod, Method::Http);
    EXPECT_EQ(s.view.status(), QStringLiteral("Please input the password"));
}

TEST(StartupSettings, NoSettingsFile) {
    SettingsRun run({upgradeFile()});
    EXPECT_TRUE(run.read().isEmpty());
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.h.form.settings.settingFlags(), 0x9F);
    EXPECT_TRUE(run.h.form.releaseToUser());
    EXPECT_FALSE(run.h.form.logEnabled());

    SettingsRun started({upgradeFile()});
    started.h.form.FormActivate();
    EXPECT_EQ(started.h.view.searchWindowShown, 1);
    EXPECT_TRUE(started.h.form.Interactive);
    EXPECT_FALSE(started.h.form.LogShown);
}

TEST(StartupSettings, ShortFileOverlaysOnlyItsBytes) {
    QByteArray part(20, '\0');
    part.replace(0, 8, "10.0.0.9");
    part[18] = 'p';
    part[19] = 'w';
    SettingsRun run({upgradeFile(), settingsFile(part)});
    const QStringList lines = run.read();
    FormHarness& h = run.h;
    EXPECT_EQ(h.view.ipText(), QStringLiteral("10.0.0.9"));
    EXPECT_EQ(h.view.password, QStringLiteral("pw"));
    EXPECT_EQ(h.probed, QStringList{QStringLiteral("10.0.0.9")});
    EXPECT_EQ(h.form.settings.settingFlags(), 0x9F);
    EXPECT_EQ(lines.mid(0, 3),
              QStringList({QStringLiteral("Set DstIP = 10.0.0.9"),
                           QStringLiteral("Set PassWd = ********"), QStringLiteral("Set ROMID = ")}));
    // The rest is zeros: StartMode 0 is not supported, the caption becomes empty.
    EXPECT_EQ(h.view.caption(), QString());
    ASSERT_EQ(h.view.boxes.size(), 1);
    EXPECT_EQ(h.view.boxes[0].text, QStringLiteral("Not Support Method Error"));
    EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Function Waring"));
    EXPECT_EQ(h.view.boxes[0].buttons, BoxButtons::OkCancel);
    EXPECT_EQ(lines.last(), QStringLiteral("Not Support Method : ") + QChar(0));
    EXPECT_EQ(run.result, 0);
}

TEST(StartupSettings, TimeOutValues) {
    struct Case {
        quint8 stored;
        quint16 limit;
        QString line;
    };
    const Case cases[] = {
        {10, 10, QStringLiteral("Set Time out value to : 10")},
        {127, 127, QStringLiteral("Set Time out value to : 127")},
        {0, 40, QString()},
        {200, 40, QStringLiteral("Time out value out of range : -56")},
        {255, 40, QStringLiteral("Time out value out of range : -1")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.stored));
        SettingsRecord r = shipped();
        r.setByte(SettingsRecord::TimeOut, c.stored);
        SettingsRun run({upgradeFile(), settingsFile(r.bytes())});
        const QStringList lines = run.read();
        EXPECT_EQ(run.h.form.StopLimit, c.limit);
        const QStringList timeLines = lines.filter(QStringLiteral("Time out"));
        if (c.line.isNull()) {
            EXPECT_TRUE(timeLines.isEmpty());
        } else {
            EXPECT_EQ(timeLines, QStringList{c.line});
        }
    }
}

TEST(StartupSettings, WindowCaption) {
    {
        SettingsRecord r = shipped();
        r.setText(SettingsRecord::WindowCaption, "Default");
        SettingsRun run({settingsFile(r.bytes())});
        run.read();
        EXPECT_EQ(run.h.view.caption(), QStringLiteral("Default"));
    }
    {
        SettingsRecord r = shipped();
        r.setText(SettingsRecord::WindowCaption, "");
        SettingsRun run({settingsFile(r.bytes())});
        run.read();
        EXPECT_EQ(run.h.view.caption(), QString());
    }
    {
        SettingsRecord r = shipped(); // 32 bytes without a zero: read to the field width
        r.setText(SettingsRecord::WindowCaption, QByteArray(32, 'C'));
        SettingsRun run({settingsFile(r.bytes())});
        run.read();
        EXPECT_EQ(run.h.view.caption(), QString(32, QLatin1Char('C')));
    }
}

TEST(StartupSettings, FlagsMethodOrderAndSearchSettings) {
    SettingsRecord r = shipped();
    r.setByte(SettingsRecord::SettingFlags, 0x6F); // factory, log, section check
    r.setByte(SettingsRecord::MethodOrder, 0);
    r.setText(SettingsRecord::ROMID, "ABC100");
    r.setText(SettingsRecord::DefaultIP1, "10.9.9.1");
    r.setText(SettingsRecord::DefaultIP3, "");
    SettingsRun run({upgradeFile(), settingsFile(r.bytes())});
    EXPECT_EQ(run.read().mid(2),
              QStringList({QStringLiteral("Set ROMID = ABC100"),
                           QStringLiteral("default sequence of upgrade method used."),
                           QStringLiteral("Program release to Factory"),
                           QStringLiteral("Enabled Log state by initial setting"),
                           QStringLiteral("Enabled Section ID check."),
                           QStringLiteral("Total section list : A")}));
    FormHarness& h = run.h;
    EXPECT_TRUE(h.form.FactoryRelease);
    EXPECT_TRUE(h.form.SectionCheck);
    EXPECT_FALSE(h.form.OrderFromSettings);
    EXPECT_EQ(h.search.romId(), QStringLiteral("ABC100"));
    EXPECT_EQ(h.search.searchFlags(), 0x6F);
    EXPECT_EQ(h.search.defaultAddress(1), QStringLiteral("10.9.9.1"));
    EXPECT_EQ(h.search.defaultAddress(2), QStringLiteral("192.168.2.1"));
    EXPECT_EQ(h.search.defaultAddress(3), QString());
    EXPECT_EQ(h.form.romId, QStringLiteral("Ulvika")); // the form's own stays

    const std::pair<quint8, const char*> orders[] = {{1, "HTTP upgrade method first used."},
                                                     {3, "TFTP upgrade method first used."}};
    for (const auto& [order, line] : orders) {
        SettingsRecord o = shipped();
        o.setByte(SettingsRecord::MethodOrder, order);
        SettingsRun each({settingsFile(o.bytes())});
        EXPECT_TRUE(each.read().contains(QString::fromLatin1(line)));
        EXPECT_TRUE(each.h.form.OrderFromSettings);
    }
    SettingsRecord odd = shipped();
    odd.setByte(SettingsRecord::MethodOrder, 7);
    odd.setByte(SettingsRecord::SettingFlags, 0xFF); // keeps the search flags
    SettingsRun other({settingsFile(odd.bytes())});
    EXPECT_TRUE(other.read().filter(QStringLiteral("method")).isEmpty());
    EXPECT_FALSE(other.h.form.OrderFromSettings);
    EXPECT_EQ(other.h.search.searchFlags(), 0x9F);
}

TEST(StartupSettings, PutStartMode) {
    {
        SettingsRecord r = shipped();
        r.setByte(SettingsRecord::StartMode, 2);
        r.setText(SettingsRecord::DstIP, "10.0.0.5");
        r.setText(SettingsRecord::FileName, "/opt/fw/new.bin");
        SettingsRun run({upgradeFile(), settingsFile(r.bytes())});
        const QStringList lines = run.read();
        FormHarness& h = run.h;
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(lines.last(), QStringLiteral("Initial put upgrade file : /opt/fw/new.bin ;"));
        EXPECT_EQ(h.view.updateFileName, QStringLiteral("/opt/fw/new.bin ;"));
        ASSERT_EQ(h.form.extractionCopy.count, 1);
        EXPECT_EQ(h.form.extractionCopy[0].path, QStringLiteral("/opt/fw/new.bin"));
        EXPECT_EQ(h.form.extractionCopy[0].attribute, 0x080D);
        EXPECT_EQ(h.form.HaveUpgradeFile, 1);
    }
    {
        SettingsRecord r = shipped(); // a file but no address
        r.setByte(SettingsRecord::StartMode, 2);
        r.setText(SettingsRecord::FileName, "new.bin");
        SettingsRun run({settingsFile(r.bytes())});
        run.read();
        EXPECT_EQ(run.result, 0);
    }
    {
        SettingsRecord r = shipped(); // an address, the package's files
        r.setByte(SettingsRecord::StartMode, 2);
        r.setText(SettingsRecord::DstIP, "10.0.0.5");
        SettingsRun run({upgradeFile(), settingsFile(r.bytes())});
        run.read();
        EXPECT_EQ(run.result, 1);
        run.h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.5"));
        run.h.form.FormActivate();
        EXPECT_TRUE(run.h.form.AutoStart);
        EXPECT_FALSE(run.h.form.Interactive);
        EXPECT_TRUE(run.h.view.timerActive);
        EXPECT_EQ(run.h.form.UpgradeMethod, Method::Http);
        EXPECT_EQ(run.h.view.searchWindowShown, 0);
    }
    {
        SettingsRecord r = shipped(); // an unattended put keeps the password it was given
        r.setByte(SettingsRecord::StartMode, 2);
        r.setText(SettingsRecord::DstIP, "10.0.0.5");
        r.setText(SettingsRecord::PassWd, "s3cret");
        SettingsRun run({upgradeFile(), settingsFile(r.bytes())});
        run.h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.5"));
        run.h.form.FormActivate();
        EXPECT_TRUE(run.h.form.AutoStart);
        EXPECT_EQ(run.h.view.password, QStringLiteral("s3cret"));
    }
    {
        SettingsRecord r = shipped(); // a set waits for a person: the user-release preset holds
        r.setByte(SettingsRecord::StartMode, 4);
        r.setText(SettingsRecord::DstIP, "10.0.0.5");
        r.setText(SettingsRecord::PassWd, "s3cret");
        SettingsRun run({upgradeFile(), settingsFile(r.bytes())});
        run.h.addDevice(DeviceType::Normal, QStringLiteral("10.0.0.5"));
        run.h.form.FormActivate();
        EXPECT_TRUE(run.h.form.Interactive);
        EXPECT_EQ(run.h.view.password, QString());
    }
    {
        SettingsRecord r = shipped(); // an address and no file at all
        r.setByte(SettingsRecord::StartMode, 2);
        r.setText(SettingsRecord::DstIP, "10.0.0.5");
        SettingsRun run({settingsFile(r.bytes())});
        run.read();
        EXPECT_EQ(run.result, 3);
    }
}

TEST(StartupSettings, GetAndSetStartModes) {
    {
        SettingsRecord r = shipped();
        r.setByte(SettingsRecord::StartMode, 1);
        r.setGetText(SettingsRecord::GetOutputName, "rom.bin");
        r.setGetText(SettingsRecord::GetOffset, "0");
        r.setGetText(SettingsRecord::GetLength, "65536");
        SettingsRun run({settingsFile(r.bytes())});
        run.read();
        EXPECT_EQ(run.result, 2);
        EXPECT_EQ(run.h.view.updateFileName, QStringLiteral("rom.bin ;"));
        EXPECT_EQ(run.h.form.HaveUpgradeFile, 1);
        run.h.form.FormActivate();
        EXPECT_TRUE(run.h.form.GetMode);
        EXPECT_TRUE(run.h.view.timerActive);
        EXPECT_EQ(run.h.view.caption(), QStringLiteral("Device ROM data download V1.1.0"));
    }
    {
        SettingsRecord get = shipped(); // get without a file goes on to the next settings file
        get.setByte(SettingsRecord::StartMode, 1);
        SettingsRecord set = shipped();
        set.setText(SettingsRecord::FileName, "later.bin");
        SettingsRun run({upgradeFile(), settingsFile(get.bytes(), "first.cfg"),
                         settingsFile(set.bytes(), "second.cfg")});
        const QStringList lines = run.read();
        EXPECT_EQ(run.result, 3);
        EXPECT_EQ(lines.filter(QStringLiteral("Set DstIP")).size(), 2);
        EXPECT_EQ(lines.last(), QStringLiteral("Initial set upgrade file : later.bin ;"));
        ASSERT_EQ(run.h.form.extractionCopy.count, 1);
        EXPECT_EQ(run.h.form.extractionCopy[0].path, QStringLiteral("later.bin"));
    }
    {
        SettingsRecord get = shipped(); // get without a file and no package files: 0
        get.setByte(SettingsRecord::StartMode, 1);
        SettingsRun run({settingsFile(get.bytes())});
        run.read();
        EXPECT_EQ(run.result, 0);
    }
}

TEST(StartupSettings, UnreadableSettingsFileEndsTheProgram) {
    SettingsRun run({upgradeFile(), settingsFile(shipped().bytes())});
    FormHarness& h = run.h;
    QString path;
    for (int i = 0; i < h.form.extractionCopy.count; ++i)
        if (h.form.extractionCopy[i].attribute & AttrSettingsFile)
            path = h.form.extractionCopy[i].path;
    ASSERT_FALSE(path.isEmpty());
    ASSERT_TRUE(QFile::remove(path));

    h.form.FormActivate();
    ASSERT_EQ(h.view.boxes.size(), 1);
    EXPECT_EQ(h.view.boxes[0].text,
              QStringLiteral("Read file : ") + path + QStringLiteral(" error!"));
    EXPECT_EQ(h.view.boxes[0].caption, QStringLiteral("Function Error"));
    EXPECT_EQ(h.view.boxes[0].buttons, BoxButtons::YesNoCancel);
    EXPECT_EQ(h.view.releaseCount, 1);
    EXPECT_EQ(h.form.exitStatus, ExitStatus::StartupEnded);
    EXPECT_EQ(h.view.searchWindowShown, 0);
}

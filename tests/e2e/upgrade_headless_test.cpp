// Headless upgrades of the real program against routersim's web server on port 80, inside the
// test's private network namespace: the command-line put, the put started by the packed
// settings, refused passwords and a router that stalls until the watchdog ends the run.

#include "package/PackageFormat.h"
#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");

QByteArray firmwareImage() {
    QByteArray b;
    for (int i = 0; i < 40000; ++i)
        b.append(char((i * 7 + i / 251) & 0xFF));
    return b;
}

class UpgradeHeadless : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QByteArray firmware = firmwareImage();
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        QFile f(path("fw.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(firmware), firmware.size());
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // The program with the firmware and a settings record (fwpack settings options) appended.
    QString pack(const QStringList& settingsOptions) {
        return packProgram(dir.path(), {path("fw.bin") + QStringLiteral(":0x080D")},
                           settingsOptions);
    }

    // One normal router with its web server; `web` are the web server's knobs.
    void startRouter(const QString& web) {
        sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--router"), Router + QStringLiteral(",state=normal,romid=ABC123"),
            QStringLiteral("--web"), QStringLiteral("--web-options"),
            Router + QStringLiteral(":body=") + path("body.bin") + QStringLiteral(",") + web});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }

    // Writes DIR/NAME, executable.
    QString writeProgram(const char* name, const QByteArray& bytes) const {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        EXPECT_EQ(f.write(bytes), bytes.size());
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return f.fileName();
    }
    static QByteArray readAll(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QByteArray body() const {
        QFile f(path("body.bin"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool uploaded() const { return QFile::exists(path("body.bin")); }
};

} // namespace

TEST_F(UpgradeHeadless, CommandLinePutSendsTheFileAndExitsZero) {
    startRouter(QStringLiteral("password=s3cret"));
    const ProgramRun r =
        runHeadless(pack({}), {QStringLiteral("put"), Router, QStringLiteral("s3cret"),
                               QStringLiteral("ABC123"), path("fw.bin"), QStringLiteral("log")});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(body(), expectedUploadBody(firmware));
    EXPECT_TRUE(r.out.contains("Unsing HTTP upgrade mode to : 192.168.123.254\n")) << why;
    EXPECT_TRUE(r.out.contains("Upgrade success in New version\n")) << why;
    EXPECT_TRUE(r.out.contains("HTTP upgrade section :\n")) << why;
    EXPECT_TRUE(r.err.contains("status: Upgrade Successfully\n")) << why;
    EXPECT_FALSE(r.err.contains("box: ")) << why; // unattended: no success box
}

TEST_F(UpgradeHeadless, PackedSettingsPutSendsTheEmbeddedFirmware) {
    startRouter(QStringLiteral("password="));
    // Shipped settings, except a put to the router: FTP first, which falls back to HTTP.
    const QString program = pack({QStringLiteral("--start-mode"), QStringLiteral("put"),
                                  QStringLiteral("--dst-ip"), Router});
    const ProgramRun r = runHeadless(program, {});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(body(), expectedUploadBody(firmware));
    const qsizetype ftp = r.out.indexOf("Unsing FTP upgrade mode fail : 192.168.123.254\n");
    const qsizetype http = r.out.indexOf("Unsing HTTP upgrade mode to : 192.168.123.254\n");
    EXPECT_GE(ftp, 0) << why;
    EXPECT_GT(http, ftp) << why;
}

TEST_F(UpgradeHeadless, WrongPasswordExitsOneAfterItsBox) {
    startRouter(QStringLiteral("password=right"));
    const ProgramRun r =
        runHeadless(pack({}), {QStringLiteral("put"), Router, QStringLiteral("wrong"),
                               QStringLiteral("ABC123"), path("fw.bin"), QStringLiteral("log")});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.err.contains(
        "box: Authentication Failed: Incorrect password. Please check and input again!\n"))
        << why;
    EXPECT_FALSE(uploaded());
}

TEST_F(UpgradeHeadless, OldFirmwareWithAWrongPasswordExitsOne) {
    startRouter(QStringLiteral("firmware=old,password=right"));
    const ProgramRun r =
        runHeadless(pack({}), {QStringLiteral("put"), Router, QStringLiteral("wrong"),
                               QStringLiteral("ABC123"), path("fw.bin"), QStringLiteral("log")});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.out.contains("Old version detect\n")) << why;
    EXPECT_TRUE(r.out.contains("FTP Mode upgrade fail last time...\n")) << why;
    EXPECT_TRUE(r.err.contains(
        "box: Authentication Failed: Incorrect password. Please check and input again!\n"))
        << why;
    EXPECT_FALSE(uploaded());
}

TEST_F(UpgradeHeadless, StalledRouterEndsThroughTheWatchdog) {
    startRouter(QStringLiteral("password=,upg=silent"));
    const QString program =
        pack({QStringLiteral("--start-mode"), QStringLiteral("put"), QStringLiteral("--dst-ip"),
              Router, QStringLiteral("--timeout"), QStringLiteral("3"),
              QStringLiteral("--method-order"), QStringLiteral("1")});
    QElapsedTimer t;
    t.start();
    const ProgramRun r = runHeadless(program, {});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.out.contains("Set Time out value to : 3\n")) << why;
    EXPECT_TRUE(r.out.contains("StopCounter : 1\nStopCounter : 2\n")) << why;
    EXPECT_FALSE(r.out.contains("StopCounter : 3\n")) << why;
    EXPECT_TRUE(r.err.contains("box: HTTP Upgrade Failure: Upgrade Abnormal Terminate and Please "
                               "ReRun the program to ReUpgrade\n"))
        << why;
    // The upload's socket gave up soon after the watchdog: the worker ended on its own.
    EXPECT_FALSE(r.err.contains("did not end in time")) << why;
    EXPECT_LT(t.elapsed(), 30000);
}

TEST_F(UpgradeHeadless, PutWithoutAFileSendsThePackagedFirmware) {
    // The support engineer's line: router, password, ROM identifier; the images are packed.
    startRouter(QStringLiteral("password=s3cret"));
    const ProgramRun r =
        runHeadless(pack({}), {QStringLiteral("put"), Router, QStringLiteral("s3cret"),
                               QStringLiteral("ABC123")});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(body(), expectedUploadBody(firmware));
    EXPECT_TRUE(r.out.contains("Login password correct in New version\n")) << why;
    EXPECT_TRUE(r.out.contains("Imbed File Attrib : 2061\n")) << why; // the package was listed
    // The packed settings are not read: the command line decides.
    EXPECT_FALSE(r.out.contains("Set PassWd")) << why;
}

TEST_F(UpgradeHeadless, ADamagedPackageIsRefusedBeforeAnyByteReachesTheRouter) {
    startRouter(QStringLiteral("password=s3cret"));
    const QString program = pack({});
    const QByteArray packed = readAll(program);
    const QByteArray settings = readAll(path("set.bin"));
    ASSERT_EQ(settings.size(), 224);
    const QStringList put = {QStringLiteral("put"), Router, QStringLiteral("s3cret"),
                             QStringLiteral("ABC123")};
    // The extracted files go to a directory of the test's own, to see that none is left.
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    // The program's private directories (Qt keeps a runtime directory there too).
    const auto extracted = [&] {
        return QDir(tmp.path()).entryList({QStringLiteral("fwupgrade-*")},
                                          QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    const struct {
        QByteArray part;
        const char* name;
    } parts[] = {{firmware, "fw.bin"}, {settings, "set.bin"}};
    for (const auto& p : parts) {
        QByteArray bad = packed;
        const qsizetype at = bad.lastIndexOf(p.part) + p.part.size() / 2;
        ASSERT_GT(at, p.part.size() / 2);
        bad[at] = char(bad[at] ^ 0x40);
        const QString damaged = writeProgram("damaged", bad);
        const ProgramRun r = runHeadless(damaged, put);
        const std::string why = describe(r).toStdString();
        EXPECT_EQ(r.exitCode, 2) << why;
        EXPECT_TRUE(r.err.contains(QByteArray("box: Package Error: The package is damaged: ") +
                                   p.name + " does not match its digest\n"))
            << why;
        EXPECT_FALSE(r.out.contains("Unsing")) << why;
        EXPECT_FALSE(uploaded());
        EXPECT_EQ(extracted(), QStringList());
        const ProgramRun v = runProgram(fwpackPath(), {QStringLiteral("verify"), damaged},
                                        QProcessEnvironment::systemEnvironment(),
                                        HeadlessRunTimeout);
        EXPECT_EQ(v.exitCode, 1) << v.err.toStdString();
    }

    // The same program as packed: checked and sent.
    const ProgramRun r = runHeadless(program, put);
    qputenv("TMPDIR", oldTmp);
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(body(), expectedUploadBody(firmware));
    EXPECT_FALSE(r.out.contains("carries no digest")) << why;
    EXPECT_EQ(extracted(), QStringList());
    EXPECT_EQ(runProgram(fwpackPath(), {QStringLiteral("verify"), program},
                         QProcessEnvironment::systemEnvironment(), HeadlessRunTimeout)
                  .exitCode,
              0);
}

TEST_F(UpgradeHeadless, APackageWithoutADigestStillUpgradesAndSaysSo) {
    // Packed before digests existed: the program itself, then the image, and no digest record.
    startRouter(QStringLiteral("password=s3cret"));
    const QByteArray old = fw::PackageFormat::buildPackage(readAll(fwupgradePath()),
                                                           {{"fw.bin", 0x080D, firmware}});
    ASSERT_FALSE(old.isEmpty());
    const ProgramRun r = runHeadless(writeProgram("old", old),
                                     {QStringLiteral("put"), Router, QStringLiteral("s3cret"),
                                      QStringLiteral("ABC123")});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(body(), expectedUploadBody(firmware));
    EXPECT_EQ(r.out.count("The package carries no digest: its files are extracted unchecked\n"), 1)
        << why;
}

FW_NETNS_TEST_MAIN(QCoreApplication)

// Headless ROM read-backs of the real program against routersim's web server on port 80, inside
// the test's private network namespace: the command-line get, the get started by packed
// settings, and the runs that must end as failures (refused password, failed read, no router).

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");

QByteArray romImage() {
    QByteArray b;
    for (int i = 0; i < 8192; ++i)
        b.append(char((i * 37 + i / 256 + 11) & 0xFF));
    return b;
}

class ReadBackHeadless : public ::testing::Test {
protected:
    // The read-back's output name has room for 31 characters: a short private folder.
    QTemporaryDir dir{QStringLiteral("/tmp/rbXXXXXX")};
    QByteArray rom = romImage();
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        ASSERT_LT(out().size(), 32);
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        QFile f(path("rom.img"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(rom), rom.size());
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString out() const { return path("out.bin"); }

    // One normal router whose web server serves the ROM image; `web` are further knobs.
    void startRouter(const QString& web) {
        sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--router"), Router + QStringLiteral(",state=normal,romid=ABC123"),
            QStringLiteral("--web"), QStringLiteral("--web-options"),
            Router + QStringLiteral(":rom=") + path("rom.img") + QStringLiteral(",transcript=") +
                path("web.txt") + QStringLiteral(",") + web});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }

    ProgramRun get(const QString& password, const QString& offset, const QString& length) {
        return runHeadless(fwupgradePath(), {QStringLiteral("get"), Router, password,
                                             QStringLiteral("ABC123"), offset, length, out()});
    }

    // The program with a settings record (fwpack settings options) appended.
    QString pack(const QStringList& settingsOptions) {
        return packProgram(dir.path(), {}, settingsOptions);
    }

    QByteArray file(const QString& p) const {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QByteArray webTranscript() const { return file(path("web.txt")); }
};

} // namespace

TEST_F(ReadBackHeadless, CommandLineGetWritesTheStretchAndExitsZero) {
    startRouter(QStringLiteral("password=s3cret"));
    const ProgramRun r =
        get(QStringLiteral("s3cret"), QStringLiteral("0x100"), QStringLiteral("0x40"));
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(file(out()), rom.mid(0x100, 0x40)) << why;
    EXPECT_TRUE(r.out.contains("Try FTP Get Method first...\n")) << why;
    EXPECT_TRUE(r.out.contains("Try to use HTTP Get method.\n")) << why;
    EXPECT_TRUE(r.out.contains("Get ROM file success in file : " + out().toLatin1() + "\n")) << why;
    EXPECT_TRUE(webTranscript().contains("GET /config.bin?O=100&L=40 HTTP/1.1\r\n\r\n")) << why;
    EXPECT_FALSE(r.err.contains("box: ")) << why;
}

TEST_F(ReadBackHeadless, ShortFtpReadKeepsItsBytesButExitsOne) {
    sim = std::make_unique<SimProcess>(QStringList{
        QStringLiteral("--router"), Router + QStringLiteral(",state=normal,romid=ABC123"),
        QStringLiteral("--ftp"), QStringLiteral("--ftp-options"),
        Router + QStringLiteral(":password=s3cret,retrshort=10,rom=") + path("rom.img")});
    QString error;
    ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    const ProgramRun r = get(QStringLiteral("s3cret"), QStringLiteral("0x100"),
                             QStringLiteral("512"));
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_EQ(file(out()), rom.mid(0x100, 502)) << why;
    EXPECT_TRUE(r.out.contains("ROM data cut short: 502 of 512 bytes\n")) << why;
    EXPECT_TRUE(r.err.contains("box: Failure: ROM data cut short: 502 of 512 bytes\n")) << why;
    EXPECT_FALSE(r.out.contains("Try to use HTTP Get method.")) << why;
}

TEST_F(ReadBackHeadless, WrongPasswordExitsOneWithoutReading) {
    startRouter(QStringLiteral("password=right"));
    const ProgramRun r =
        get(QStringLiteral("wrong"), QStringLiteral("0x100"), QStringLiteral("0x40"));
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.err.contains(
        "box: Authentication Failed: Incorrect password. Please check and input again!\n"))
        << why;
    EXPECT_TRUE(r.err.contains("status: Your input password is incorrect, please check again.\n"))
        << why;
    EXPECT_FALSE(QFile::exists(out())) << why;
    EXPECT_FALSE(webTranscript().contains("/config.bin")) << why;
}

TEST_F(ReadBackHeadless, FailedHttpReadExitsOne) {
    startRouter(QStringLiteral("password=s3cret,romstatus=404"));
    const ProgramRun r = get(QStringLiteral("s3cret"), QStringLiteral("16"), QStringLiteral("16"));
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.err.contains("box: Failure: HTTP Get ROM Error\n")) << why;
    EXPECT_TRUE(r.out.contains("unknown response error code !\n")) << why;
}

TEST_F(ReadBackHeadless, SilentAddressExitsOne) {
    // Nobody plays the router: the search finds nothing (the address leaves the emptied list)
    // and no echo answers.
    const ProgramRun r = get(QStringLiteral("s3cret"), QStringLiteral("0"), QStringLiteral("16"));
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.out.contains("Unconnect to router : ")) << why;
    EXPECT_FALSE(r.out.contains("Try FTP Get Method first...")) << why;
    EXPECT_TRUE(r.err.contains("box: Router connection failure: Unconnect to router\n")) << why;
    EXPECT_FALSE(QFile::exists(out())) << why;
}

TEST_F(ReadBackHeadless, PackedSettingsGetWritesTheStretchAndExitsZero) {
    startRouter(QStringLiteral("password=s3cret"));
    const QString program =
        pack({QStringLiteral("--start-mode"), QStringLiteral("get"), QStringLiteral("--dst-ip"),
              Router, QStringLiteral("--password"), QStringLiteral("s3cret"),
              QStringLiteral("--get-output"), out(), QStringLiteral("--get-offset"),
              QStringLiteral("0x100"), QStringLiteral("--get-length"), QStringLiteral("0x40")});
    const ProgramRun r = runHeadless(program, {});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(file(out()), rom.mid(0x100, 0x40)) << why;
    EXPECT_TRUE(r.out.contains("Set DstIP = 192.168.123.254\n")) << why;
    EXPECT_TRUE(webTranscript().contains("GET /config.bin?O=100&L=40 HTTP/1.1\r\n\r\n")) << why;
}

TEST_F(ReadBackHeadless, PackedSettingsGetWithTheLogShownStillEnds) {
    startRouter(QStringLiteral("password=right"));
    // Shipped flags plus the System Log: a refused password leaves the window open for a person,
    // which a headless run must end as the failure it is.
    const QString program =
        pack({QStringLiteral("--start-mode"), QStringLiteral("get"), QStringLiteral("--dst-ip"),
              Router, QStringLiteral("--password"), QStringLiteral("wrong"),
              QStringLiteral("--flags"), QStringLiteral("0x3A"), QStringLiteral("--get-output"),
              out(), QStringLiteral("--get-offset"), QStringLiteral("0"),
              QStringLiteral("--get-length"), QStringLiteral("16")});
    const ProgramRun r = runHeadless(program, {});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.out.contains("Enabled Log state by initial setting\n")) << why;
    EXPECT_FALSE(QFile::exists(out())) << why;
}

FW_NETNS_TEST_MAIN(QCoreApplication)

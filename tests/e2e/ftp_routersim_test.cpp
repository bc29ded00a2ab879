// The FTP engine against routersim's FTP server on its real port (21) inside the test's private
// network namespace: an upgrade stores the file in the server's directory byte-exact, a ROM read
// brings back the ROM bytes, and a wrong password is refused.

#include "support/NetNamespace.h"

#include "ftp/FtpUpgradeEngine.h"
#include "transfer/FileAttributes.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace fw;
using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class FtpRoutersim : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("store"))));
        sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--router"), Router + QStringLiteral(",state=normal"),
            QStringLiteral("--ftp"), QStringLiteral("--ftp-options"),
            Router + QStringLiteral(":password=pw,dir=") + dir.filePath(QStringLiteral("store"))});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }
};

struct Lines : LogSink, StatusSink {
    QStringList log, status;
    void appendLog(const QString& l) override { log << l; }
    void setStatusText(const QString& t) override { status << t; }
};

} // namespace

TEST_F(FtpRoutersim, UpgradeStoresAndRomReadRetrieves) {
    QByteArray firmware;
    for (int i = 0; i < 100000; ++i)
        firmware.append(char((i * 13 + i / 97) & 0xFF));
    const QString path = dir.filePath(QStringLiteral("fw.bin.tmp"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(firmware), firmware.size());
    f.close();
    ExtractionList list;
    list.append(dir.filePath(QStringLiteral("self.tmp")), 0, 0);
    list.append(path, 0x0815, 1);

    Lines lines;
    Sinks sinks;
    sinks.log = &lines;
    sinks.status = &lines;
    StopCounter counter{0};
    FtpUpgradeEngine engine; // port 21
    EXPECT_EQ(engine.FtpUpgrade(counter, sinks, list, Router, QStringLiteral("ABC123"), 1,
                                QStringLiteral("pw")),
              1)
        << lines.log.join(u'\n').toStdString();
    EXPECT_EQ(engine.sentSections(), QStringLiteral("A"));
    EXPECT_TRUE(readAll(dir.filePath(QStringLiteral("store/fw.bin"))) == firmware);

    const QString out = dir.filePath(QStringLiteral("rom.bin"));
    EXPECT_EQ(
        engine.FtpGetRom(sinks, Router, QStringLiteral("pw"), QStringLiteral("256#1000"), out), 1);
    const QByteArray rom = readAll(out);
    ASSERT_EQ(rom.size(), 1000);
    for (int i = 0; i < rom.size(); ++i)
        ASSERT_EQ(quint8(rom[i]), quint8((256 + i) & 0xFF)) << i;

    FtpUpgradeEngine other;
    EXPECT_EQ(other.FtpGetRom(sinks, Router, QStringLiteral("wrong"), QStringLiteral("0#1"), out),
              -2);
}

FW_NETNS_TEST_MAIN(QCoreApplication)

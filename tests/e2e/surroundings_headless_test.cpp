// The program when its surroundings misbehave, against routersim in the test's private network
// namespace: a reader that goes away during an upgrade, a stop signal while standard output is
// blocked, and a read-back onto a full disk.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");

class Surroundings : public ::testing::Test {
protected:
    // The read-back's output name has room for 31 characters: a short private folder.
    QTemporaryDir dir{QStringLiteral("/tmp/suXXXXXX")};
    QByteArray firmware = QByteArray(300000, 'f');
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("tmp")));
        ASSERT_TRUE(QDir(dir.path())
                        .mkdir(QStringLiteral("run"),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QFile f(path("fw.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(firmware), firmware.size());
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    void startRouter(const QString& web) {
        sim = std::make_unique<SimProcess>(QStringList{
            QStringLiteral("--router"), Router + QStringLiteral(",state=normal,romid=ABC123"),
            QStringLiteral("--web"), QStringLiteral("--web-options"),
            Router + QStringLiteral(":password=s3cret,body=") + path("body.bin") +
                (web.isEmpty() ? QString() : QStringLiteral(",") + web)});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }
    // The program with the firmware packed into it, for a put that extracts it.
    QString packed() { return packProgram(dir.path(), {path("fw.bin") + ":0x080D"}, {}); }
    QStringList put() const {
        return {QStringLiteral("put"), Router, QStringLiteral("s3cret"), QStringLiteral("ABC123")};
    }
    QProcessEnvironment env(bool jsonl) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("FWUPGRADE_HEADLESS"), QStringLiteral("1"));
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        e.insert(QStringLiteral("TMPDIR"), path("tmp"));
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("run"));
        if (jsonl)
            e.insert(QStringLiteral("FWUPGRADE_OUTPUT"), QStringLiteral("jsonl"));
        return e;
    }
    QStringList extracted() const {
        return QDir(path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    QByteArray file(const char* name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

} // namespace

TEST_F(Surroundings, AReaderThatGoesAwayDoesNotEndTheUpgrade) {
    startRouter({});
    const QString program = packed();
    for (const bool jsonl : {false, true}) {
        SCOPED_TRACE(jsonl ? "jsonl" : "text");
        QFile::remove(path("body.bin"));
        const ProgramRun r = runProgram(
            QStringLiteral("/bin/bash"),
            QStringList{QStringLiteral("-c"),
                        QStringLiteral("\"$@\" 2>&1 | head -1; exit \"${PIPESTATUS[0]}\""),
                        QStringLiteral("bash"), program} +
                put(),
            env(jsonl), HeadlessRunTimeout);
        const std::string why = describe(r).toStdString();
        ASSERT_FALSE(r.timedOut) << why;
        EXPECT_EQ(r.exitCode, 0) << why; // not 141: SIGPIPE
        EXPECT_EQ(r.out.count('\n'), 1) << why;
        EXPECT_TRUE(file("body.bin").contains(firmware)) << why;
        EXPECT_EQ(extracted(), QStringList()) << why;
    }
}

TEST_F(Surroundings, StopSignalEndsARunWhoseOutputNobodyReads) {
    startRouter(QStringLiteral("upg=silent"));
    const QString program = packed();
    const QByteArray fifo = path("out.fifo").toLocal8Bit();
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Holds the FIFO open without reading it until the end.
    const int holder = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    QProcess p;
    p.setProcessEnvironment(env(true));
    p.setStandardOutputFile(path("out.fifo"));
    p.setStandardErrorFile(path("err.txt"));
    p.start(program, put());
    ASSERT_TRUE(p.waitForStarted(5000));
    // The upload is on its way (its image extracted), then the stream fills up: the watchdog's
    // next line blocks its writer.
    for (int i = 0; i < 1000 && !QFile::exists(path("body.bin")); ++i)
        QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(path("body.bin"))) << file("err.txt").toStdString();
    EXPECT_NE(extracted(), QStringList());
    for (int i = 0; i < 1 << 20 && ::write(holder, "x", 1) == 1; ++i) {
    }
    QThread::msleep(1500);
    ASSERT_EQ(p.state(), QProcess::Running);
    int full = 0;
    ASSERT_EQ(::ioctl(holder, FIONREAD, &full), 0);

    QElapsedTimer t;
    t.start();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(p.exitCode(), SIGTERM);
    EXPECT_EQ(extracted(), QStringList());
    // The exit object did not fit: nothing was added to the full stream.
    QByteArray all(full + 1, '\0');
    qint64 got = 0;
    for (ssize_t n = 1; n > 0 && got < all.size(); got += std::max<ssize_t>(n, 0))
        n = ::read(holder, all.data() + got, size_t(all.size() - got));
    ::close(holder);
    EXPECT_EQ(got, full);
}

TEST_F(Surroundings, ReadBackOntoAFullDiskFailsNamingTheFile) {
    QByteArray rom;
    for (int i = 0; i < 0x20000; ++i)
        rom.append(char(i * 13));
    QFile f(path("rom.img"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(rom), rom.size());
    f.close();
    startRouter(QStringLiteral("rom=") + path("rom.img"));
    // A 64 KiB file system of its own, in a private mount namespace, for a 68 KiB read.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("m")));
    const QString out = path("m/o.bin");
    const ProgramRun r = runProgram(
        QStringLiteral("/usr/bin/unshare"),
        {QStringLiteral("-m"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
         QStringLiteral("mount -t tmpfs -o size=64k fwtest \"$0\" && exec \"$@\""), path("m"),
         fwupgradePath(), QStringLiteral("get"), Router, QStringLiteral("s3cret"),
         QStringLiteral("ABC123"), QStringLiteral("0"), QStringLiteral("0x11000"), out},
        env(false), HeadlessRunTimeout);
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.out.contains("ROM file write error: " + out.toLocal8Bit() + "\n")) << why;
    EXPECT_TRUE(r.err.contains("box: Failure: HTTP Get ROM Error\n")) << why;
    EXPECT_FALSE(r.out.contains("Get ROM file success")) << why;
}

FW_NETNS_TEST_MAIN(QCoreApplication)

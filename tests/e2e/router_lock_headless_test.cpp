// One upgrade per router on this machine, headless: a second run for a router that another run
// is upgrading sends it nothing, says so in a box and exits 1; runs for two routers go side by
// side. The runs share a runtime directory of the test's own.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

using namespace fw::test;

namespace {

const QString First = QStringLiteral("192.168.123.254");
const QString Second = QStringLiteral("192.168.124.254");
constexpr int Files = 8;
// Each STOR's answer comes this late (under the FTP client's one-second patience), so one
// upload lasts longer than a second run needs to reach its router.
const QString SlowStore = QStringLiteral(",delay=STOR:800");
constexpr std::chrono::seconds StoreBound{20};

class RouterLockHeadless : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;
    QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        const QString runtime = dir.filePath(QStringLiteral("runtime"));
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", savedRuntime); }

    QString transcript(const QString& router) const {
        return dir.filePath(router + QStringLiteral(".ftp"));
    }
    int stores(const QString& router, const QByteArray& name) const {
        QFile f(transcript(router));
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("STOR " + name)) : 0;
    }

    void startRouters(const QStringList& routers) {
        QStringList args;
        for (const QString& r : routers) {
            ASSERT_EQ(NetNamespace::addAddress(r).toStdString(), "");
            args << QStringLiteral("--router") << r + QStringLiteral(",state=normal,romid=ABC123")
                 << QStringLiteral("--web-options")
                 << r + QStringLiteral(":firmware=old,password=pw1")
                 << QStringLiteral("--ftp-options")
                 << r + QStringLiteral(":password=pw1,transcript=") + transcript(r) + SlowStore;
        }
        sim = std::make_unique<SimProcess>(args << QStringLiteral("--web")
                                                << QStringLiteral("--ftp"));
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }

    // The program with Files files, started with a put to `router`.
    QString pack(const QString& router) {
        const QString sub = dir.filePath(router);
        EXPECT_TRUE(QDir().mkpath(sub));
        QStringList files;
        for (int i = 0; i < Files; ++i) {
            const QString path = sub + QStringLiteral("/part%1.bin").arg(i);
            QFile f(path);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(20000, char('a' + i)));
            files << path + QStringLiteral(":upgrade,normal,default");
        }
        return packProgram(sub, files,
                           QStringList{QStringLiteral("--start-mode"), QStringLiteral("put"),
                                       QStringLiteral("--dst-ip"), router,
                                       QStringLiteral("--password"), QStringLiteral("pw1"),
                                       QStringLiteral("--romid"), QStringLiteral("ABC123")});
    }

    static void startHeadless(QProcess& p, const QString& program) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FWUPGRADE_HEADLESS"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(program, {});
        ASSERT_TRUE(p.waitForStarted());
    }

    bool waitForStore(const QString& router) {
        QDeadlineTimer deadline(StoreBound);
        while (!deadline.hasExpired()) {
            if (stores(router, "part0") > 0)
                return true;
            QThread::msleep(50);
        }
        return false;
    }
};

void finish(QProcess& p) {
    if (!p.waitForFinished(int(HeadlessRunTimeout.count())))
        p.kill(), p.waitForFinished();
}

} // namespace

TEST_F(RouterLockHeadless, SecondRunForTheSameRouterSendsNothingAndFails) {
    startRouters({First});
    const QString program = pack(First);
    QProcess first;
    startHeadless(first, program);
    const auto cleanup = qScopeGuard([&] { finish(first); });
    ASSERT_TRUE(waitForStore(First)) << first.readAllStandardError().toStdString();

    const ProgramRun second = runHeadless(program, {});
    const std::string why = describe(second).toStdString();
    EXPECT_EQ(second.exitCode, 1) << why;
    EXPECT_TRUE(second.err.contains(
        "box: Upgrade Busy: 192.168.123.254 is being upgraded by another fwupgrade (process " +
        QByteArray::number(first.processId()) + ")\n"))
        << why;
    EXPECT_FALSE(second.out.contains("Unsing FTP upgrade mode")) << why;

    finish(first);
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    // One image: every file stored once, by the first run.
    for (int i = 0; i < Files; ++i)
        EXPECT_EQ(stores(First, QByteArray("part") + QByteArray::number(i)), 1) << i;
}

TEST_F(RouterLockHeadless, RunsForTwoRoutersGoSideBySide) {
    startRouters({First, Second});
    QProcess first, second;
    startHeadless(first, pack(First));
    startHeadless(second, pack(Second));
    const auto cleanup = qScopeGuard([&] {
        finish(first);
        finish(second);
    });
    // Both under way at once.
    ASSERT_TRUE(waitForStore(First));
    ASSERT_TRUE(waitForStore(Second));
    EXPECT_LT(stores(First, "part7") + stores(Second, "part7"), 2);
    finish(first);
    finish(second);
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(stores(First, "part7"), 1);
    EXPECT_EQ(stores(Second, "part7"), 1);
}

FW_NETNS_TEST_MAIN(QCoreApplication)

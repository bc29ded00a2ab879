// fwfleet against a stand-in program (a shell script writing JSON Lines, no network): options,
// outcomes by state, a closed standard output, a full file system for the report, a missing
// TMPDIR and a terminal display for a large fleet.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace fw::test;

namespace {

constexpr std::chrono::milliseconds RunTimeout{60000};

// Outcome by ROM identifier. Writes ADDRESS.args (its arguments, the fleet settings and TMPDIR)
// into STANDIN_DIR when it starts and ADDRESS.done when it ends.
const char StandIn[] = R"(#!/bin/sh
mark="$STANDIN_DIR/$2"
[ -n "$STANDIN_DIR" ] && echo "$*|${FWUPGRADE_VERIFY-}|${FWUPGRADE_TARGET_VERSION-}|${FWUPGRADE_DRY_RUN-}|$TMPDIR" > "$mark.args"
i=0
while [ $i -lt "${STANDIN_LOGS:-0}" ]; do
    echo '{"kind":"log","t":0,"text":"a log line long enough to fill a small file system quickly, line after line"}'
    i=$((i + 1))
done
[ -n "$STANDIN_SLEEP" ] && sleep "$STANDIN_SLEEP"
echo '{"kind":"phase","phase":"searching"}'
echo '{"kind":"router","address":"'$2'","romId":"'$4'","detail":"V1"}'
status=0
case $4 in
VERIFIED) echo '{"kind":"phase","phase":"sending","method":"TFTP"}'
    echo '{"kind":"progress","position":262144,"maximum":262144}'
    echo '{"kind":"verify","state":"back","before":"V1","after":"V2","seconds":3}' ;;
UNVERIFIED) echo '{"kind":"verify","state":"timeout","before":"V1","after":null,"seconds":9}'; status=4 ;;
CURRENT) echo '{"kind":"skip","detail":"V1"}' ;;
PLAN) echo '{"kind":"plan","method":"HTTP","files":[{"name":"a.bin","bytes":7}],"bytes":7}' ;;
FAILED) status=1 ;;
esac
echo '{"kind":"exit","status":'$status'}'
[ -n "$STANDIN_DIR" ] && touch "$mark.done"
exit $status
)";

class FleetStandIn : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString program, marks;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        program = path(QStringLiteral("standin"));
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(StandIn);
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        marks = path(QStringLiteral("marks"));
        QDir().mkpath(marks);
        QDir().mkpath(path(QStringLiteral("tmp")));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    static QString fleet() { return buildPath(QStringLiteral("tools/fwfleet/fwfleet")); }

    // ROUTERS text: 10.0.0.N for each ROM identifier.
    static QByteArray routers(const QStringList& romIds) {
        QByteArray text;
        for (qsizetype i = 0; i < romIds.size(); ++i)
            text += QStringLiteral("10.0.0.%1 pw%1 %2\n").arg(i + 1).arg(romIds[i]).toUtf8();
        return text;
    }
    QString routersFile(const QStringList& romIds) {
        QFile f(path(QStringLiteral("routers.txt")));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(routers(romIds));
        return f.fileName();
    }
    QProcessEnvironment env() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
        e.insert(QStringLiteral("STANDIN_DIR"), marks);
        return e;
    }
    QJsonObject report(const QString& file) const {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    // A shell command line with fwfleet's exit status printed last ("status=N").
    ProgramRun shell(const QString& script, const QProcessEnvironment& e) const {
        return runProgram(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), script}, e, RunTimeout);
    }
};

} // namespace

TEST_F(FleetStandIn, OptionFormsAndRoutersOnStandardInput) {
    const QString file = routersFile({QStringLiteral("X")});
    for (const QStringList& form : {QStringList{"--jobs", "0"}, {"--jobs=0"}, {"-j", "0"}}) {
        const ProgramRun r = runProgram(fleet(), form + QStringList{program, file}, env(), RunTimeout);
        EXPECT_EQ(r.exitCode, 2) << form.join(' ').toStdString();
        EXPECT_EQ(r.err, "fwfleet: --jobs takes a number from 1 to 64\n"
                         "Try 'fwfleet --help' for more information.\n");
    }
    const ProgramRun unknown = runProgram(fleet(), {"--bogus", program, file}, env(), RunTimeout);
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err, "fwfleet: Unknown option 'bogus'.\n"
                           "Try 'fwfleet --help' for more information.\n");
    const ProgramRun help = runProgram(fleet(), {"--help"}, env(), RunTimeout);
    EXPECT_TRUE(help.out.startsWith("Usage: fwfleet [options] PROGRAM ROUTERS\n"));
    EXPECT_TRUE(help.out.contains("  --verify <SECONDS>")) << help.out.toStdString();

    // A PROGRAM beginning with a dash after "--", the routers on standard input, each setting
    // passed to the run.
    ASSERT_TRUE(QFile::copy(program, path(QStringLiteral("-standin"))));
    QProcess p;
    p.setProcessEnvironment(env());
    p.setWorkingDirectory(dir.path());
    p.start(fleet(), {"-j", "2", "--verify=30", "--target", "V 2", "--dry-run", "--", "-standin", "-"});
    p.write(routers({QStringLiteral("PLAN"), QStringLiteral("CURRENT")}));
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(int(RunTimeout.count())));
    const QByteArray out = p.readAllStandardOutput();
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString() << p.readAllStandardError().toStdString();
    EXPECT_TRUE(out.endsWith("fwfleet: 2 routers, 1 up-to-date, 1 would-upgrade, 0 failed\n"))
        << out.toStdString();
    QFile args(marks + QStringLiteral("/10.0.0.1.args"));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    const QList<QByteArray> fields = args.readAll().trimmed().split('|');
    ASSERT_EQ(fields.size(), 5);
    EXPECT_EQ(fields[1], "30");
    EXPECT_EQ(fields[2], "V 2");
    EXPECT_EQ(fields[3], "1");
    EXPECT_TRUE(fields[4].startsWith(path(QStringLiteral("tmp/fwfleet-")).toUtf8())) << fields[4].toStdString();
}

TEST_F(FleetStandIn, EachStateInReportLineAndSummary) {
    const QString file = routersFile({"UPGRADED", "VERIFIED", "UNVERIFIED", "CURRENT", "PLAN", "FAILED"});
    const QString reportFile = path(QStringLiteral("report.json"));
    const ProgramRun r = runProgram(fleet(), {"--report", reportFile, program, file}, env(), RunTimeout);
    EXPECT_EQ(r.exitCode, 1) << describe(r).toStdString();
    EXPECT_TRUE(r.out.endsWith("fwfleet: 6 routers, 1 upgraded, 1 verified, 1 up-to-date, "
                               "1 would-upgrade, 1 unverified, 1 failed\n"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("10.0.0.2         verified       TFTP  100%").toUtf8()));
    EXPECT_TRUE(r.out.contains("V1 -> V2\n"));
    const QJsonArray entries = report(reportFile)["routers"].toArray();
    ASSERT_EQ(entries.size(), 6);
    const char* states[] = {"upgraded", "verified", "unverified", "up-to-date", "would-upgrade", "failed"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(entries[i]["state"].toString(), states[i]) << i;
    EXPECT_EQ(entries[1]["after"].toString(), "V2");
    EXPECT_EQ(entries[1]["bytesSent"].toInteger(), 262144); // file bytes, also for TFTP
    EXPECT_EQ(entries[2]["exitStatus"].toInt(), 4);
    EXPECT_EQ(report(reportFile)["summary"].toObject()["unverified"].toInt(), 1);
}

TEST_F(FleetStandIn, ClosedOutputLetsEveryRunEndAndTheReportIsWritten) {
    routersFile({"A", "B", "C"});
    QProcessEnvironment e = env();
    e.insert(QStringLiteral("STANDIN_SLEEP"), QStringLiteral("1"));
    const ProgramRun run = shell(QStringLiteral("cd '%1' && '%2' --jobs 3 --report report.json ./standin "
                                                "routers.txt | head -1; echo status=${PIPESTATUS[0]}")
                                     .arg(dir.path(), fleet()),
                                 e);
    EXPECT_TRUE(run.out.endsWith("status=0\n"))
        << describe(run).toStdString();
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(QFile::exists(marks + QStringLiteral("/10.0.0.%1.done").arg(n))) << n;
    const QJsonArray entries = report(path(QStringLiteral("report.json")))["routers"].toArray();
    ASSERT_EQ(entries.size(), 3);
    for (const QJsonValue v : entries)
        EXPECT_EQ(v["state"].toString(), "upgraded");
}

TEST_F(FleetStandIn, FullFileSystemKeepsThePreviousReport) {
    const QString file = routersFile({"A", "B", "C", "D", "E"});
    QProcessEnvironment e = env();
    e.insert(QStringLiteral("STANDIN_LOGS"), QStringLiteral("200")); // about 100 KiB of report
    const QString small = path(QStringLiteral("small"));
    QDir().mkpath(small);
    const ProgramRun r = runProgram(
        QStringLiteral("/usr/bin/unshare"),
        {"-m", "/bin/bash", "-c",
         QStringLiteral("mount -t tmpfs -o size=64k tmpfs '%1' && echo previous > '%1/report.json' && "
                        "'%2' --report '%1/report.json' '%3' '%4'; echo status=$?; "
                        "cat '%1/report.json'; ls -A '%1'")
             .arg(small, fleet(), program, file)},
        e, RunTimeout);
    if (r.exitCode != 0 || r.err.contains("unshare") || r.err.contains("mount:"))
        GTEST_SKIP() << "no private mount namespace: " << describe(r).toStdString();
    EXPECT_TRUE(r.out.endsWith("status=2\nprevious\nreport.json\n")) << describe(r).toStdString();
    EXPECT_EQ(r.err, (QStringLiteral("fwfleet: ") + small +
                      "/report.json: No space left on device; the report is not written\n")
                         .toUtf8());
}

TEST_F(FleetStandIn, MissingTmpdirStartsNothing) {
    const QString file = routersFile({"A"});
    QProcessEnvironment e = env();
    const QString missing = path(QStringLiteral("missing"));
    e.insert(QStringLiteral("TMPDIR"), missing);
    const ProgramRun r = runProgram(fleet(), {program, file}, e, RunTimeout);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith(("fwfleet: cannot create a temporary directory in " + missing + ": ").toUtf8()))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith("; nothing started\n"));
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_FALSE(QFile::exists(marks + QStringLiteral("/10.0.0.1.args")));
}

TEST_F(FleetStandIn, TerminalDisplayOfALargeFleetCostsLittle) {
    // A fleet large enough that redrawing every router would dominate, small enough to stay quick.
    constexpr int Routers = 600;
    QByteArray text;
    for (int n = 0; n < Routers; ++n)
        text += QStringLiteral("10.%1.%2.%3 pw R\n").arg(n >> 16).arg((n >> 8) & 255).arg(n & 255).toUtf8();
    QFile f(path(QStringLiteral("many.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    QProcessEnvironment e = env();
    e.remove(QStringLiteral("STANDIN_DIR"));

    auto run = [&](const QString& output, int master) {
        QProcess p;
        p.setProcessEnvironment(e);
        p.setStandardOutputFile(output);
        QElapsedTimer t;
        t.start();
        p.start(fleet(), {"--jobs", "16", program, f.fileName()});
        qint64 shown = 0;
        char buffer[65536];
        while (!p.waitForFinished(master >= 0 ? 5 : 200) && t.elapsed() < RunTimeout.count()) {
            for (ssize_t n; master >= 0 && (n = ::read(master, buffer, sizeof buffer)) > 0;)
                shown += n;
        }
        for (ssize_t n; master >= 0 && (n = ::read(master, buffer, sizeof buffer)) > 0;)
            shown += n;
        EXPECT_EQ(p.exitCode(), 0);
        return std::pair{t.elapsed(), shown};
    };
    const auto [plainMs, plainBytes] = run(QProcess::nullDevice(), -1);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const winsize size{24, 80, 0, 0};
    ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &size), 0);
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    const auto [ttyMs, ttyBytes] = run(slave, master);
    ::close(master);
    EXPECT_LE(ttyMs, 2 * plainMs + 1000) << plainMs << " ms without a terminal";
    // A few frames a second of 24 short lines, not the whole fleet each time.
    EXPECT_LE(ttyBytes, (ttyMs / 200 + 2) * 24 * 90) << ttyMs << " ms";
    EXPECT_GT(ttyBytes, 0);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

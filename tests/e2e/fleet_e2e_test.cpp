// fwfleet and the JSON Lines output against eight simulated routers in the test's private network
// namespace: outcomes in the report, images byte-exact at the right routers, exit statuses, a
// SIGINT that still writes the report, and JSON Lines that say what the text output says.

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
#include <QThread>

#include <csignal>

using namespace fw::test;

namespace {

constexpr std::chrono::milliseconds FleetTimeout{90000};
constexpr int Routers = 8;
constexpr int WrongPassword = 7, Silent = 8; // router numbers

QString address(int n) {
    return QStringLiteral("192.168.124.%1").arg(n);
}
// Routers alternate between two ROM identifiers, each with its own image in the package.
QString romId(int n) {
    return n % 2 ? QStringLiteral("AAA") : QStringLiteral("BBB");
}

QByteArray image(int seed, int size) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * seed + i / 253) & 0xFF);
    return b;
}

QList<QJsonObject> jsonLines(const QByteArray& out, bool* allParse) {
    QList<QJsonObject> objects;
    *allParse = true;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError e;
        const QJsonDocument d = QJsonDocument::fromJson(line, &e);
        *allParse = *allParse && e.error == QJsonParseError::NoError && d.isObject();
        objects << d.object();
    }
    return objects;
}

class Fleet : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QMap<QString, QByteArray> images;
    QString program;
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        QStringList files;
        for (const QString& id : {QStringLiteral("AAA"), QStringLiteral("BBB")}) {
            images[id] = image(id == QLatin1String("AAA") ? 7 : 13, 30000);
            QFile f(path(id + QStringLiteral(".bin")));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(images[id]);
            files << f.fileName() + QStringLiteral(":upgrade,normal,romid");
        }
        program = packProgram(dir.path(), files, std::nullopt);
        QDir().mkpath(path(QStringLiteral("tmp")));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString body(int n) const { return path(QStringLiteral("body%1.bin").arg(n)); }

    // The eight routers; `web` is added to every web server's knobs.
    void startRouters(const QString& web = {}) {
        QStringList args{QStringLiteral("--web")};
        for (int n = 1; n <= Routers; ++n) {
            ASSERT_EQ(NetNamespace::addAddress(address(n)).toStdString(), "");
            args << QStringLiteral("--router")
                 << address(n) + QStringLiteral(",state=normal,romid=") + romId(n) +
                        (n == Silent ? QStringLiteral(",answers=none,echo=no") : QString());
            if (n == Silent)
                continue;
            args << QStringLiteral("--web-options")
                 << address(n) + QStringLiteral(":password=") +
                        (n == WrongPassword ? QStringLiteral("other") : QStringLiteral("pw")) +
                        QStringLiteral(",body=") + body(n) + web;
        }
        sim = std::make_unique<SimProcess>(args);
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }

    QString routersFile(const QList<int>& numbers) {
        QByteArray text = "# the fleet\n";
        for (int n : numbers)
            text += QStringLiteral("%1 pw %2  # router %3\n").arg(address(n), romId(n)).arg(n).toUtf8();
        QFile f(path(QStringLiteral("routers.txt")));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return f.fileName();
    }

    QProcessEnvironment env() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
        return e;
    }
    QStringList fleetArgs(const QList<int>& numbers) {
        return {QStringLiteral("--jobs"), QStringLiteral("4"), QStringLiteral("--report"),
                path(QStringLiteral("report.json")), program, routersFile(numbers)};
    }
    QMap<QString, QJsonObject> report() const {
        QFile f(path(QStringLiteral("report.json")));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QMap<QString, QJsonObject> byAddress;
        for (const QJsonValue v : QJsonDocument::fromJson(f.readAll())["routers"].toArray())
            byAddress[v["address"].toString()] = v.toObject();
        return byAddress;
    }
    bool tmpEmpty() const {
        return QDir(path(QStringLiteral("tmp")))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
            .isEmpty();
    }
};

} // namespace

TEST_F(Fleet, EightRoutersFourAtATimeReportEachOutcome) {
    startRouters();
    const QList<int> all{1, 2, 3, 4, 5, 6, 7, 8};
    const ProgramRun r = runProgram(buildPath(QStringLiteral("tools/fwfleet/fwfleet")),
                                    fleetArgs(all), env(), FleetTimeout);
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 1) << why;
    EXPECT_TRUE(r.out.endsWith("fwfleet: 8 routers, 6 upgraded, 2 failed\n")) << why;
    const auto rep = report();
    ASSERT_EQ(rep.size(), Routers) << why;
    for (int n = 1; n <= Routers; ++n) {
        const QJsonObject e = rep[address(n)];
        const QStringList log = e["log"].toVariant().toStringList();
        EXPECT_EQ(e["romId"].toString(), romId(n));
        if (n == WrongPassword) {
            EXPECT_EQ(e["state"].toString(), "failed");
            EXPECT_EQ(e["exitStatus"].toInt(), 1);
            EXPECT_EQ(e["lastBox"]["caption"].toString(), "Authentication Failed");
            EXPECT_EQ(e["lastBox"]["text"].toString(),
                      "Incorrect password. Please check and input again!");
            EXPECT_EQ(e["bytesSent"].toInteger(), 0);
            EXPECT_FALSE(QFile::exists(body(n)));
        } else if (n == Silent) {
            EXPECT_EQ(e["state"].toString(), "failed");
            EXPECT_EQ(e["exitStatus"].toInt(), 3); // only a person could go on
            EXPECT_TRUE(e["lastBox"].isNull());
            EXPECT_FALSE(log.contains("send login PKT success"));
        } else {
            EXPECT_EQ(e["state"].toString(), "upgraded") << n;
            EXPECT_EQ(e["exitStatus"].toInt(), 0) << n;
            EXPECT_EQ(e["method"].toString(), "HTTP") << n;
            EXPECT_EQ(e["bytesSent"].toInteger(), 30000) << n;
            EXPECT_TRUE(log.contains("Upgrade success in New version")) << n;
            QFile f(body(n));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << n;
            EXPECT_EQ(f.readAll(), expectedUploadBody(images[romId(n)])) << n;
        }
    }
    EXPECT_TRUE(tmpEmpty()); // every run's own TMPDIR, and fwfleet's, removed

    // The same fleet without its bad routers.
    const ProgramRun good = runProgram(buildPath(QStringLiteral("tools/fwfleet/fwfleet")),
                                       fleetArgs({1, 2, 3, 4, 5, 6}), env(), FleetTimeout);
    EXPECT_EQ(good.exitCode, 0) << describe(good).toStdString();
    EXPECT_TRUE(good.out.endsWith("fwfleet: 6 routers, 6 upgraded, 0 failed\n"));
}

TEST_F(Fleet, SixRoutersEndInTheStateTheirRunsReport) {
    // 11 comes back with the target, 12 never, 13 with its old firmware, 14 already runs the
    // target, 15 refuses the password, 16 is only asked about in a dry run.
    const QMap<int, QString> knobs{{11, "detail=V2.40,restart=1,newdetail=V2.41"},
                                   {12, "detail=V2.40,restart=never"},
                                   {13, "detail=V2.40,restart=3"},
                                   {14, "detail=V2.41"},
                                   {15, "detail=V2.40"},
                                   {16, "detail=V2.40"}};
    QStringList args{QStringLiteral("--web")};
    for (auto it = knobs.cbegin(); it != knobs.cend(); ++it) {
        const int n = it.key();
        ASSERT_EQ(NetNamespace::addAddress(address(n)).toStdString(), "");
        args << QStringLiteral("--router") << address(n) + ",state=normal,romid=AAA," + it.value()
             << QStringLiteral("--web-options")
             << address(n) + ":password=" + (n == 15 ? "other" : "pw") + ",body=" + body(n);
    }
    sim = std::make_unique<SimProcess>(args);
    QString error;
    ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    auto routers = [&](const QList<int>& numbers) {
        QByteArray text;
        for (int n : numbers)
            text += (address(n) + QStringLiteral(" pw AAA\n")).toUtf8();
        return text;
    };
    auto fleet = [&](const QStringList& options, const QList<int>& numbers) {
        QProcess p;
        p.setProcessEnvironment(env());
        p.start(buildPath(QStringLiteral("tools/fwfleet/fwfleet")),
                options + QStringList{"--jobs", "6", "--target", "V2.41", "--report",
                                      path(QStringLiteral("report.json")), program, "-"});
        p.write(routers(numbers));
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(int(FleetTimeout.count())));
        const QByteArray out = p.readAllStandardOutput();
        return std::pair{p.exitCode(), out};
    };

    const auto [status, out] = fleet({"--verify", "10"}, {11, 12, 13, 14, 15});
    EXPECT_EQ(status, 1) << out.toStdString();
    EXPECT_TRUE(out.endsWith("fwfleet: 5 routers, 1 verified, 1 up-to-date, 2 unverified, 1 failed\n"))
        << out.toStdString();
    auto rep = report();
    const std::tuple<int, const char*, const char*, QJsonValue, int> expected[] = {
        {11, "verified", "V2.40", "V2.41", 0},      {12, "unverified", "V2.40", QJsonValue::Null, 4},
        {13, "unverified", "V2.40", "V2.40", 4},    {14, "up-to-date", "V2.41", "V2.41", 0},
        {15, "failed", "V2.40", QJsonValue::Null, 1}};
    for (const auto& [n, state, before, after, exitStatus] : expected) {
        const QJsonObject e = rep[address(n)];
        EXPECT_EQ(e["state"].toString(), state) << n;
        EXPECT_EQ(e["before"].toString(), before) << n;
        EXPECT_EQ(e["after"], after) << n << " " << e["log"].toVariant().toStringList().join('|').toStdString();
        EXPECT_EQ(e["exitStatus"].toInt(), exitStatus) << n;
        EXPECT_EQ(e["bytesSent"].toInteger(), exitStatus == 4 || n == 11 ? 30000 : 0) << n;
    }
    EXPECT_FALSE(QFile::exists(body(14))); // nothing sent to a current router

    // A second pass does not flash again what is current; a dry run only plans.
    const auto [dryStatus, dryOut] = fleet({"--dry-run"}, {11, 14, 16});
    EXPECT_EQ(dryStatus, 0) << dryOut.toStdString();
    EXPECT_TRUE(dryOut.endsWith("fwfleet: 3 routers, 2 up-to-date, 1 would-upgrade, 0 failed\n"))
        << dryOut.toStdString();
    rep = report();
    EXPECT_EQ(rep[address(16)]["state"].toString(), "would-upgrade");
    EXPECT_EQ(rep[address(16)]["plannedBytes"].toInteger(), 30000);
    EXPECT_EQ(rep[address(11)]["state"].toString(), "up-to-date");
    EXPECT_FALSE(QFile::exists(body(16)));
    EXPECT_TRUE(tmpEmpty());
}

TEST_F(Fleet, MalformedLineStartsNothing) {
    QFile f(path(QStringLiteral("bad.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("192.168.124.1 pw AAA\n192.168.124.2 pw\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner); // no mode warning
    const ProgramRun r = runProgram(buildPath(QStringLiteral("tools/fwfleet/fwfleet")),
                                    {program, f.fileName()}, env(), FleetTimeout);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, (QStringLiteral("fwfleet: ") + f.fileName() +
                      ": line 2: expected ADDRESS PASSWORD ROMID, found 2 fields; nothing started\n")
                         .toUtf8());
    EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(Fleet, SigintEndsTheRunsAndStillWritesTheReport) {
    startRouters(QStringLiteral(",upg=silent")); // uploads that never get an answer
    QProcess p;
    p.setProcessEnvironment(env());
    p.start(buildPath(QStringLiteral("tools/fwfleet/fwfleet")), fleetArgs({1, 2, 3}));
    ASSERT_TRUE(p.waitForStarted());
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (out.count(" sending ") < 3 && t.elapsed() < 30000) {
        p.waitForReadyRead(500);
        out += p.readAllStandardOutput();
    }
    ASSERT_EQ(out.count(" sending "), 3) << out.toStdString();
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(15000));
    out += p.readAllStandardOutput();
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(out.endsWith("fwfleet: 3 routers, 3 failed\n")) << out.toStdString();
    const auto rep = report();
    for (int n = 1; n <= 3; ++n) {
        // Each child ended as on SIGTERM and said so in its last JSON line.
        EXPECT_EQ(rep[address(n)]["exitStatus"].toInt(), 128 + SIGTERM) << n;
        EXPECT_EQ(rep[address(n)]["method"].toString(), "HTTP") << n;
    }
    EXPECT_TRUE(tmpEmpty());
}

TEST_F(Fleet, JsonLinesSayWhatTheTextOutputSays) {
    startRouters();
    const QStringList args{QStringLiteral("put"), address(1), QStringLiteral("pw"), romId(1)};
    const ProgramRun text = runHeadless(program, args);
    qputenv("FWUPGRADE_OUTPUT", "jsonl");
    const ProgramRun json = runHeadless(program, args);
    qunsetenv("FWUPGRADE_OUTPUT");
    ASSERT_EQ(text.exitCode, 0) << describe(text).toStdString();
    ASSERT_EQ(json.exitCode, 0) << describe(json).toStdString();

    bool allParse = false;
    const QList<QJsonObject> objects = jsonLines(json.out, &allParse);
    EXPECT_TRUE(allParse) << json.out.toStdString();
    ASSERT_FALSE(objects.isEmpty());
    EXPECT_EQ(objects.last()["kind"].toString(), "exit");
    EXPECT_EQ(objects.last()["status"].toInt(-1), 0);
    // Text output: log lines on standard output, the other kinds on standard error. The
    // extraction directory's name differs between the runs.
    QStringList outLines, errLines;
    double lastT = 0;
    qint64 lastProgress = -1, progressMaximum = 0;
    for (const QJsonObject& o : objects) {
        const QString kind = o["kind"].toString();
        EXPECT_GE(o["t"].toDouble(), lastT);
        lastT = o["t"].toDouble();
        if (kind == QLatin1String("log"))
            outLines << o["text"].toString();
        else if (kind == QLatin1String("box"))
            errLines << "box: " + o["caption"].toString() + ": " + o["text"].toString();
        else if (kind == QLatin1String("progress"))
            lastProgress = o["position"].toInteger(), progressMaximum = o["maximum"].toInteger();
        else if (o.contains(QLatin1String("text"))) // the run's structured objects have none
            errLines << kind + ": " + o["text"].toString();
    }
    EXPECT_EQ(lastProgress, 30000);
    EXPECT_EQ(progressMaximum, 30000);
    EXPECT_TRUE(text.err.contains("progress: 30000/30000\n")) << describe(text).toStdString();
    const QRegularExpression tmp(QStringLiteral("fwupgrade-\\w+"));
    auto normalise = [&](QStringList lines) { return lines.replaceInStrings(tmp, "X"); };
    QStringList textErr = QString::fromLocal8Bit(text.err).split(u'\n', Qt::SkipEmptyParts);
    textErr.removeIf([](const QString& l) { return l.startsWith(QLatin1String("progress: ")); });
    EXPECT_EQ(normalise(outLines),
              normalise(QString::fromLocal8Bit(text.out).split(u'\n', Qt::SkipEmptyParts)));
    EXPECT_EQ(errLines, textErr);
    EXPECT_TRUE(json.err.isEmpty()) << json.err.toStdString();
}

FW_NETNS_TEST_MAIN(QCoreApplication)

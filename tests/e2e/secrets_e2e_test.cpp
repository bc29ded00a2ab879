// Router passwords never show: a fleet of three routers with distinct passwords (one of them
// asking for HTTP Basic authentication) runs while every process's command line is sampled; no
// argument, report, output or JSON line holds a password or its Basic credentials, and every
// router is still upgraded byte-exact. A put reads its password from standard input for "-".

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

#include <atomic>
#include <dirent.h>
#include <optional>
#include <thread>

using namespace fw::test;

namespace {

constexpr std::chrono::milliseconds FleetTimeout{90000};
const QStringList Passwords{QStringLiteral("Alpha-7731-pass"), QStringLiteral("Bravo&8842=pass"),
                            QStringLiteral("Charlie.9953.pw")};
constexpr int BasicRouter = 3;

QString address(int n) {
    return QStringLiteral("192.168.125.%1").arg(n);
}

// Every form that would give a password away: as it is, and as the Basic header carries it.
QList<QByteArray> giveaways() {
    QList<QByteArray> all;
    for (const QString& pw : Passwords)
        all << pw.toUtf8() << ("admin:" + pw.toUtf8()).toBase64();
    return all;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Reads every process's command line every few milliseconds until stopped (bounded in time),
// routersim's aside.
class CommandLineSampler {
public:
    CommandLineSampler() {
        thread_ = std::thread([this] {
            QElapsedTimer t;
            t.start();
            while (!stop_ && t.elapsed() < 2 * FleetTimeout.count()) {
                sampleOnce();
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
        });
    }
    ~CommandLineSampler() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    QList<QByteArray> leaks, childLines;
    int samples = 0;

private:
    void sampleOnce() {
        DIR* proc = ::opendir("/proc");
        if (!proc)
            return;
        while (const dirent* e = ::readdir(proc)) {
            if (e->d_name[0] < '1' || e->d_name[0] > '9')
                continue;
            QByteArray cmd = readAll(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(e->d_name)));
            cmd.replace('\0', ' ');
            if (cmd.startsWith(simulator_)) // the routers themselves know their passwords
                continue;
            for (const QByteArray& g : giveaways())
                if (cmd.contains(g) && !leaks.contains(cmd))
                    leaks << cmd;
            if (cmd.contains(" put 192.168.125.") && !childLines.contains(cmd))
                childLines << cmd;
        }
        ::closedir(proc);
        ++samples;
    }
    const QByteArray simulator_ = routersimPath().toLocal8Bit() + ' ';
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A run with `input` on its standard input (closed after it; nothing at all when empty).
ProgramRun runWithInput(const QString& program, const QStringList& args,
                        const QProcessEnvironment& env, const QByteArray& input) {
    return runProgram(program, args, env, HeadlessRunTimeout, input);
}

class Secrets : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QByteArray image;
    QString program;
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        image = QByteArray(20000, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i * 11 + i / 251) & 0xFF);
        QFile f(path(QStringLiteral("AAA.bin")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
        f.close();
        program = packProgram(dir.path(), {f.fileName() + QStringLiteral(":upgrade,normal,romid")},
                              std::nullopt);
        QDir().mkpath(path(QStringLiteral("tmp")));

        QStringList args{QStringLiteral("--web")};
        for (int n = 1; n <= 3; ++n) {
            ASSERT_EQ(NetNamespace::addAddress(address(n)).toStdString(), "");
            const QString pw = Passwords[n - 1];
            args << QStringLiteral("--router") << address(n) + QStringLiteral(",state=normal,romid=AAA")
                 << QStringLiteral("--web-options")
                 << address(n) + QStringLiteral(":password=") + pw +
                        (n == BasicRouter ? QStringLiteral(",basicuser=admin,basicpass=") + pw
                                          : QString()) +
                        QStringLiteral(",body=") + body(n);
        }
        sim = std::make_unique<SimProcess>(args);
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString body(int n) const { return path(QStringLiteral("body%1.bin").arg(n)); }
    QProcessEnvironment env(bool jsonLines) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
        e.insert(QStringLiteral("FWUPGRADE_HEADLESS"), QStringLiteral("1"));
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (jsonLines)
            e.insert(QStringLiteral("FWUPGRADE_OUTPUT"), QStringLiteral("jsonl"));
        return e;
    }
    void expectNoGiveaway(const QByteArray& text, const char* where) {
        for (const QByteArray& g : giveaways())
            EXPECT_FALSE(text.contains(g)) << where << " holds " << g.toStdString();
    }
};

} // namespace

TEST_F(Secrets, FleetKeepsEveryPasswordOutOfArgumentsOutputAndReport) {
    QByteArray routers;
    for (int n = 1; n <= 3; ++n)
        routers += (address(n) + QLatin1Char(' ') + Passwords[n - 1] + QStringLiteral(" AAA\n")).toUtf8();
    const QString routersPath = path(QStringLiteral("routers.txt"));
    QFile f(routersPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(routers);
    f.close();
    ASSERT_TRUE(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                 QFile::ReadOther)); // 0644

    CommandLineSampler sampler;
    const ProgramRun r = runProgram(buildPath(QStringLiteral("tools/fwfleet/fwfleet")),
                                    {QStringLiteral("--report"), path(QStringLiteral("report.json")),
                                     program, routersPath},
                                    env(false), FleetTimeout);
    sampler.finish();
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_EQ(r.err, (QStringLiteral("fwfleet: ") + routersPath +
                      QStringLiteral(" is readable by other users (mode 0644); chmod 600 ") +
                      routersPath + QLatin1Char('\n'))
                         .toUtf8());
    EXPECT_TRUE(sampler.leaks.isEmpty()) << sampler.leaks.join('\n').toStdString();
    EXPECT_GT(sampler.samples, 10);
    // The sampler did see the runs: each with "-" for its password.
    ASSERT_FALSE(sampler.childLines.isEmpty());
    for (const QByteArray& line : sampler.childLines)
        EXPECT_TRUE(line.endsWith(" - AAA ")) << line.toStdString();

    const QByteArray report = readAll(path(QStringLiteral("report.json")));
    expectNoGiveaway(report, "the report");
    expectNoGiveaway(r.out, "standard output");
    const QJsonArray entries = QJsonDocument::fromJson(report)["routers"].toArray();
    ASSERT_EQ(entries.size(), 3) << report.toStdString();
    for (const QJsonValue e : entries) {
        const QStringList log = e["log"].toVariant().toStringList();
        EXPECT_TRUE(log.contains("Set password = ******** in parameter input")) << why;
        EXPECT_EQ(e["exitStatus"].toInt(-1), 0) << why;
    }
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(readAll(body(n)), expectedUploadBody(image)) << n;
}

TEST_F(Secrets, PutReadsThePasswordFromStandardInput) {
    const QStringList args{QStringLiteral("put"), address(BasicRouter), QStringLiteral("-"),
                           QStringLiteral("AAA")};
    const ProgramRun ok =
        runWithInput(program, args, env(true), Passwords[BasicRouter - 1].toUtf8() + "\r\nrest\n");
    const std::string why = describe(ok).toStdString();
    EXPECT_EQ(ok.exitCode, 0) << why;
    EXPECT_TRUE(ok.out.contains("Peer ask for win-authentication")) << why;
    EXPECT_TRUE(ok.out.contains("Set password = ******** in parameter input")) << why;
    expectNoGiveaway(ok.out + ok.err, "the JSON Lines run");
    EXPECT_EQ(readAll(body(BasicRouter)), expectedUploadBody(image));

    // Nothing on standard input: the run ends at once, in either output form.
    const ProgramRun text = runWithInput(program, args, env(false), {});
    EXPECT_EQ(text.exitCode, 2) << describe(text).toStdString();
    EXPECT_EQ(text.err, "fwupgrade: No password on standard input\n");
    EXPECT_EQ(text.out, "");
    const ProgramRun json = runWithInput(program, args, env(true), {});
    EXPECT_EQ(json.exitCode, 2) << describe(json).toStdString();
    const QList<QByteArray> lines = json.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << json.out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(lines[0])["text"].toString(),
              "No password on standard input");
    EXPECT_EQ(QJsonDocument::fromJson(lines[0])["kind"].toString(), "log");
    EXPECT_EQ(QJsonDocument::fromJson(lines[1])["kind"].toString(), "exit");
    EXPECT_EQ(QJsonDocument::fromJson(lines[1])["status"].toInt(), 2);
    EXPECT_TRUE(json.err.isEmpty()) << json.err.toStdString();
}

FW_NETNS_TEST_MAIN(QCoreApplication)

// What a headless run knows about the router after its upgrade, against routersim in the test's
// private network namespace: the wait for the restart (back with the new detail, never back, back
// with the old one under a target version), a router already current left alone, and dry runs
// that write nothing to the router over HTTP, FTP or TFTP.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace fw::test;

namespace {

const QString Router = QStringLiteral("192.168.123.254");

using Vars = QList<std::pair<QString, QString>>;

// The run's JSON objects without their clock.
QList<QJsonObject> objects(const QByteArray& out) {
    QList<QJsonObject> list;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonObject o = QJsonDocument::fromJson(line).object();
        o.remove(QStringLiteral("t"));
        list << o;
    }
    return list;
}

QList<QJsonObject> ofKind(const QList<QJsonObject>& all, const char* kind) {
    QList<QJsonObject> list;
    for (const QJsonObject& o : all) {
        if (o.value(QStringLiteral("kind")).toString() == QLatin1String(kind))
            list << o;
    }
    return list;
}

bool logged(const QList<QJsonObject>& all, const QString& text) {
    for (const QJsonObject& o : ofKind(all, "log")) {
        if (o.value(QStringLiteral("text")).toString() == text)
            return true;
    }
    return false;
}

QJsonObject json(const QByteArray& text) {
    return QJsonDocument::fromJson(text).object();
}

class VerifyHeadless : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QByteArray firmware;
    std::unique_ptr<SimProcess> sim;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Router).toStdString(), "");
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("got")));
        for (int i = 0; i < 3000; ++i)
            firmware.append(char((i * 13 + i / 257) & 0xFF));
        QFile f(path("fw.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(firmware), firmware.size());
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // `router` are the --router keys after the address; a normal router has its web server
    // (password pw), an old one also FTP; everything it is sent lands in the directory.
    void startRouter(const QString& router, bool old = false) {
        QStringList args{QStringLiteral("--router"),
                         Router + QStringLiteral(",") + router,
                         QStringLiteral("--web"),
                         QStringLiteral("--web-options"),
                         Router + QStringLiteral(":password=pw,body=") + path("body.bin") +
                             QStringLiteral(",transcript=") + path("web.txt") +
                             (old ? QStringLiteral(",firmware=old") : QString()),
                         QStringLiteral("--tftp-options"),
                         Router + QStringLiteral(":dir=") + path("got")};
        if (old)
            args << QStringLiteral("--ftp") << QStringLiteral("--ftp-options")
                 << Router + QStringLiteral(":password=pw,dir=") + path("got");
        sim = std::make_unique<SimProcess>(args);
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }

    ProgramRun put(const Vars& vars, const QString& password = QStringLiteral("pw")) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FWUPGRADE_HEADLESS"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("FWUPGRADE_OUTPUT"), QStringLiteral("jsonl"));
        for (const auto& [name, value] : vars)
            env.insert(name, value);
        const ProgramRun r = runProgram(
            fwupgradePath(),
            {QStringLiteral("put"), Router, password, QStringLiteral("ABC123"), path("fw.bin")},
            env, HeadlessRunTimeout);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }

    // Nothing of an upgrade reached the router: no upload, no stored file, no TFTP write.
    void expectNothingWritten(const std::string& why) {
        EXPECT_FALSE(QFile::exists(path("body.bin"))) << why;
        EXPECT_TRUE(QDir(path("got")).isEmpty()) << why;
        QFile web(path("web.txt"));
        if (web.open(QIODevice::ReadOnly)) {
            EXPECT_FALSE(web.readAll().contains("POST /upg")) << why;
        }
        for (const QString& line : sim->transcriptLines())
            EXPECT_FALSE(line.contains(QLatin1String(":69 0002"))) << line.toStdString();
    }
};

} // namespace

TEST_F(VerifyHeadless, RouterBackWithTheNewDetailIsVerified) {
    startRouter(QStringLiteral("romid=ABC123,detail=V2.40,restart=2,newdetail=V2.41"));
    const ProgramRun r =
        put({{QStringLiteral("FWUPGRADE_VERIFY"), QStringLiteral("20")},
             {QStringLiteral("FWUPGRADE_TARGET_VERSION"), QStringLiteral("V2.41")}});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    EXPECT_TRUE(QFile::exists(path("body.bin"))) << why;
    const QList<QJsonObject> all = objects(r.out);
    EXPECT_EQ(ofKind(all, "router"),
              QList<QJsonObject>{json(R"({"kind":"router","address":"192.168.123.254",)"
                                      R"("romId":"ABC123","detail":"V2.40"})")})
        << why;
    QStringList phases;
    for (const QJsonObject& o : ofKind(all, "phase"))
        phases << o.value(QStringLiteral("phase")).toString() +
                      o.value(QStringLiteral("method")).toString();
    EXPECT_EQ(phases.join(u'|'), QStringLiteral("searching|logging in|sendingHTTP|verifying"))
        << why;
    EXPECT_TRUE(logged(all, QStringLiteral("Waiting for 192.168.123.254 to restart (up to 20 s)")))
        << why;
    const QList<QJsonObject> verify = ofKind(all, "verify");
    ASSERT_EQ(verify.size(), 1) << why;
    const int seconds = verify[0].value(QStringLiteral("seconds")).toInt();
    EXPECT_LE(seconds, 6) << why;
    EXPECT_EQ(verify[0], json(R"({"kind":"verify","state":"back","before":"V2.40",)"
                              R"("after":"V2.41","seconds":)" +
                              QByteArray::number(seconds) + "}"))
        << why;
    EXPECT_TRUE(
        logged(all, QStringLiteral("192.168.123.254 back after %1 s: ABC123 - V2.41").arg(seconds)))
        << why;
    // The verify object comes before the exit object, which is last.
    EXPECT_EQ(all.last(), json(R"({"kind":"exit","status":0})")) << why;
    EXPECT_LT(all.indexOf(verify[0]), all.size() - 1) << why;
}

TEST_F(VerifyHeadless, UnconfirmedUpgradesExitFour) {
    {
        SCOPED_TRACE("never back");
        startRouter(QStringLiteral("romid=ABC123,detail=V2.40,restart=never"));
        const ProgramRun r = put({{QStringLiteral("FWUPGRADE_VERIFY"), QStringLiteral("3")}});
        const std::string why = describe(r).toStdString();
        EXPECT_EQ(r.exitCode, 4) << why;
        const QList<QJsonObject> all = objects(r.out);
        EXPECT_EQ(ofKind(all, "verify"),
                  QList<QJsonObject>{json(R"({"kind":"verify","state":"timeout",)"
                                          R"("before":"V2.40","after":null,"seconds":3})")})
            << why;
        EXPECT_TRUE(logged(all, QStringLiteral("192.168.123.254 not back within 3 s"))) << why;
        EXPECT_EQ(all.last(), json(R"({"kind":"exit","status":4})")) << why;
        sim.reset();
    }
    {
        SCOPED_TRACE("back with the old detail under a target version");
        // Silent long enough for the wait to see it (it starts up to a second after the upload).
        startRouter(QStringLiteral("romid=ABC123,detail=V2.40,restart=3"));
        const ProgramRun r =
            put({{QStringLiteral("FWUPGRADE_VERIFY"), QStringLiteral("15")},
                 {QStringLiteral("FWUPGRADE_TARGET_VERSION"), QStringLiteral("V2.41")}});
        const std::string why = describe(r).toStdString();
        EXPECT_EQ(r.exitCode, 4) << why;
        const QList<QJsonObject> verify = ofKind(objects(r.out), "verify");
        ASSERT_EQ(verify.size(), 1) << why;
        EXPECT_EQ(verify[0].value(QStringLiteral("state")).toString(), QStringLiteral("mismatch"));
        EXPECT_EQ(verify[0].value(QStringLiteral("after")).toString(), QStringLiteral("V2.40"));
    }
}

TEST_F(VerifyHeadless, RouterAlreadyCurrentIsNotTouched) {
    startRouter(QStringLiteral("romid=ABC123,detail=V2.41"));
    const ProgramRun r = put({{QStringLiteral("FWUPGRADE_TARGET_VERSION"), QStringLiteral("V2.41")},
                              {QStringLiteral("FWUPGRADE_VERIFY"), QStringLiteral("5")}});
    const std::string why = describe(r).toStdString();
    EXPECT_EQ(r.exitCode, 0) << why;
    const QList<QJsonObject> all = objects(r.out);
    EXPECT_TRUE(logged(all, QStringLiteral("192.168.123.254 already runs V2.41; nothing sent")))
        << why;
    EXPECT_EQ(ofKind(all, "skip"), QList<QJsonObject>{json(R"({"kind":"skip","detail":"V2.41"})")})
        << why;
    EXPECT_TRUE(ofKind(all, "verify").isEmpty()) << why;
    // Not even the login: the web server saw no request at all.
    EXPECT_FALSE(QFile::exists(path("web.txt"))) << why;
    expectNothingWritten(why);
}

TEST_F(VerifyHeadless, DryRunsPlanWithoutWritingToTheRouter) {
    const QByteArray plan =
        R"({"kind":"plan","method":"%1","files":[{"name":"fw.bin","bytes":3000}],)"
        R"("bytes":3000})";
    const struct {
        const char* method;
        QString router;
        bool old;
    } cases[] = {
        {"HTTP", QStringLiteral("romid=ABC123"), false},
        {"FTP", QStringLiteral("romid=ABC123"), true},
        {"TFTP", QStringLiteral("state=crashed,romid=ABC123"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        startRouter(c.router, c.old);
        const ProgramRun r = put({{QStringLiteral("FWUPGRADE_DRY_RUN"), QStringLiteral("1")}});
        const std::string why = describe(r).toStdString();
        EXPECT_EQ(r.exitCode, 0) << why;
        const QList<QJsonObject> all = objects(r.out);
        EXPECT_EQ(ofKind(all, "plan"),
                  QList<QJsonObject>{
                      json(QString::fromLatin1(plan).arg(QLatin1String(c.method)).toLatin1())})
            << why;
        EXPECT_TRUE(logged(all, QStringLiteral("Dry run: would send 1 file(s), 3000 bytes, by ") +
                                    QLatin1String(c.method)))
            << why;
        expectNothingWritten(why);
        sim.reset();
    }
    {
        SCOPED_TRACE("refused password");
        startRouter(QStringLiteral("romid=ABC123"));
        const ProgramRun r =
            put({{QStringLiteral("FWUPGRADE_DRY_RUN"), QStringLiteral("1")}}, QStringLiteral("no"));
        const std::string why = describe(r).toStdString();
        EXPECT_EQ(r.exitCode, 1) << why;
        EXPECT_TRUE(ofKind(objects(r.out), "plan").isEmpty()) << why;
    }
}

FW_NETNS_TEST_MAIN(QCoreApplication)

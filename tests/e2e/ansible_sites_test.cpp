// The Ansible collection as its users run it: the collection built and installed from the tree,
// two site hosts (network namespaces with an sshd of their own) each with a LAN of simulated
// routers behind it, and ansible-playbook in the test's namespace reaching the sites only over
// SSH, running tests/e2e/ansible/sites.yml with two forks.

#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"
#include "support/PeerNamespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

using namespace fw::test;

namespace {

constexpr std::chrono::milliseconds ToolTimeout{60000};
constexpr std::chrono::milliseconds PlaybookTimeout{240000};
constexpr std::chrono::milliseconds SshdTimeout{10000};
constexpr int ImageBytes = 30000;

struct Router {
    QString name, address, password, romId;
};

struct Site {
    QString name;    // inventory host
    QString address; // where its sshd listens
    QList<Router> routers;
};

// The routers come back from an accepted upload after a short silence, running V2.41.
const QString RestartKnobs = QStringLiteral(",restart=2,newdetail=V2.41");

const QList<Site> Sites{
    {QStringLiteral("siteA"),
     QStringLiteral("10.80.1.2"),
     {{QStringLiteral("A1"), QStringLiteral("10.81.1.10"), QStringLiteral("Qa1-f7Rk"),
       QStringLiteral("AAA")},
      {QStringLiteral("A2"), QStringLiteral("10.81.1.11"), QStringLiteral("Qa2-m3Tz"),
       QStringLiteral("BBB")}}},
    {QStringLiteral("siteB"),
     QStringLiteral("10.80.2.2"),
     {{QStringLiteral("B1"), QStringLiteral("10.81.2.10"), QStringLiteral("Qb1-x9Wd"),
       QStringLiteral("AAA")},
      {QStringLiteral("B2"), QStringLiteral("10.81.2.11"), QStringLiteral("Qb2-c4Hn"),
       QStringLiteral("BBB")}}},
};
// The router given a wrong password in the last run.
const QString WrongRouter = QStringLiteral("10.81.1.10");
const QString WrongPassword = QStringLiteral("Wrong-pw9");

QList<QByteArray> passwords() {
    QList<QByteArray> all{WrongPassword.toUtf8()};
    for (const Site& s : Sites)
        for (const Router& r : s.routers)
            all << r.password.toUtf8();
    return all;
}

QByteArray image(int seed) {
    QByteArray b(ImageBytes, '\0');
    for (int i = 0; i < ImageBytes; ++i)
        b[i] = char((i * seed + i / 251) & 0xFF);
    return b;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// One host's outcome of one task, as the default callback prints it with -v.
struct TaskResult {
    QString status; // ok, changed, fatal
    QJsonObject result;
};

// "TASK [name]" and "STATUS: [host] => {json}" / "fatal: [host]: FAILED! => {json}" lines.
QMap<QString, QMap<QString, TaskResult>> taskResults(const QString& output) {
    static const QRegularExpression task(QStringLiteral("^TASK \\[(.*)\\] \\**$"));
    static const QRegularExpression line(
        QStringLiteral("^(ok|changed|fatal): \\[(\\w+)\\](?:: FAILED!)? => (\\{.*\\})$"));
    QMap<QString, QMap<QString, TaskResult>> results;
    QString current;
    for (const QString& l : output.split(u'\n')) {
        if (const auto m = task.match(l); m.hasMatch())
            current = m.captured(1);
        else if (const auto r = line.match(l); r.hasMatch())
            results[current][r.captured(2)] = {
                r.captured(1), QJsonDocument::fromJson(r.captured(3).toUtf8()).object()};
    }
    return results;
}

class AnsibleSites : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString src = QStringLiteral(FW_SOURCE_DIR);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Sites before their LANs: the LANs end first.
    std::vector<std::unique_ptr<PeerNamespace>> sites, lans;
    std::vector<std::unique_ptr<QProcess>> sshds;
    std::vector<std::unique_ptr<SimProcess>> sims;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        for (const char* tool : {"/usr/bin/ansible-playbook", "/usr/sbin/sshd", "/usr/bin/ssh"}) {
            if (::access(tool, X_OK) != 0 || ::geteuid() != 0) {
                if (NetNamespace::mustRun())
                    GTEST_FAIL() << "needs root, ansible-core and openssh-server: " << tool;
                GTEST_SKIP() << "needs root, ansible-core and openssh-server: " << tool;
            }
        }
        ASSERT_TRUE(dir.isValid());
        // Nothing of the machine's own Ansible or SSH set-up is read or written.
        ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("home"))));
        ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("remote-tmp"))));
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("ANSIBLE_CONFIG"), path(QStringLiteral("ansible.cfg")));
        env.insert(QStringLiteral("ANSIBLE_COLLECTIONS_PATH"), path(QStringLiteral("collections")));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString body(const Router& r) const { return path(QStringLiteral("body-") + r.name); }
    QString web(const Router& r) const { return path(QStringLiteral("web-") + r.name); }

    ProgramRun tool(const QStringList& command) {
        ProgramRun r = runProgram(command.first(), command.mid(1), env, ToolTimeout);
        EXPECT_EQ(r.exitCode, 0) << command.join(u' ').toStdString() << "\n"
                                 << describe(r).toStdString();
        return r;
    }
    void inNamespace(const PeerNamespace& ns, const QStringList& command) {
        int rc = 0;
        const QString out = NetNamespace::run(ns.enter() + command, &rc);
        EXPECT_EQ(rc, 0) << command.join(u' ').toStdString() << ": " << out.toStdString();
    }

    void buildCollection() {
        tool({QStringLiteral("/usr/bin/ansible-galaxy"), QStringLiteral("collection"),
              QStringLiteral("build"), src + QStringLiteral("/ansible"),
              QStringLiteral("--output-path"), path(QStringLiteral("dist"))});
        const QStringList built = QDir(path(QStringLiteral("dist")))
                                      .entryList({QStringLiteral("fwupgrade-fleet-*.tar.gz")});
        ASSERT_EQ(built.size(), 1);
        tool({QStringLiteral("/usr/bin/ansible-galaxy"), QStringLiteral("collection"),
              QStringLiteral("install"), path(QStringLiteral("dist/")) + built[0],
              QStringLiteral("-p"), path(QStringLiteral("collections"))});
    }

    // Site i: its host namespace joined to the test's, and its LAN behind it.
    void startSite(int i) {
        const Site& s = Sites[i];
        const QString n = QString::number(i + 1);
        sites.push_back(std::make_unique<PeerNamespace>(
            QStringLiteral("fwc") + n, QStringLiteral("10.80.%1.1/24").arg(n),
            QStringLiteral("fws") + n, s.address + QStringLiteral("/24")));
        QString error;
        ASSERT_TRUE(sites.back()->start(&error)) << error.toStdString();
        lans.push_back(std::make_unique<PeerNamespace>(
            QStringLiteral("fwl") + n, QStringLiteral("10.81.%1.1/24").arg(n),
            QStringLiteral("fwr") + n, s.routers[0].address + QStringLiteral("/24")));
        lans.back()->setNear(*sites.back());
        ASSERT_TRUE(lans.back()->start(&error)) << error.toStdString();
        // The site's search probes the routers' default addresses: they end on its loopback.
        inNamespace(*sites.back(),
                    {QStringLiteral("ip"), QStringLiteral("route"), QStringLiteral("add"),
                     QStringLiteral("default"), QStringLiteral("dev"), QStringLiteral("lo")});
        // routersim answers echo itself, for the routers that are up.
        inNamespace(*lans.back(),
                    {QStringLiteral("sh"), QStringLiteral("-c"),
                     QStringLiteral("echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all")});
        QStringList args{QStringLiteral("--web")};
        for (const Router& r : s.routers) {
            if (&r != &s.routers[0])
                inNamespace(*lans.back(), {QStringLiteral("ip"), QStringLiteral("addr"),
                                           QStringLiteral("add"), r.address + QStringLiteral("/24"),
                                           QStringLiteral("dev"), QStringLiteral("fwr") + n});
            args << QStringLiteral("--router")
                 << r.address + QStringLiteral(",state=normal,detail=V2.40,romid=") + r.romId +
                        RestartKnobs
                 << QStringLiteral("--web-options")
                 << r.address + QStringLiteral(":password=") + r.password +
                        QStringLiteral(",body=") + body(r) + QStringLiteral(",transcript=") +
                        web(r);
        }
        sims.push_back(std::make_unique<SimProcess>(args));
        sims.back()->setLauncher(lans.back()->enter());
        ASSERT_TRUE(sims.back()->start(&error)) << error.toStdString();
        startSshd(i);
    }

    // An sshd of the site's own: own configuration and host key, root by the test's key only,
    // in a private mount namespace whose /run holds its privilege separation directory.
    void startSshd(int i) {
        const Site& s = Sites[i];
        const QString key = path(s.name + QStringLiteral("-host-key"));
        tool({QStringLiteral("/usr/bin/ssh-keygen"), QStringLiteral("-q"), QStringLiteral("-t"),
              QStringLiteral("ed25519"), QStringLiteral("-N"), QString(), QStringLiteral("-f"),
              key});
        QFile known(path(QStringLiteral("known_hosts")));
        ASSERT_TRUE(known.open(QIODevice::Append));
        known.write(s.address.toUtf8() + ' ' + readFile(key + QStringLiteral(".pub")));
        const QString config = path(s.name + QStringLiteral("-sshd_config"));
        ASSERT_TRUE(writeFile(
            config, QStringLiteral("ListenAddress %1\nHostKey %2\nAuthorizedKeysFile %3\n"
                                   "PidFile none\nPermitRootLogin prohibit-password\n"
                                   "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                   "UsePAM no\nStrictModes no\nLogLevel ERROR\n")
                        .arg(s.address, key, path(QStringLiteral("client-key.pub")))
                        .toUtf8()));
        auto sshd = std::make_unique<QProcess>();
        QStringList command = sites[i]->enter() +
                              QStringList{QStringLiteral("unshare"),
                                          QStringLiteral("-m"),
                                          QStringLiteral("--"),
                                          QStringLiteral("sh"),
                                          QStringLiteral("-c"),
                                          QStringLiteral("mount -t tmpfs -o mode=755 fwrun /run && "
                                                         "mkdir -m 755 /run/sshd && "
                                                         "exec /usr/sbin/sshd -D -e -f \"$0\""),
                                          config};
        sshd->start(command.takeFirst(), command);
        ASSERT_TRUE(sshd->waitForStarted(int(SshdTimeout.count())));
        sshds.push_back(std::move(sshd));
        QDeadlineTimer deadline(SshdTimeout);
        for (;;) {
            QTcpSocket probe;
            probe.connectToHost(s.address, 22);
            if (probe.waitForConnected(500))
                break;
            ASSERT_FALSE(deadline.hasExpired())
                << "sshd does not listen on " << s.address.toStdString() << ": "
                << sshds.back()->readAllStandardError().toStdString();
            QThread::msleep(100);
        }
    }

    void writeInventory(const QString& program) {
        QByteArray fwEnv = "{QT_QPA_PLATFORM: offscreen";
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (!qEnvironmentVariable(name).isEmpty())
                fwEnv += QByteArray(", ") + name + ": '" + qgetenv(name) + "'";
        fwEnv += "}";
        QByteArray inv =
            "sites:\n  vars:\n"
            "    ansible_user: root\n"
            "    ansible_ssh_private_key_file: " +
            path(QStringLiteral("client-key")).toUtf8() + "\n    fw_program: " + program.toUtf8() +
            "\n    fw_fleet: " + buildPath(QStringLiteral("tools/fwfleet/fwfleet")).toUtf8() +
            "\n    fw_env: " + fwEnv + "\n  hosts:\n";
        for (const Site& s : Sites) {
            inv += "    " + s.name.toUtf8() + ":\n      ansible_host: " + s.address.toUtf8() +
                   "\n      fw_report: " + path(s.name + QStringLiteral("-report.json")).toUtf8() +
                   "\n";
            for (const bool wrong : {false, true}) {
                inv += wrong ? "      wrong_routers:\n" : "      site_routers:\n";
                for (const Router& r : s.routers)
                    inv +=
                        "        - {address: " + r.address.toUtf8() + ", password: " +
                        (wrong && r.address == WrongRouter ? WrongPassword : r.password).toUtf8() +
                        ", romid: " + r.romId.toUtf8() + "}\n";
            }
        }
        ASSERT_TRUE(writeFile(path(QStringLiteral("inventory.yml")), inv));
        const QString ssh = QStringLiteral(
            "-F /dev/null -o ControlMaster=no -o BatchMode=yes -o IdentitiesOnly=yes "
            "-o StrictHostKeyChecking=yes -o GlobalKnownHostsFile=/dev/null "
            "-o UserKnownHostsFile=");
        ASSERT_TRUE(writeFile(
            path(QStringLiteral("ansible.cfg")),
            QStringLiteral("[defaults]\ninventory = %1\nforks = 2\nremote_tmp = %2\n"
                           "interpreter_python = /usr/bin/python3\nretry_files_enabled = false\n"
                           "[ssh_connection]\npipelining = true\nssh_args = %3%4\n")
                .arg(path(QStringLiteral("inventory.yml")), path(QStringLiteral("remote-tmp")), ssh,
                     path(QStringLiteral("known_hosts")))
                .toUtf8()));
    }

    // Runs the playbook while looking at every process's arguments every few milliseconds (but
    // routersim's, which are the routers' own passwords).
    ProgramRun runPlaybook(QStringList* argvSeen) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("/usr/bin/ansible-playbook"),
                {QStringLiteral("-v"), src + QStringLiteral("/tests/e2e/ansible/sites.yml")});
        ProgramRun run;
        run.started = p.waitForStarted(int(ToolTimeout.count()));
        QDeadlineTimer deadline(PlaybookTimeout);
        while (run.started && !p.waitForFinished(20) && !deadline.hasExpired()) {
            for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                const QByteArray args = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
                if (args.startsWith(routersimPath().toUtf8()) || args.startsWith("nsenter"))
                    continue;
                for (const QByteArray& password : passwords())
                    if (args.contains(password))
                        *argvSeen << QString::fromUtf8(args).replace(u'\0', u' ');
            }
        }
        run.timedOut = p.state() != QProcess::NotRunning;
        if (run.timedOut) {
            p.kill();
            p.waitForFinished(int(SimProcess::StopTimeout.count()));
        }
        run.out = p.readAllStandardOutput();
        run.err = p.readAllStandardError();
        run.exitCode = run.timedOut ? -1 : p.exitCode();
        return run;
    }

    void TearDown() override {
        for (auto& sshd : sshds) {
            sshd->terminate();
            if (!sshd->waitForFinished(int(SimProcess::StopTimeout.count())))
                sshd->kill(), sshd->waitForFinished(int(SimProcess::StopTimeout.count()));
        }
    }
};

QStringList states(const QJsonObject& result) {
    QStringList s;
    for (const QJsonValue r : result[QStringLiteral("routers")].toArray())
        s << r[QStringLiteral("address")].toString() + u' ' + r[QStringLiteral("state")].toString();
    return s;
}

QStringList allIn(const Site& s, const QString& state) {
    QStringList l;
    for (const Router& r : s.routers)
        l << r.address + u' ' + state;
    return l;
}

} // namespace

TEST_F(AnsibleSites, FourRunsOverSshAtTwoSites) {
    buildCollection();
    ASSERT_FALSE(HasFailure());
    const ProgramRun doc =
        tool({QStringLiteral("/usr/bin/ansible-doc"), QStringLiteral("fwupgrade.fleet.upgrade")});
    for (const char* text : {"= program", "= routers", "- password", "- target_version",
                             "EXAMPLES:", "RETURN VALUES:", "would-upgrade"})
        EXPECT_TRUE(doc.out.contains(text)) << text << "\n" << doc.out.toStdString();

    tool({QStringLiteral("/usr/bin/ssh-keygen"), QStringLiteral("-q"), QStringLiteral("-t"),
          QStringLiteral("ed25519"), QStringLiteral("-N"), QString(), QStringLiteral("-f"),
          path(QStringLiteral("client-key"))});
    const QMap<QString, QByteArray> images{{QStringLiteral("AAA"), image(7)},
                                           {QStringLiteral("BBB"), image(13)}};
    QStringList files;
    for (auto i = images.begin(); i != images.end(); ++i) {
        ASSERT_TRUE(writeFile(path(i.key()), i.value()));
        files << path(i.key()) + QStringLiteral(":upgrade,normal,romid");
    }
    const QString program = packProgram(dir.path(), files, std::nullopt);
    for (int i = 0; i < int(Sites.size()); ++i) {
        startSite(i);
        ASSERT_FALSE(HasFailure());
    }
    writeInventory(program);

    QStringList argvSeen;
    const ProgramRun run = runPlaybook(&argvSeen);
    const std::string why = describe(run).toStdString();
    ASSERT_FALSE(run.timedOut) << why;
    EXPECT_EQ(run.exitCode, 2) << why; // a host failed
    argvSeen.removeDuplicates();
    EXPECT_TRUE(argvSeen.isEmpty()) << argvSeen.join(u'\n').toStdString();
    for (const QByteArray& password : passwords()) {
        EXPECT_FALSE(run.out.contains(password)) << why;
        for (const Site& s : Sites)
            EXPECT_FALSE(
                readFile(path(s.name + QStringLiteral("-report.json"))).contains(password));
    }
    EXPECT_TRUE(QRegularExpression(QStringLiteral("siteA +: ok=3 +changed=2 .*failed=1"))
                    .match(QString::fromUtf8(run.out))
                    .hasMatch())
        << why;
    EXPECT_TRUE(QRegularExpression(QStringLiteral("siteB +: ok=4 +changed=3 .*failed=0"))
                    .match(QString::fromUtf8(run.out))
                    .hasMatch())
        << why;

    const auto tasks = taskResults(QString::fromUtf8(run.out));
    for (const Site& s : Sites) {
        const std::string host = s.name.toStdString();
        const TaskResult look = tasks[QStringLiteral("look")][s.name];
        EXPECT_EQ(look.status, "changed") << host << why;
        EXPECT_EQ(states(look.result), allIn(s, QStringLiteral("would-upgrade"))) << host;
        const TaskResult upgrade = tasks[QStringLiteral("upgrade")][s.name];
        EXPECT_EQ(upgrade.status, "changed") << host;
        EXPECT_EQ(states(upgrade.result), allIn(s, QStringLiteral("verified"))) << host;
        for (const QJsonValue r : upgrade.result[QStringLiteral("routers")].toArray()) {
            EXPECT_EQ(r[QStringLiteral("method")].toString(), "HTTP");
            EXPECT_EQ(r[QStringLiteral("exit_status")].toInt(-1), 0);
            EXPECT_EQ(r[QStringLiteral("before")].toString(), "V2.40");
            EXPECT_EQ(r[QStringLiteral("after")].toString(), "V2.41");
        }
        const TaskResult again = tasks[QStringLiteral("again")][s.name];
        EXPECT_EQ(again.status, "ok") << host;
        EXPECT_EQ(states(again.result), allIn(s, QStringLiteral("up-to-date"))) << host;
        // Each router got its own image, once in the upgrade and again in the last run unless
        // its password was wrong: the look and the second run sent nothing.
        for (const Router& r : s.routers) {
            EXPECT_EQ(readFile(body(r)), expectedUploadBody(images[r.romId])) << r.name.toStdString();
            EXPECT_EQ(readFile(web(r)).count("POST /upg "), r.address == WrongRouter ? 1 : 2)
                << r.name.toStdString();
        }
    }
    const TaskResult failed = tasks[QStringLiteral("wrong password")][QStringLiteral("siteA")];
    EXPECT_EQ(failed.status, "fatal");
    EXPECT_EQ(failed.result[QStringLiteral("msg")].toString(),
              "routers not upgraded: 10.81.1.10 failed (Authentication Failed: Incorrect "
              "password. Please check and input again!)");
    EXPECT_EQ(states(failed.result), QStringList({QStringLiteral("10.81.1.10 failed"),
                                                  QStringLiteral("10.81.1.11 upgraded")}));
    const TaskResult other = tasks[QStringLiteral("wrong password")][QStringLiteral("siteB")];
    EXPECT_EQ(other.status, "changed");
    EXPECT_EQ(states(other.result), allIn(Sites[1], QStringLiteral("upgraded")));
}

FW_NETNS_TEST_MAIN(QCoreApplication)

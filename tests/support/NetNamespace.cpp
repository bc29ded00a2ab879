#include "support/NetNamespace.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fw::test {

namespace {

constexpr const char* ReexecMark = "FW_NETNS_REEXEC";
// Output of a helper command read at most (they print a few lines).
constexpr qsizetype MaxCommandOutput = 1 << 20;

QString& failureText() {
    static QString text = QStringLiteral("NetNamespace::enterFromMain() was not called");
    return text;
}

QString ipTool() {
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/bin/ip", "/usr/bin/ip"}) {
        if (::access(p, X_OK) == 0)
            return QString::fromLatin1(p);
    }
    return QStringLiteral("ip");
}

// Without QProcess: this runs before the application object exists.
int spawn(const QStringList& command, QString* output) {
    std::vector<QByteArray> bytes;
    for (const QString& a : command)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    QByteArray out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0 || out.size() > MaxCommandOutput)
            break;
        out.append(buffer, n);
    }
    ::close(pipeFds[0]);
    if (output)
        *output = QString::fromLocal8Bit(out);
    if (rc != 0)
        return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

QString setUpNamespace() {
    const QString ip = ipTool();
    QString out;
    if (spawn({ip, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
               QStringLiteral("up")},
              &out) != 0)
        return QStringLiteral("ip link set lo up: ") + out.trimmed();
    if (spawn({ip, QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"),
               QStringLiteral("dev"), QStringLiteral("lo"), QStringLiteral("src"),
               QStringLiteral("127.0.0.1")},
              &out) != 0)
        return QStringLiteral("ip route add default dev lo: ") + out.trimmed();
    // routersim answers echo for the routers that should; the kernel must not answer for all.
    if (!NetNamespace::setSysctl(QStringLiteral("net/ipv4/icmp_echo_ignore_all"), "1"))
        return QStringLiteral("cannot switch off the kernel's ICMP echo in the namespace");
    QString detail;
    if (!NetNamespace::onlyLoopback(&detail))
        return QStringLiteral("the namespace has more than the loopback device:\n") + detail;
    return {};
}

} // namespace

void NetNamespace::enterFromMain(int argc, char** argv) {
    if (qEnvironmentVariable("FW_NETNS_DISABLE") == u"1") {
        failureText() = QStringLiteral("FW_NETNS_DISABLE=1 is set");
        return;
    }
    if (qEnvironmentVariable(ReexecMark) == u"1") {
        // Re-executed under `unshare -rn`: already inside.
        ::unsetenv(ReexecMark);
        failureText() = setUpNamespace();
        return;
    }
    if (::unshare(CLONE_NEWNET) == 0) {
        failureText() = setUpNamespace();
        return;
    }
    const QString privileged = QString::fromLocal8Bit(std::strerror(errno));
    // Unprivileged: a user namespace may still allow a network namespace of our own.
    const char* unshareTool = "/usr/bin/unshare";
    if (argc > 0 && ::access(unshareTool, X_OK) == 0 &&
        spawn({QString::fromLatin1(unshareTool), QStringLiteral("-rn"), QStringLiteral("true")},
              nullptr) == 0) {
        char self[4096] = {};
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (n > 0) {
            std::vector<char*> args{const_cast<char*>("unshare"), const_cast<char*>("-rn"),
                                    const_cast<char*>("--"), self};
            for (int i = 1; i < argc; ++i)
                args.push_back(argv[i]);
            args.push_back(nullptr);
            ::setenv(ReexecMark, "1", 1);
            std::fflush(stdout);
            std::fflush(stderr);
            ::execv(unshareTool, args.data());
            ::unsetenv(ReexecMark);
        }
    }
    failureText() = QStringLiteral("unshare(CLONE_NEWNET) refused (%1) and `unshare -rn` is not "
                                   "available")
                        .arg(privileged);
}

QString NetNamespace::failure() {
    return failureText();
}

bool NetNamespace::mustRun() {
    return qEnvironmentVariable("CI") == u"true";
}

QString NetNamespace::run(const QStringList& command, int* exitCode) {
    QString out;
    const int rc = spawn(command, &out);
    if (exitCode)
        *exitCode = rc;
    return out;
}

QString NetNamespace::addAddress(const QString& address) {
    if (!ready())
        return QStringLiteral("not inside the private network namespace");
    QHostAddress a;
    if (!a.setAddress(address) || a.protocol() != QAbstractSocket::IPv4Protocol)
        return QStringLiteral("not an IPv4 address: ") + address;
    int rc = 0;
    const QString out =
        run({ipTool(), QStringLiteral("addr"), QStringLiteral("add"),
             a.toString() + QStringLiteral("/32"), QStringLiteral("dev"), QStringLiteral("lo")},
            &rc);
    if (rc == 0 || out.contains(QStringLiteral("File exists")) ||
        out.contains(QStringLiteral("already assigned")))
        return {};
    return out.trimmed();
}

bool NetNamespace::onlyLoopback(QString* detail) {
    const QString ip = ipTool();
    int rcLinks = 0, rc4 = 0, rc6 = 0;
    const QString links =
        run({ip, QStringLiteral("-o"), QStringLiteral("link"), QStringLiteral("show")}, &rcLinks);
    const QString routes4 =
        run({ip, QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("show"),
             QStringLiteral("table"), QStringLiteral("all")},
            &rc4);
    const QString routes6 =
        run({ip, QStringLiteral("-6"), QStringLiteral("route"), QStringLiteral("show"),
             QStringLiteral("table"), QStringLiteral("all")},
            &rc6);
    if (detail)
        *detail = routes4 + routes6 + links;
    if (rcLinks != 0 || rc4 != 0 || rc6 != 0)
        return false;
    const QStringList linkLines = links.split(u'\n', Qt::SkipEmptyParts);
    if (linkLines.size() != 1 || !linkLines[0].contains(QStringLiteral(": lo:")))
        return false;
    for (const QString& line : (routes4 + routes6).split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.contains(QStringLiteral(" dev lo")))
            return false;
    }
    return true;
}

bool NetNamespace::setSysctl(const QString& path, const QByteArray& value) {
    QFile f(QStringLiteral("/proc/sys/") + path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(value) == value.size();
}

QString buildPath(const QString& relative) {
    QString root = qEnvironmentVariable("FW_BUILD_DIR");
    if (root.isEmpty() && QCoreApplication::instance())
        root = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    return QDir::cleanPath(root + u'/' + relative);
}

QString routersimPath() {
    return buildPath(QStringLiteral("tools/routersim/routersim"));
}

QString fwupgradePath() {
    return buildPath(QStringLiteral("src/app/fwupgrade"));
}

SimProcess::SimProcess(QStringList args) : args_(std::move(args)) {}

SimProcess::~SimProcess() {
    stop();
}

QString SimProcess::transcriptPath() const {
    return dir_.filePath(QStringLiteral("transcript.txt"));
}

bool SimProcess::start(QString* error) {
    if (!NetNamespace::ready()) {
        *error = QStringLiteral("routersim runs only inside the private network namespace");
        return false;
    }
    if (!dir_.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    process_ = std::make_unique<QProcess>();
    QStringList command = launcher_ + QStringList{routersimPath()} + args_ +
                          QStringList{QStringLiteral("--transcript"), transcriptPath()};
    process_->setProgram(command.takeFirst());
    process_->setArguments(command);
    process_->start();
    if (!process_->waitForStarted(int(StartTimeout.count()))) {
        *error =
            QStringLiteral("cannot start %1: %2").arg(routersimPath(), process_->errorString());
        return false;
    }
    QDeadlineTimer deadline(StartTimeout);
    QByteArray out;
    while (!out.contains("routersim ready")) {
        if (deadline.hasExpired() || process_->state() == QProcess::NotRunning) {
            process_->waitForFinished(0);
            stderr_ += process_->readAllStandardError();
            *error = QStringLiteral("routersim did not become ready: ") +
                     QString::fromLocal8Bit(stderr_);
            stop();
            return false;
        }
        process_->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        out += process_->readAllStandardOutput();
    }
    return true;
}

bool SimProcess::running() const {
    return process_ && process_->state() == QProcess::Running;
}

void SimProcess::stop() {
    if (!process_)
        return;
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(int(StopTimeout.count()))) {
            process_->kill();
            process_->waitForFinished(int(StopTimeout.count()));
        }
    }
    stderr_ += process_->readAllStandardError();
    process_.reset();
}

QStringList SimProcess::transcriptLines() const {
    QFile f(transcriptPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString SimProcess::errorOutput() {
    if (process_)
        stderr_ += process_->readAllStandardError();
    return QString::fromLocal8Bit(stderr_);
}

ProgramRun runProgram(const QString& path, const QStringList& args, const QProcessEnvironment& env,
                      std::chrono::milliseconds timeout, const QByteArray& input) {
    ProgramRun run;
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(path, args);
    if (!p.waitForStarted(int(timeout.count())))
        return run;
    run.started = true;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(int(timeout.count()))) {
        run.timedOut = true;
        p.kill();
        p.waitForFinished(int(SimProcess::StopTimeout.count()));
    }
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    run.exitCode = run.timedOut || p.exitStatus() != QProcess::NormalExit ? -1 : p.exitCode();
    return run;
}

} // namespace fw::test

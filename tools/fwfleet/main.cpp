// fwfleet: upgrades many routers with one command, running the packed upgrade program headless
// for each, a few at a time, and writes one report.

#include "FleetDisplay.h"
#include "FleetRunner.h"
#include "RouterList.h"
#include "RoutersFileMode.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace fleet;

namespace {

const char kDescription[] =
    "Upgrades every router listed in ROUTERS by running \"PROGRAM put ADDRESS - ROMID\"\n"
    "with the password on its standard input (never in an argument), headless\n"
    "(FWUPGRADE_HEADLESS=1, FWUPGRADE_OUTPUT=jsonl), each run with a temporary directory of\n"
    "its own, and shows one line per router while they run. Keep ROUTERS readable by its\n"
    "owner only (chmod 600): fwfleet warns otherwise.";

const char kEpilogue[] = R"(
A line per router shows address, state, method, percent, seconds and the router's firmware
text before (and after) the run. While it runs a router is waiting, searching, logging in,
sending or verifying; it ends as one of
  upgraded       the router accepted the upgrade
  verified       it came back after the upgrade (--verify)
  up-to-date     it already ran the target version; nothing was sent (--target)
  would-upgrade  a dry run found everything ready to send (--dry-run)
  unverified     the upgrade was sent, the router did not come back (with the target version)
  failed         anything else, or the run was ended
On a terminal the lines fit its height (running routers first, then the latest finished) and
are redrawn in place; elsewhere a line is written each time a router's state changes. A summary
line counting the routers by state ends the output. SIGINT (Ctrl-C) ends the runs in progress
as SIGTERM would, starts no more and still writes the report.

Exit status: 0 every router ended upgraded, verified, up-to-date or would-upgrade; 1 any other
outcome or a router not run; 2 usage or file error.
)";

constexpr int MaxJobs = 64;
constexpr int MaxVerifySeconds = 3600;
constexpr qint64 MaxRoutersBytes = 16 << 20;
constexpr std::chrono::milliseconds RedrawInterval{200};

int usageError(const QString& why) {
    std::fprintf(stderr, "fwfleet: %s\nTry 'fwfleet --help' for more information.\n",
                 qPrintable(why));
    return 2;
}

int fileError(const QString& name, const QString& why) {
    std::fprintf(stderr, "fwfleet: %s: %s\n", qPrintable(name), qPrintable(why));
    return 2;
}

int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int sig) {
    const char byte = char(sig);
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// SIGINT, SIGTERM and SIGHUP reach the event loop through a pipe. A closed standard output
// (`fwfleet ... | head -1`) must not end fwfleet: its runs go on and the report is written.
bool catchSignals() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(sig, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

// The ROUTERS text: a file, or standard input for "-". Empty on error with *error set.
std::optional<QByteArray> readRouters(const QString& path, QString* error) {
    QFile file;
    bool opened = false;
    if (path == QLatin1String("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(path);
        opened = file.open(QIODevice::ReadOnly);
        if (const QString warning = opened ? routersFileModeWarning(file.handle(), path) : QString();
            !warning.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(warning));
    }
    if (!opened) {
        *error = file.errorString();
        return std::nullopt;
    }
    QByteArray text;
    for (QByteArray chunk; !(chunk = file.read(1 << 16)).isEmpty();) {
        text += chunk;
        if (text.size() > MaxRoutersBytes) {
            *error = QStringLiteral("longer than %1 bytes").arg(MaxRoutersBytes);
            return std::nullopt;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return std::nullopt;
    }
    return text;
}

// Written whole or not at all: a report that does not fit leaves the previous file as it was.
bool writeReport(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = out.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            *error = out.errorString();
            out.cancelWriting();
            return false;
        }
        done += n;
    }
    if (!out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fwfleet"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FW_VERSION));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption jobsOption(
        {QStringLiteral("j"), QStringLiteral("jobs")},
        QStringLiteral("At most N runs at a time (1 to %1, default 4); 1 runs them in file order.")
            .arg(MaxJobs),
        QStringLiteral("N"), QStringLiteral("4"));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("Writes a JSON report: per router its address, ROM identifier, state, "
                       "firmware before and after, exit status, method, bytes sent, seconds, "
                       "last box and log lines."),
        QStringLiteral("FILE"));
    const QCommandLineOption verifyOption(
        QStringLiteral("verify"),
        QStringLiteral("Each run waits up to SECONDS (1 to %1) for its router to restart and "
                       "answer after the upgrade (FWUPGRADE_VERIFY).")
            .arg(MaxVerifySeconds),
        QStringLiteral("SECONDS"));
    const QCommandLineOption targetOption(
        QStringLiteral("target"),
        QStringLiteral("A router that already runs VERSION is not touched; with --verify, one that "
                       "comes back with another is unverified (FWUPGRADE_TARGET_VERSION)."),
        QStringLiteral("VERSION"));
    const QCommandLineOption dryRunOption(
        QStringLiteral("dry-run"),
        QStringLiteral("Each run stops before the first byte of the transfer and says what it "
                       "would send (FWUPGRADE_DRY_RUN=1)."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Shows this text."));
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Shows the version."));
    parser.addOptions({jobsOption, reportOption, verifyOption, targetOption, dryRunOption,
                       helpOption, versionOption});
    parser.addPositionalArgument(QStringLiteral("PROGRAM"),
                                 QStringLiteral("The packed upgrade program (it carries the images)."));
    parser.addPositionalArgument(
        QStringLiteral("ROUTERS"),
        QStringLiteral("One router a line: ADDRESS PASSWORD ROMID, separated by blanks; null "
                       "stands for an empty password or ROM identifier; # starts a comment. "
                       "A malformed line is reported with its number and nothing starts. "
                       "- reads the lines from standard input."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        // The parser names the program as it was called; the usage names it as installed.
        QString text = parser.helpText();
        const QString called = QCoreApplication::arguments().constFirst();
        if (const QString prefix = QStringLiteral("Usage: ") + called; text.startsWith(prefix))
            text.replace(0, prefix.size(), QStringLiteral("Usage: fwfleet"));
        std::fputs(qPrintable(text + QString::fromUtf8(kEpilogue)), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::puts("fwfleet " FW_VERSION);
        return 0;
    }

    FleetOptions options;
    bool ok = false;
    options.jobs = parser.value(jobsOption).toInt(&ok);
    if (!ok || options.jobs < 1 || options.jobs > MaxJobs)
        return usageError(QStringLiteral("--jobs takes a number from 1 to %1").arg(MaxJobs));
    if (parser.isSet(verifyOption)) {
        const int seconds = parser.value(verifyOption).toInt(&ok);
        if (!ok || seconds < 1 || seconds > MaxVerifySeconds)
            return usageError(
                QStringLiteral("--verify takes a number of seconds from 1 to %1").arg(MaxVerifySeconds));
        options.verifySeconds = seconds;
    }
    if (parser.isSet(targetOption)) {
        options.targetVersion = parser.value(targetOption);
        const bool control = std::any_of(options.targetVersion.cbegin(), options.targetVersion.cend(),
                                         [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
        if (options.targetVersion.isEmpty() || control)
            return usageError(QStringLiteral("--target takes a text without control characters"));
    }
    options.dryRun = parser.isSet(dryRunOption);
    const QString reportPath = parser.value(reportOption);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return usageError(QStringLiteral("PROGRAM and ROUTERS are needed"));
    const QFileInfo program(positional[0]);
    if (!program.isFile() || !program.isExecutable())
        return usageError(positional[0] + QStringLiteral(": not an executable file"));

    const QString routersName =
        positional[1] == QLatin1String("-") ? QStringLiteral("standard input") : positional[1];
    QString error;
    const auto routersText = readRouters(positional[1], &error);
    if (!routersText)
        return usageError(routersName + QStringLiteral(": ") + error);
    const auto routers = RouterList::parse(*routersText, &error);
    if (!routers) {
        std::fprintf(stderr, "fwfleet: %s: %s; nothing started\n", qPrintable(routersName),
                     qPrintable(error));
        return 2;
    }
    if (!reportPath.isEmpty()) {
        // The report must have a place before anything starts.
        QFile probe(reportPath);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append))
            return usageError(reportPath + QStringLiteral(": ") + probe.errorString());
    }
    if (!catchSignals())
        return fileError(QStringLiteral("signals"), QString::fromLocal8Bit(std::strerror(errno)));

    FleetRunner runner(program.absoluteFilePath(), *routers, options);
    if (!runner.ready()) {
        std::fprintf(stderr, "fwfleet: %s; nothing started\n", qPrintable(runner.tempError()));
        return 2;
    }
    FleetDisplay display(STDOUT_FILENO, ::isatty(STDOUT_FILENO) == 1);
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &runner, [&runner] {
        char drain[16];
        while (::read(g_signalPipe[0], drain, sizeof drain) > 0) {
        }
        runner.stop();
    });
    QObject::connect(&runner, &FleetRunner::jobChanged, &runner,
                     [&](std::size_t index) { display.jobChanged(runner, index); });
    QTimer redraw;
    redraw.setInterval(RedrawInterval);
    QObject::connect(&redraw, &QTimer::timeout, [&] { display.redraw(runner); });
    QObject::connect(&runner, &FleetRunner::finished, &app, [&] {
        redraw.stop();
        QCoreApplication::exit(0);
    });
    if (display.terminal()) {
        display.redraw(runner);
        redraw.start();
    }
    QTimer::singleShot(0, &runner, [&runner] { runner.start(); });
    app.exec();

    int status = FleetDisplay::allSucceeded(runner) ? 0 : 1;
    if (!reportPath.isEmpty() &&
        !writeReport(reportPath, FleetDisplay::report(runner).toJson(QJsonDocument::Indented), &error))
        status = fileError(reportPath, error + QStringLiteral("; the report is not written"));
    display.finish(runner);
    return status;
}

// fwfleet: upgrades many routers with one command, running the packed upgrade program headless
// for each, a few at a time, and writes one report.

#include "FleetDisplay.h"
#include "FleetRunner.h"
#include "RouterList.h"
#include "RoutersFileMode.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace fleet;

namespace {

const char kHelp[] = R"(Usage: fwfleet [--jobs N] [--report FILE] PROGRAM ROUTERS

Upgrades every router listed in ROUTERS by running "PROGRAM put ADDRESS - ROMID"
with the password on its standard input (never in an argument), headless (FWUPGRADE_HEADLESS=1, FWUPGRADE_OUTPUT=jsonl), each run with a temporary
directory of its own, and shows one line per router while they run.

  PROGRAM        the packed upgrade program (it carries the images)
  ROUTERS        one router a line: ADDRESS PASSWORD ROMID, separated by blanks;
                 null stands for an empty password or ROM identifier; # starts a comment.
                 A malformed line is reported with its number and nothing starts.
                 Keep it readable by its owner only (chmod 600); fwfleet warns otherwise.
  --jobs N       at most N runs at a time (1 to 64, default 4); 1 runs them in file order
  --report FILE  writes a JSON report: per router its address, ROM identifier, exit status,
                 method, bytes sent, seconds, last box and log lines
  --help         shows this text
  --version      shows the version

A line per router shows address, state (waiting, searching, logging in, sending, done,
failed), method, percent and seconds; on a terminal the lines are redrawn in place.
A summary line ends the output. SIGINT (Ctrl-C) ends the runs in progress as SIGTERM
would, starts no more and still writes the report.

Exit status: 0 every router succeeded, 1 any failed or was not run, 2 usage or file error.
)";

constexpr int MaxJobs = 64;
constexpr std::chrono::milliseconds RedrawInterval{200};

int usageError(const QString& why) {
    std::fprintf(stderr, "fwfleet: %s\nTry 'fwfleet --help'.\n", qPrintable(why));
    return 2;
}

int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int sig) {
    const char byte = char(sig);
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// SIGINT, SIGTERM and SIGHUP reach the event loop through a pipe.
bool catchStopSignals() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(sig, &action, nullptr);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    int jobs = 4;
    QString reportPath;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == QLatin1String("--version")) {
            std::puts("fwfleet " FW_VERSION);
            return 0;
        }
        if (a == QLatin1String("--jobs") || a == QLatin1String("--report")) {
            if (i + 1 >= args.size())
                return usageError(a + QStringLiteral(" needs a value"));
            const QString value = args[++i];
            if (a == QLatin1String("--report")) {
                reportPath = value;
                continue;
            }
            bool ok = false;
            jobs = value.toInt(&ok);
            if (!ok || jobs < 1 || jobs > MaxJobs)
                return usageError(QStringLiteral("--jobs takes a number from 1 to %1").arg(MaxJobs));
        } else if (a.startsWith(QLatin1String("--"))) {
            return usageError(QStringLiteral("unknown option ") + a);
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2)
        return usageError(QStringLiteral("PROGRAM and ROUTERS are needed"));
    const QFileInfo program(positional[0]);
    if (!program.isFile() || !program.isExecutable())
        return usageError(positional[0] + QStringLiteral(": not an executable file"));

    QFile routersFile(positional[1]);
    if (!routersFile.open(QIODevice::ReadOnly))
        return usageError(positional[1] + QStringLiteral(": ") + routersFile.errorString());
    if (const QString warning = routersFileModeWarning(routersFile.handle(), positional[1]);
        !warning.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(warning));
    QString error;
    const auto routers = RouterList::parse(routersFile.readAll(), &error);
    if (!routers) {
        std::fprintf(stderr, "fwfleet: %s: %s; nothing started\n", qPrintable(positional[1]),
                     qPrintable(error));
        return 2;
    }
    if (!reportPath.isEmpty()) {
        // The report must have a place before anything starts.
        QFile probe(reportPath);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append))
            return usageError(reportPath + QStringLiteral(": ") + probe.errorString());
    }
    if (!catchStopSignals())
        return usageError(QStringLiteral("cannot catch signals"));

    FleetRunner runner(program.absoluteFilePath(), *routers, jobs);
    FleetDisplay display(stdout, ::isatty(STDOUT_FILENO) == 1);
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &runner, [&runner] {
        char drain[16];
        while (::read(g_signalPipe[0], drain, sizeof drain) > 0) {
        }
        runner.stop();
    });
    QTimer redraw;
    redraw.setInterval(RedrawInterval);
    QObject::connect(&redraw, &QTimer::timeout, [&] { display.update(runner); });
    QObject::connect(&runner, &FleetRunner::finished, &app, [&] {
        redraw.stop();
        display.update(runner);
        QCoreApplication::exit(0);
    });
    display.update(runner);
    redraw.start();
    QTimer::singleShot(0, &runner, [&runner] { runner.start(); });
    app.exec();

    int status = FleetDisplay::allDone(runner) ? 0 : 1;
    if (!reportPath.isEmpty()) {
        QSaveFile out(reportPath);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(FleetDisplay::report(runner).toJson(QJsonDocument::Indented)) < 0 ||
            !out.commit()) {
            std::fprintf(stderr, "fwfleet: %s: %s\n", qPrintable(reportPath),
                         qPrintable(out.errorString()));
            status = 2;
        }
    }
    std::printf("%s\n", qPrintable(FleetDisplay::summary(runner)));
    return status;
}

// TFTP recovery throughput and memory: the program (headless, and with its window shown) recovers
// a crashed router, simulated in this process, with one image; tftp-hpa's client writes the same
// image to the same loader. Run inside a private network namespace by bench/tftp.sh.
// Usage: bench_tftp [--size-mib N] [--rounds N] [--program PATH] [--tftp PATH]
// Throughput is measured alike for both, by the loader: from the write request to the last
// block (the program's search before and its reboot wait after are not transfer time). Peak
// memory is the program's maximum resident set. Exits 1 when the program reaches less than 80 %
// of tftp-hpa's throughput or, with the window shown, 64 MiB or more; 2 when the set-up fails.

#include "Discovery.h"
#include "SimConfig.h"
#include "TftpServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <cstdio>
#include <memory>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

using namespace std::chrono;

namespace {

const QString Router = QStringLiteral("192.168.123.254");
constexpr seconds RunBound{300};
// Block numbers are 16 bits: the largest file a loader can take.
constexpr qint64 MaxTftpFile = qint64(65535) * 512 - 1;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Nothing here may reach a real network: only a namespace with lo alone will do.
bool onlyLoopback() {
    struct if_nameindex* links = if_nameindex();
    if (!links)
        return false;
    int count = 0;
    bool loOnly = true;
    for (struct if_nameindex* l = links; l->if_index != 0; ++l, ++count)
        loOnly = loOnly && std::strcmp(l->if_name, "lo") == 0;
    if_freenameindex(links);
    return loOnly && count == 1;
}

// The crashed router's loader on a thread of its own; the loader's clock times each file.
class Loader {
public:
    bool start(QString* error) {
        thread_.start();
        anchor_.moveToThread(&thread_);
        bool ok = false;
        QMetaObject::invokeMethod(
            &anchor_,
            [&] {
                routersim::RouterConfig r;
                r.address = QHostAddress(Router);
                r.state = routersim::RouterState::Crashed;
                r.answers = routersim::defaultAnswers(r.state);
                r.romId = "ABC123";
                config_.routers << r;
                config_.answerEcho = false; // the namespace's kernel answers echo
                discovery_ = std::make_unique<routersim::Discovery>(config_, nullptr);
                if (!discovery_->start(error))
                    return;
                server_ = std::make_unique<routersim::TftpServer>(*discovery_, config_, nullptr);
                QObject::connect(server_.get(), &routersim::TftpServer::fileStarted,
                                 [this](int, const QByteArray&) {
                                     std::lock_guard lock(mutex_);
                                     start_ = steady_clock::now();
                                     end_ = {};
                                 });
                QObject::connect(server_.get(), &routersim::TftpServer::fileCompleted,
                                 [this](int, const QByteArray& name) {
                                     std::lock_guard lock(mutex_);
                                     end_ = steady_clock::now();
                                     last_ = name;
                                 });
                ok = true;
            },
            Qt::BlockingQueuedConnection);
        return ok;
    }
    ~Loader() {
        QMetaObject::invokeMethod(
            &anchor_,
            [this] {
                server_.reset();
                discovery_.reset();
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    // Transfer time of the last file; zero when it did not complete.
    nanoseconds took() {
        std::lock_guard lock(mutex_);
        return end_ > start_ ? end_ - start_ : nanoseconds{};
    }
    // The last file completed.
    QByteArray received() {
        QByteArray name;
        {
            std::lock_guard lock(mutex_);
            name = last_;
        }
        QByteArray out;
        QMetaObject::invokeMethod(
            &anchor_, [&] { out = server_->completedFiles().value(name); },
            Qt::BlockingQueuedConnection);
        return out;
    }

private:
    QThread thread_;
    QObject anchor_;
    routersim::SimConfig config_;
    std::unique_ptr<routersim::Discovery> discovery_;
    std::unique_ptr<routersim::TftpServer> server_;
    std::mutex mutex_;
    steady_clock::time_point start_, end_;
    QByteArray last_;
};

struct Run {
    bool ok = false;
    long maxRssKiB = 0;
};

// Runs a program to its end (killed after RunBound) with extra environment entries; its output
// goes to /dev/null.
Run runProgram(const QStringList& argv, const QStringList& env, const QString& dir) {
    std::vector<QByteArray> args;
    for (const QString& a : argv)
        args.push_back(a.toLocal8Bit());
    std::vector<char*> argp;
    for (auto& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<QByteArray> envs;
    for (char** e = environ; *e; ++e)
        envs.emplace_back(*e);
    for (const QString& e : env)
        envs.push_back(e.toLocal8Bit());
    std::vector<char*> envp;
    for (auto& e : envs)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const QByteArray cwd = dir.toLocal8Bit();
    posix_spawn_file_actions_addchdir_np(&actions, cwd.constData());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Run run;
    if (rc != 0)
        return run;
    // The peak resident set as the kernel keeps it for the program's own memory (the rusage of
    // a spawned child also counts its parent's pages from before the exec).
    const QString statusPath = QStringLiteral("/proc/%1/status").arg(pid);
    const auto deadline = steady_clock::now() + RunBound;
    int status = 0;
    for (;;) {
        QFile f(statusPath);
        if (f.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : f.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    run.maxRssKiB = std::max(run.maxRssKiB, line.mid(6).trimmed().split(' ')
                                                                .value(0).toLong());
        }
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return run;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double sizeMiB = 8;
    int rounds = 3;
    QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/fwupgrade");
    QString tftp = QStandardPaths::findExecutable(QStringLiteral("tftp"));
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--size-mib"))
            sizeMiB = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--program"))
            program = args[i + 1];
        else if (args[i] == QLatin1String("--tftp"))
            tftp = args[i + 1];
    }
    if (!onlyLoopback()) {
        std::fprintf(stderr, "bench_tftp: run inside a private network namespace (bench/tftp.sh)\n");
        return 2;
    }
    if (tftp.isEmpty() || !QFile::exists(program)) {
        std::fprintf(stderr, "bench_tftp: needs tftp-hpa's client and the program (%s)\n",
                     qPrintable(program));
        return 2;
    }

    QTemporaryDir dir;
    const qint64 size = std::min(qint64(sizeMiB * 1024 * 1024), MaxTftpFile);
    const QByteArray name = "image.bin";
    const QString image = dir.filePath(QString::fromLatin1(name));
    QByteArray content(size, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(content.data()), size / 4);
    {
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != size)
            return 2;
    }

    Loader loader;
    QString error;
    if (!loader.start(&error)) {
        std::fprintf(stderr, "bench_tftp: loader: %s\n", qPrintable(error));
        return 2;
    }
    auto mib = [&](nanoseconds t) {
        return t.count() > 0 ? double(size) / (1024.0 * 1024.0) / duration<double>(t).count() : 0;
    };
    auto checked = [&](const char* who) {
        if (loader.received() == content)
            return true;
        std::fprintf(stderr, "bench_tftp: %s: the loader did not get the image whole\n", who);
        return false;
    };

    std::printf("TFTP recovery of %lld bytes (%.2f MiB), %d rounds\n", size,
                double(size) / (1 << 20), rounds);
    const QStringList put{program, QStringLiteral("put"), Router, QStringLiteral("null"),
                          QStringLiteral("ABC123"), image};
    struct Mode {
        const char* label;
        QStringList env;
        std::vector<double> speed;
        long peakKiB = 0;
    };
    std::vector<Mode> modes{
        {"program, headless", {QStringLiteral("FWUPGRADE_HEADLESS=1")}, {}, 0},
        {"program, window shown", {QStringLiteral("QT_QPA_PLATFORM=offscreen")}, {}, 0}};
    std::vector<double> hpa;
    for (int round = 0; round < rounds; ++round) {
        for (Mode& m : modes) {
            const Run r = runProgram(put, m.env, dir.path());
            if (!r.ok || !checked(m.label))
                return 2;
            m.speed.push_back(mib(loader.took()));
            m.peakKiB = std::max(m.peakKiB, r.maxRssKiB);
            std::printf("round %d: %-22s %6.2f MiB/s, peak %ld KiB\n", round + 1, m.label,
                        m.speed.back(), r.maxRssKiB);
        }
        const Run t = runProgram({tftp, QStringLiteral("-m"), QStringLiteral("binary"), Router,
                                  QStringLiteral("-c"), QStringLiteral("put"),
                                  QString::fromLatin1(name)},
                                 {}, dir.path());
        if (!t.ok || !checked("tftp-hpa"))
            return 2;
        hpa.push_back(mib(loader.took()));
        std::printf("round %d: %-22s %6.2f MiB/s\n", round + 1, "tftp-hpa", hpa.back());
    }

    const double reference = median(hpa);
    bool pass = true;
    std::printf("\n| run | MiB/s (median) | vs tftp-hpa | peak memory |\n|---|---|---|---|\n");
    for (const Mode& m : modes) {
        const double s = median(m.speed);
        const double ratio = reference > 0 ? s / reference : 0;
        std::printf("| %s | %.2f | %.2f | %.1f MiB |\n", m.label, s, ratio, m.peakKiB / 1024.0);
        pass = pass && ratio >= 0.8;
    }
    std::printf("| tftp-hpa client | %.2f | 1.00 | |\n", reference);
    pass = pass && modes[1].peakKiB < 64 * 1024;
    return pass ? 0 : 1;
}

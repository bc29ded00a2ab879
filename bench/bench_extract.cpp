// Extraction with the digest check against what a careful person does by hand, `cp` of the same
// bytes followed by `sha256sum` of the copy, and the peak memory of the whole run. Each timed
// copy starts after sync(), after an untimed warm-up. Builds a package of 63 files and their
// digest record (252 MiB of data by default) in a temporary directory with the package writer.
//
//   bench_extract [--files N] [--mib-per-file M] [--rounds R] [--dir BASE]
//
// Exit status 0 when extraction takes at most half the time of cp+sha256sum (best round
// against best round) and the peak resident set stays under 16 MiB; 1 otherwise.

#include "package/EmbeddedPackage.h"
#include "package/PackageFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

namespace pf = fw::PackageFormat;

namespace {

constexpr int kCpTimeoutMs = 300000;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr long kPeakLimitKiB = 16 * 1024;
constexpr double kRatioTarget = 2.0;

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}

long peakRssKiB(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_maxrss;
}

// User and system CPU seconds used so far by `who`. On a loaded machine the wall times follow
// the share of the processors each side gets; the CPU times show the work itself.
double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Writes `bytes` of a cheap pattern to `path` through a 1 MiB buffer.
bool writePattern(const QString& path, qint64 bytes, int seed) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray chunk(int(pf::CopyBufferSize), '\0');
    for (int i = 0; i < chunk.size(); ++i)
        chunk[i] = char((i * 131 + seed * 17) & 0xFF);
    for (qint64 left = bytes; left > 0;) {
        const qint64 n = std::min<qint64>(left, chunk.size());
        if (f.write(chunk.constData(), n) != n)
            return false;
        left -= n;
    }
    return true;
}

bool buildPackage(const QString& dir, const QString& path, int files, qint64 bytesPerFile) {
    const QString source = dir + QStringLiteral("/source.bin");
    const QString body = dir + QStringLiteral("/body.bin");
    if (!writePattern(source, bytesPerFile, 1) || !writePattern(body, 1 << 20, 2))
        return false;
    QFile outFile(path);
    if (!outFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    pf::PackageWriter writer(outFile);
    QFile bodyFile(body);
    if (!bodyFile.open(QIODevice::ReadOnly) || !writer.appendBody(bodyFile) ||
        !writer.beginDigest(files))
        return false;
    for (int i = 0; i < files; ++i) {
        QFile data(source);
        if (!data.open(QIODevice::ReadOnly) ||
            !writer.addRecord(QByteArray("file") + QByteArray::number(i) + ".bin", 0x080D, data,
                              bytesPerFile))
            return false;
    }
    const bool ok = writer.finish();
    QFile::remove(source);
    QFile::remove(body);
    return ok;
}

// Every timed copy starts from the same memory: no dirty pages pending, so none pays for
// another's writeback, and (where this may, as root) the page cache emptied and then holding just
// the package. Without the second step a writer that follows the removal of a large copy was
// seen to pay several times the system time of one that follows anything else.
void settle(const QString& package) {
    ::sync();
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (!drop.open(QIODevice::WriteOnly) || drop.write("1\n") != 2)
        return;
    drop.close();
    QFile warm(package);
    if (!warm.open(QIODevice::ReadOnly))
        return;
    QByteArray chunk(64 * 1024, '\0');
    while (warm.read(chunk.data(), chunk.size()) > 0) {
    }
}

bool runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    return p.waitForFinished(kCpTimeoutMs) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
}

// `cp` alone, or followed by `sha256sum` of the copy.
double timeCp(const QString& from, const QString& to, bool thenHash) {
    settle(from);
    QElapsedTimer t;
    t.start();
    if (!runTool(QStringLiteral("cp"), {from, to}) ||
        (thenHash && !runTool(QStringLiteral("sha256sum"), {to})))
        return -1;
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    QFile::remove(to);
    return seconds;
}

// Wall seconds of the extraction; `cpu` gets its CPU seconds (removal of the files not counted).
double timeExtraction(const QString& package, const QString& tempBase, qint64 expected,
                      double* cpu = nullptr) {
    fw::Sinks none;
    settle(package);
    QElapsedTimer t;
    t.start();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    fw::EmbeddedPackage reader(none, tempBase);
    const qint32 result = reader.ReadinputExeFile(package);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    if (cpu)
        *cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    if (result != expected)
        return -1;
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int files = 63, rounds = 5;
    qint64 mibPerFile = 4;
    QString dirBase;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--files"))
            files = std::clamp(args[i + 1].toInt(), 1, 63);
        else if (args[i] == QLatin1String("--mib-per-file"))
            mibPerFile = std::clamp<qint64>(args[i + 1].toLongLong(), 1, 60);
        else if (args[i] == QLatin1String("--rounds"))
            rounds = std::clamp(args[i + 1].toInt(), 1, 20);
        else if (args[i] == QLatin1String("--dir"))
            dirBase = args[i + 1];
    }
    QTemporaryDir work(dirBase.isEmpty()
                           ? QDir::tempPath() + QStringLiteral("/bench-extract-XXXXXX")
                           : dirBase + QStringLiteral("/bench-extract-XXXXXX"));
    if (!work.isValid()) {
        out() << "cannot create a working directory" << Qt::endl;
        return 2;
    }
    const qint64 bytesPerFile = mibPerFile << 20;
    const qint64 dataBytes = bytesPerFile * files;
    const QString package = work.filePath(QStringLiteral("fwupgrade"));
    if (!buildPackage(work.path(), package, files, bytesPerFile)) {
        out() << "cannot build the package" << Qt::endl;
        return 2;
    }
    const qint64 packageBytes = QFile(package).size();
    out() << "package: " << files << " files, " << dataBytes / (1 << 20) << " MiB of data, "
          << packageBytes << " bytes in all" << Qt::endl;

    double bestCp = 1e9, bestHand = 1e9, bestExtract = 1e9;
    const QString copy = work.filePath(QStringLiteral("copy"));
    // The first copy of a freshly written file is several times slower on some machines,
    // whichever program makes it: one untimed round of each warms up before measuring.
    if (timeCp(package, copy, true) < 0 || timeExtraction(package, work.path(), dataBytes) < 0) {
        out() << "warm-up failed" << Qt::endl;
        return 2;
    }
    const auto rate = [&](double seconds) { return packageBytes / kMiB / seconds; };
    for (int r = 0; r < rounds; ++r) {
        const double cp = timeCp(package, copy, false);
        const double handCpu = cpuSeconds(RUSAGE_CHILDREN);
        const double hand = timeCp(package, copy, true);
        double exCpuUsed = 0;
        const double ex = timeExtraction(package, work.path(), dataBytes, &exCpuUsed);
        const double handCpuUsed = cpuSeconds(RUSAGE_CHILDREN) - handCpu;
        if (cp < 0 || hand < 0 || ex < 0) {
            out() << "round " << r + 1 << " failed" << Qt::endl;
            return 2;
        }
        out() << "round " << r + 1 << ": cp " << rate(cp) << " MiB/s, cp+sha256sum " << rate(hand)
              << " MiB/s (CPU " << handCpuUsed << " s), extract with digests " << rate(ex)
              << " MiB/s (CPU " << exCpuUsed << " s)" << Qt::endl;
        bestCp = std::min(bestCp, cp);
        bestHand = std::min(bestHand, hand);
        bestExtract = std::min(bestExtract, ex);
    }
    const double ratio = bestHand / bestExtract;
    const double peakMiB = peakRssKiB(RUSAGE_SELF) / 1024.0;
    out() << "best: cp " << rate(bestCp) << " MiB/s, cp+sha256sum " << rate(bestHand)
          << " MiB/s, extract with digests " << rate(bestExtract) << " MiB/s" << Qt::endl;
    out() << "ratio vs cp+sha256sum: " << QString::number(ratio, 'f', 2) << Qt::endl;
    out() << "peak RSS: " << QString::number(peakMiB, 'f', 1) << " MiB" << Qt::endl;
    const bool fast = ratio >= kRatioTarget;
    const bool small = peakMiB * 1024 < kPeakLimitKiB;
    out() << "targets: ratio >= 2.0 " << (fast ? "met" : "MISSED") << ", peak RSS < 16 MiB "
          << (small ? "met" : "MISSED") << Qt::endl;
    return fast && small ? 0 : 1;
}

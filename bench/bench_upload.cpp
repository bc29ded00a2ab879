// Upload throughput: HttpEngine::UploadFirmware of one large image to the simulated router's
// /upg endpoint over loopback, against curl posting the same file to the same endpoint.
// Usage: bench_upload [--size-mib N] [--rounds N] [--curl PATH]
// Prints each round and the medians; exits 1 when the engine reaches less than 90 % of curl's
// throughput (measured where both are measured alike: by the server, from the first request
// byte to the last body byte), 2 when the set-up fails, 3 when curl is missing.

#include "WebServer.h"
#include "http/HttpEngine.h"
#include "transfer/FileAttributes.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace std::chrono;

namespace {

double mibPerSecond(qint64 bytes, nanoseconds t) {
    return t.count() > 0 ? double(bytes) / (1024.0 * 1024.0) / duration<double>(t).count() : 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qint64 sizeMiB = 32;
    int rounds = 5;
    QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--size-mib"))
            sizeMiB = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--curl"))
            curl = args[i + 1];
    }
    if (curl.isEmpty()) {
        std::fprintf(stderr, "bench_upload: curl not found; it is the reference to compare with\n");
        return 3;
    }

    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    const qint64 size = sizeMiB << 20;
    {
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly))
            return 2;
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 done = 0; done < size; done += block.size()) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                                  block.size() / 4);
            f.write(block);
        }
    }

    // Keep nothing in memory and write nothing: the server only counts.
    routersim::WebServerConfig cfg;
    cfg.keepBody = 0;
    routersim::WebServer server(cfg);
    QString error;
    if (!server.start(QStringLiteral("127.0.0.1"), 0, &error)) {
        std::fprintf(stderr, "bench_upload: %s\n", qPrintable(error));
        return 2;
    }
    const QString url = QStringLiteral("http://127.0.0.1:%1/upg").arg(server.port());

    fw::ExtractionList files;
    files.append(dir.filePath(QStringLiteral("self.tmp")), 0, 0);
    files.append(image, fw::AttrHandPicked, 1);

    std::vector<double> engineServer, curlServer, engineWall, curlWall;
    std::printf("upload of %lld MiB over loopback, %d rounds\n", sizeMiB, rounds);
    for (int round = 0; round < rounds; ++round) {
        fw::StopCounter stop{0};
        fw::HttpEngine engine;
        const auto t0 = steady_clock::now();
        const int r = engine.UploadFirmware(stop, fw::Sinks{}, files, QStringLiteral("127.0.0.1"),
                                            server.port(), {});
        // The fixed pause before the router's answer is not transfer time.
        const auto wall = steady_clock::now() - t0 - fw::HttpEngine::ReplyPause;
        if (r != 1 || server.lastUploadBodySize() != size + 147) {
            std::fprintf(stderr, "bench_upload: engine upload failed: %s\n",
                         qPrintable(engine.resultText));
            return 2;
        }
        engineServer.push_back(mibPerSecond(size, server.lastUploadDuration()));
        engineWall.push_back(mibPerSecond(size, wall));

        QProcess p;
        const auto c0 = steady_clock::now();
        p.start(curl, {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                       QStringLiteral("-H"), QStringLiteral("Expect:"), QStringLiteral("-H"),
                       QStringLiteral("Content-Type: application/octet-stream"),
                       QStringLiteral("--data-binary"), QLatin1Char('@') + image, url});
        if (!p.waitForFinished(120000) || p.exitCode() != 0 ||
            server.lastUploadBodySize() != size) {
            std::fprintf(stderr, "bench_upload: curl failed (exit %d)\n", p.exitCode());
            return 2;
        }
        const auto cwall = steady_clock::now() - c0;
        curlServer.push_back(mibPerSecond(size, server.lastUploadDuration()));
        curlWall.push_back(mibPerSecond(size, cwall));
        std::printf("round %d: engine %.0f MiB/s (wall %.0f)  curl %.0f MiB/s (wall %.0f)\n",
                    round + 1, engineServer.back(), engineWall.back(), curlServer.back(),
                    curlWall.back());
    }
    const double e = median(engineServer);
    const double c = median(curlServer);
    std::printf("median at the server: engine %.0f MiB/s, curl %.0f MiB/s, ratio %.2f\n", e, c,
                c > 0 ? e / c : 0);
    std::printf("median wall clock:    engine %.0f MiB/s (without the 300 ms reply pause), "
                "curl %.0f MiB/s (process start included)\n",
                median(engineWall), median(curlWall));
    return e >= 0.9 * c ? 0 : 1;
}

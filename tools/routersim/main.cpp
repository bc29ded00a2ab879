// routersim: plays one or more routers for tests, the demo and benchmarks. Run it only inside a
// private network namespace; see SimConfig::usage() for the command line.

#include "Discovery.h"
#include "SimConfig.h"
#include "Transcript.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <memory>
#include <vector>

using namespace routersim;

namespace {

void say(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// The kernel answers echo requests itself unless told not to; routers with echo=no would then
// still answer.
void warnAboutKernelEcho(const SimConfig& config) {
    QFile f(QStringLiteral("/proc/sys/net/ipv4/icmp_echo_ignore_all"));
    if (!config.answerEcho || !f.open(QIODevice::ReadOnly) || f.readAll().trimmed() != "0")
        return;
    for (const RouterConfig& r : config.routers) {
        if (!r.echo) {
            say(stderr, QStringLiteral("routersim: warning: the kernel answers ICMP echo here, "
                                       "so %1 answers it although echo=no\n")
                            .arg(r.addressText()));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    const auto config = SimConfig::parse(app.arguments().mid(1), &error);
    if (!config) {
        say(stderr, QStringLiteral("routersim: ") + error + u'\n' + SimConfig::usage());
        return 2;
    }
    Transcript transcript;
    if (!config->transcriptPath.isEmpty() && !transcript.open(config->transcriptPath, &error)) {
        say(stderr, QStringLiteral("routersim: ") + error + u'\n');
        return 2;
    }
    warnAboutKernelEcho(*config);

    Discovery discovery(*config, &transcript);
    if (!discovery.start(&error)) {
        say(stderr, QStringLiteral("routersim: ") + error + u'\n');
        return 2;
    }

    // ---- Servers per router. Each server is one class reading its knobs from RouterConfig
    // (common fields and options); start it here for every router and keep it alive with the
    // others below.
    std::vector<std::unique_ptr<QObject>> servers;
    if (config->web) {
        // HOOK(web): start one web server per router here, e.g.
        //   for (const RouterConfig& r : config->routers) {
        //       auto web = std::make_unique<WebServer>(r, &transcript);
        //       if (!web->start(&error)) { report; return 2; }
        //       servers.push_back(std::move(web));
        //   }
        say(stderr, QStringLiteral("routersim: --web: no web server in this build\n"));
        return 2;
    }

    say(stdout, QStringLiteral("routersim ready\n"));
    return app.exec();
}

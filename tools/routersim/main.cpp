// routersim: plays one or more routers for tests, the demo and benchmarks. Run it only inside a
// private network namespace; see SimConfig::usage() for the command line.

#include "Discovery.h"
#include "FtpServer.h"
#include "RouterRestart.h"
#include "SimConfig.h"
#include "TftpServer.h"
#include "Transcript.h"
#include "WebServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>

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

// "FLAG ADDR:KEY=VALUE,..." (--web-options, --ftp-options, --tftp-options) gives one router's
// server its knobs; taken out of the arguments before the rest is parsed. False with *error on a
// bad value.
bool takeOptions(QStringList& args, const QString& flag, QMap<QString, QString>* options,
                 QString* error) {
    for (qsizetype i = 0; i < args.size();) {
        if (args[i] != flag) {
            ++i;
            continue;
        }
        const QString value = args.value(i + 1);
        const qsizetype colon = value.indexOf(u':');
        if (colon <= 0) {
            *error = flag + QStringLiteral(" wants ADDR:KEY=VALUE,...");
            return false;
        }
        options->insert(value.left(colon), value.mid(colon + 1));
        args.remove(i, 2);
    }
    return true;
}

// The router's FTP server port.
constexpr quint16 FtpPort = 21;

// The router's web server port (80); tests outside a namespace may not bind it.
constexpr quint16 WebPort = 80;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
        say(stdout, SimConfig::usage());
        return 0;
    }
    if (args.size() == 1 && args[0] == QLatin1String("--version")) {
        say(stdout, QStringLiteral("routersim " FW_VERSION "\n"));
        return 0;
    }
    QMap<QString, QString> webOptions;
    QMap<QString, QString> ftpOptions;
    QMap<QString, QString> tftpOptions;
    if (!takeOptions(args, QStringLiteral("--web-options"), &webOptions, &error) ||
        !takeOptions(args, QStringLiteral("--ftp-options"), &ftpOptions, &error) ||
        !takeOptions(args, QStringLiteral("--tftp-options"), &tftpOptions, &error)) {
        say(stderr, QStringLiteral("routersim: ") + error + u'\n' + SimConfig::usage());
        return 2;
    }
    const auto config = SimConfig::parse(args, &error);
    if (!config) {
        say(stderr, QStringLiteral("routersim: ") + error + u'\n' + SimConfig::usage());
        return 2;
    }
    // TFTP knobs are checked before any port is bound.
    QMap<int, TftpServerConfig> tftpConfigs;
    for (int i = 0; i < config->routers.size(); ++i) {
        const QString address = config->routers[i].addressText();
        const auto tftpConfig = TftpServerConfig::parse(tftpOptions.value(address), &error);
        if (!tftpConfig) {
            say(stderr, QStringLiteral("routersim: --tftp-options %1: %2\n").arg(address, error));
            return 2;
        }
        tftpConfigs.insert(i, *tftpConfig);
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

    // The recovery loader's TFTP server of every router that answers the TFTP probe.
    TftpServer tftp(discovery, *config, &transcript);
    for (int i = 0; i < config->routers.size(); ++i)
        tftp.setOptions(i, tftpConfigs.value(i));
    // The reboot request ends a recovery: a router with a restart knob restarts now.
    QObject::connect(&tftp, &TftpServer::rebootRequested, [&config](int router) {
        if (router >= 0 && router < config->routers.size() && config->routers[router].restart)
            config->routers[router].restart->accepted();
    });

    // ---- Servers per router. Each server is one class reading its knobs from RouterConfig
    // (common fields and options); start it here for every router and keep it alive below.
    std::vector<std::unique_ptr<WebServer>> webServers;
    if (config->web) {
        for (const RouterConfig& r : config->routers) {
            auto webConfig = WebServerConfig::parse(webOptions.value(r.addressText()), &error);
            if (!webConfig) {
                say(stderr, QStringLiteral("routersim: --web-options %1: %2\n")
                                .arg(r.addressText(), error));
                return 2;
            }
            webConfig->restart = r.restart;
            auto web = std::make_unique<WebServer>(*webConfig);
            if (!web->start(r.addressText(), WebPort, &error)) {
                say(stderr, QStringLiteral("routersim: web server on %1: %2\n")
                                .arg(r.addressText(), error));
                return 2;
            }
            webServers.push_back(std::move(web));
        }
    }

    std::vector<std::unique_ptr<FtpServer>> ftpServers;
    if (config->ftp) {
        for (const RouterConfig& r : config->routers) {
            auto ftpConfig = FtpServerConfig::parse(ftpOptions.value(r.addressText()), &error);
            if (!ftpConfig) {
                say(stderr, QStringLiteral("routersim: --ftp-options %1: %2\n")
                                .arg(r.addressText(), error));
                return 2;
            }
            ftpConfig->restart = r.restart;
            auto ftp = std::make_unique<FtpServer>(*ftpConfig);
            if (!ftp->start(r.addressText(), FtpPort, &error)) {
                say(stderr, QStringLiteral("routersim: FTP server on %1: %2\n")
                                .arg(r.addressText(), error));
                return 2;
            }
            ftpServers.push_back(std::move(ftp));
        }
    }

    say(stdout, QStringLiteral("routersim ready\n"));
    return app.exec();
}

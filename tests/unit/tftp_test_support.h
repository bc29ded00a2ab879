#pragma once
// The TFTP engine under test: files in a private directory, a main window of plain fields for
// the sinks, the stop counter, phase and file-open slot the controller would hand over, and
// helpers to build the router's datagrams. Test thread = GUI thread.

#include "Discovery.h"
#include "SimConfig.h"
#include "TftpServer.h"
#include "Transcript.h"
#include "support/EventPump.h"
#include "support/FakeMainView.h"
#include "tftp/TftpRecoveryEngine.h"
#include "tftp/TftpPacket.h"
#include "transfer/FileAttributes.h"
#include "upgrade/MainWindowLogic.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <QUdpSocket>

#include <chrono>
#include <functional>
#include <memory>

namespace fw::test {

inline QCoreApplication& tftpTestApp() {
    if (QCoreApplication* existing = QCoreApplication::instance())
        return *existing;
    static int argc = 1;
    static char name[] = "tftp_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

constexpr std::chrono::milliseconds kTftpWaitBound{10000};

// The router's side of the wire.
inline QByteArray ackPacket(quint16 block) {
    return QByteArray("\0\4", 2) + char(block >> 8) + char(block & 0xFF);
}
inline QByteArray errorPacket(quint16 code, const QByteArray& text) {
    return QByteArray("\0\5", 2) + char(code >> 8) + char(code & 0xFF) + text + '\0';
}
// Deterministic file content that differs per byte position and per seed.
inline QByteArray pattern(int size, int seed = 0) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + seed * 13 + i / 251) & 0xFF);
    return b;
}

// The simulated crashed router's loader on 127.0.0.1: its TFTP port is ephemeral, nothing else
// of the simulator is bound beyond its two other discovery ports.
struct SimLoader {
    routersim::SimConfig config;
    routersim::Transcript transcript;
    std::unique_ptr<routersim::Discovery> discovery;
    std::unique_ptr<routersim::TftpServer> server;
    quint16 port = 0;
    bool ok = false;

    explicit SimLoader(const QString& knobs = {},
                       routersim::RouterState state = routersim::RouterState::Crashed) {
        using namespace routersim;
        tftpTestApp();
        RouterConfig r;
        r.address = QHostAddress(QStringLiteral("127.0.0.1"));
        r.state = state;
        r.answers = defaultAnswers(state);
        r.romId = "ABC123";
        config.routers << r;
        config.ports = SimPorts{0, 0, 0};
        config.listenBroadcast = false;
        config.answerEcho = false;
        discovery = std::make_unique<Discovery>(config, &transcript);
        QString error;
        if (!discovery->start(&error))
            return;
        server = std::make_unique<TftpServer>(*discovery, config, &transcript);
        const auto options = TftpServerConfig::parse(knobs, &error);
        if (!options)
            return;
        server->setOptions(0, *options);
        if (QUdpSocket* s = discovery->socket(0, Discovery::Service::Tftp))
            port = s->localPort();
        ok = port != 0;
    }
    bool rebooted() const { return server && server->rebootRequests() > 0; }
};

struct TftpRig {
    QTemporaryDir temp;
    FakeMainView view;
    ExtractionList files;
    StopCounter counter{0};
    std::atomic<qint16> phase{Phase::TftpRunning};
    qint32 fileOpen = 7;

    TftpRig() {
        tftpTestApp();
        // Entry 0 is the body copy, never chosen.
        files.append(temp.filePath(QStringLiteral("body.exe")), 0, 0);
    }

    QString addFile(const QString& name, const QByteArray& bytes, quint16 attribute) {
        const QString path = temp.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        f.close();
        files.append(path, attribute, 1);
        return path;
    }

    int start(TftpRecoveryEngine& engine, const QString& router, const QString& romId = {}) {
        return engine.TftpUpgrade(counter, phase, view.sinks(), files, router, romId, 0, fileOpen);
    }

    bool pumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds bound = kTftpWaitBound) {
        return fw::test::pumpUntil(done, bound, std::chrono::milliseconds(1));
    }
};

} // namespace fw::test

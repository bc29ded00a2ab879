// The TFTP recovery engine over its own UDP endpoint against the simulated router's recovery
// loader in-process on 127.0.0.1 (ephemeral ports): files arrive byte-exact, the reboot request
// ends the run, and the loader's knobs (error packets, stalls, wrong and repeated block numbers,
// answers from a port of its own) give the stop codes and phases the controller watches.

#include "Discovery.h"
#include "SimConfig.h"
#include "TftpServer.h"
#include "Transcript.h"
#include "process/WaitMs.h"
#include "tftp_test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>

#include <memory>

using namespace fw;
using namespace fw::test;
using namespace routersim;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");
const QByteArray kReboot("\x00\x01\x52\x21\x00\x6F\x63\x74\x65\x74\x00", 11);

struct SimRig : TftpRig {
    SimLoader loader;
    Transcript& transcript = loader.transcript;
    TftpServer* server = nullptr;
    std::unique_ptr<TftpRecoveryEngine> engine;
    quint16 tftpPort = 0;
    QList<std::chrono::milliseconds> waits;

    explicit SimRig(const QString& knobs = {}) : loader(knobs) {
        EXPECT_TRUE(loader.ok);
        server = loader.server.get();
        tftpPort = loader.port;
        engine = std::make_unique<TftpRecoveryEngine>(tftpPort);
        // The end path's waits are recorded and cut short; the loop keeps turning.
        engine->setWaitFunction([this](std::chrono::milliseconds ms) {
            waits.append(ms);
            WaitMs(20, true);
        });
    }
    int start() { return TftpRig::start(*engine, kLoopback, QStringLiteral("ABC123")); }
    bool ended() const {
        const auto c = counter.load();
        return c == StopCode::TftpFinished || c == StopCode::TftpRejected;
    }
    // Datagrams the engine sent to the loader, as the loader's transcript holds them.
    QList<QByteArray> received() const {
        QList<QByteArray> out;
        const QString from = kLoopback + u':' + QString::number(engine->localPort());
        for (const Transcript::Entry& e : transcript.entries())
            if (e.from == from)
                out.append(e.bytes);
        return out;
    }
    QStringList receivedOn() const {
        QStringList out;
        const QString from = kLoopback + u':' + QString::number(engine->localPort());
        for (const Transcript::Entry& e : transcript.entries())
            if (e.from == from)
                out.append(e.to);
        return out;
    }
};

QByteArray writeRequest(const QByteArray& name) {
    return QByteArray("\0\2", 2) + name + QByteArray("\0octet\0", 7);
}

} // namespace

TEST(TftpLoopback, FilesArriveByteExactThenTheRebootRequest) {
    QTemporaryDir store;
    SimRig rig(QStringLiteral("dir=") + store.path());
    const quint16 specific = AttrUpgradeFile | AttrTftpCheck | AttrRomIdCheck | 0x10;
    const quint16 plain = AttrUpgradeFile | AttrTftpCheck | AttrDefault | 0x20;
    const QByteArray a = pattern(1300, 1);
    const QByteArray b = pattern(1024, 2);
    const QByteArray c = pattern(200, 3);
    rig.addFile(QStringLiteral("ABC123_code.bin.tmp"), a, specific);
    rig.addFile(QStringLiteral("boot.bin"), b, plain);
    rig.addFile(QStringLiteral("empty.bin"), QByteArray(), plain);
    rig.addFile(QStringLiteral("tail.bin"), c, plain);
    QSignalSpy closed(rig.engine.get(), &TftpRecoveryEngine::closed);

    ASSERT_NE(rig.engine->localPort(), 0);
    ASSERT_EQ(rig.start(), 1);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.ended(); }));

    EXPECT_EQ(rig.counter.load(), StopCode::TftpFinished);
    EXPECT_EQ(rig.phase.load(), Phase::TftpSucceeded);
    EXPECT_EQ(rig.fileOpen, 0);
    EXPECT_EQ(closed.size(), 1);
    EXPECT_EQ(rig.engine->sentSections(), QStringLiteral("AB"));
    EXPECT_EQ(rig.waits, (QList<std::chrono::milliseconds>{std::chrono::milliseconds(2000),
                                                           std::chrono::milliseconds(5000)}));

    const auto files = rig.server->completedFiles();
    EXPECT_EQ(files.size(), 4);
    EXPECT_EQ(files.value("ABC123_code.bin.tmp"), a);
    EXPECT_EQ(files.value("boot.bin"), b);
    EXPECT_TRUE(files.contains("empty.bin"));
    EXPECT_TRUE(files.value("empty.bin").isEmpty());
    EXPECT_EQ(files.value("tail.bin"), c);
    for (const auto& [name, bytes] : {std::pair{"ABC123_code.bin.tmp", a}, std::pair{"boot.bin", b},
                                      std::pair{"tail.bin", c}}) {
        QFile f(QDir(store.path()).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(f.readAll(), bytes) << name;
    }
    EXPECT_EQ(rig.server->rebootRequests(), 1);

    // On the wire: every datagram to the loader's TFTP port, lock-step, and "R!" last.
    const QList<QByteArray> wire = rig.received();
    ASSERT_FALSE(wire.isEmpty());
    EXPECT_EQ(wire.first(), writeRequest("ABC123_code.bin.tmp"));
    EXPECT_EQ(wire.last(), kReboot);
    // 4 write requests, 3 + 3 + 1 + 1 data blocks, the reboot request.
    EXPECT_EQ(wire.size(), 4 + 8 + 1);
    EXPECT_EQ(rig.engine->datagramsSent(), 13);
    const QString port = kLoopback + u':' + QString::number(rig.tftpPort);
    for (const QString& to : rig.receivedOn())
        EXPECT_EQ(to, port);
    EXPECT_EQ(rig.view.log.filter(QStringLiteral("Recv : ")).size(), 4 + 8);
    EXPECT_TRUE(rig.view.log.contains(QStringLiteral("Total upgrade file count in TFTP mode: 4")));
    EXPECT_EQ(rig.view.status(), QStringLiteral("Recover success"));
}

TEST(TftpLoopback, LoaderAnsweringFromAPortOfItsOwn) {
    SimRig rig(QStringLiteral("tid=own"));
    const QByteArray a = pattern(2000, 4);
    rig.addFile(QStringLiteral("fw.bin"), a, AttrHandPicked);
    ASSERT_EQ(rig.start(), 1);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.ended(); }));
    EXPECT_EQ(rig.counter.load(), StopCode::TftpFinished);
    EXPECT_EQ(rig.server->completedFiles().value("fw.bin"), a);
    // The answers came from another port; the blocks still went to the TFTP port.
    ASSERT_FALSE(rig.server->replies().isEmpty());
    for (const TftpServer::Reply& r : rig.server->replies())
        EXPECT_NE(r.fromPort, rig.tftpPort);
    const QString port = kLoopback + u':' + QString::number(rig.tftpPort);
    for (const QString& to : rig.receivedOn())
        EXPECT_EQ(to, port);
}

TEST(TftpLoopback, ErrorPacketsRejectTheRecovery) {
    for (const QString& knobs : {QStringLiteral("errorwrq=1"), QStringLiteral("errorwrq=2"),
                                 QStringLiteral("errorblock=2,errorcode=3")}) {
        SCOPED_TRACE(knobs.toStdString());
        SimRig rig(knobs);
        rig.addFile(QStringLiteral("one.bin"), pattern(1500, 5), AttrHandPicked);
        rig.addFile(QStringLiteral("two.bin"), pattern(1500, 6), AttrHandPicked);
        ASSERT_EQ(rig.start(), 1);
        ASSERT_TRUE(rig.pumpUntil([&] { return rig.ended(); }));
        EXPECT_EQ(rig.counter.load(), StopCode::TftpRejected);
        EXPECT_EQ(rig.phase.load(), Phase::TftpFailed);
        EXPECT_EQ(rig.fileOpen, 0);
        EXPECT_EQ(rig.view.progressPosition, 0);
        EXPECT_EQ(rig.view.log.last(), QStringLiteral("Recover process not be accept for router."));
        EXPECT_EQ(rig.server->rebootRequests(), 0);
        EXPECT_FALSE(rig.received().contains(kReboot));
    }
}

TEST(TftpLoopback, SilentOrConfusedLoaderLeavesTheEndToTheWatchdog) {
    // A loader that falls silent leaves the engine waiting (its copies of the last packet are not
    // progress) with the stop counter untouched for the controller to count.
    for (const QString& knobs : {QStringLiteral("stall=0"), QStringLiteral("stall=2")}) {
        SCOPED_TRACE(knobs.toStdString());
        SimRig rig(knobs);
        rig.addFile(QStringLiteral("fw.bin"), pattern(3000, 7), AttrHandPicked);
        rig.counter = 3;
        ASSERT_EQ(rig.start(), 1);
        rig.pumpUntil([] { return false; }, std::chrono::milliseconds(1200));
        const int sent = rig.engine->datagramsSent();
        rig.pumpUntil([] { return false; }, std::chrono::milliseconds(600));
        EXPECT_EQ(rig.engine->datagramsSent(), sent);
        EXPECT_TRUE(rig.engine->running());
        EXPECT_TRUE(rig.engine->timerActive());
        EXPECT_EQ(rig.counter.load(), 3);
        EXPECT_EQ(rig.phase.load(), Phase::TftpRunning);
        EXPECT_FALSE(rig.server->completedFiles().contains("fw.bin"));
    }
    // An acknowledgement with a wrong block number is outwaited: block 1 goes out again, the
    // loader acknowledges the copy, and the file completes.
    SimRig rig(QStringLiteral("wrongblock=1"));
    const QByteArray content = pattern(3000, 7);
    rig.addFile(QStringLiteral("fw.bin"), content, AttrHandPicked);
    ASSERT_EQ(rig.start(), 1);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.server->completedFiles().contains("fw.bin"); }));
    EXPECT_EQ(rig.server->completedFiles().value("fw.bin"), content);
    EXPECT_EQ(rig.view.log.filter(QStringLiteral("Resend ")),
              QStringList{QStringLiteral("Resend block 1 (1 of 5)")});
}

TEST(TftpLoopback, RepeatedAcknowledgementsAndAnAnsweredRebootStillSucceed) {
    SimRig rig(QStringLiteral("dupack=1,reboot=error"));
    const QByteArray a = pattern(300, 8); // block 1 is the last block
    const QByteArray b = pattern(900, 9); // block 1 is a full block
    rig.addFile(QStringLiteral("a.bin"), a, AttrHandPicked);
    rig.addFile(QStringLiteral("b.bin"), b, AttrHandPicked);
    ASSERT_EQ(rig.start(), 1);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.ended(); }));
    EXPECT_EQ(rig.counter.load(), StopCode::TftpFinished);
    EXPECT_EQ(rig.phase.load(), Phase::TftpSucceeded);
    EXPECT_EQ(rig.server->completedFiles().value("a.bin"), a);
    EXPECT_EQ(rig.server->completedFiles().value("b.bin"), b);
    // Nothing was sent twice.
    EXPECT_EQ(rig.received().size(), 2 + 1 + 2 + 1);
}

TEST(TftpLoopback, OnlyTheRoutersAnswersCount) {
    SimRig rig(QStringLiteral("stall=0"));
    const QByteArray a = pattern(700, 10);
    rig.addFile(QStringLiteral("fw.bin"), a, AttrHandPicked);
    ASSERT_EQ(rig.start(), 1);
    const quint16 enginePort = rig.engine->localPort();

    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    QUdpSocket router;
    ASSERT_TRUE(router.bind(QHostAddress(kLoopback), 0));
    const QHostAddress to(kLoopback);
    stranger.writeDatagram(ackPacket(0), to, enginePort);
    router.writeDatagram(QByteArray("\0\4", 2), to, enginePort);
    router.writeDatagram(ackPacket(0) + QByteArray(3000, 'x'), to, enginePort);
    router.writeDatagram(QByteArray(), to, enginePort);
    rig.pumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(rig.engine->datagramsSent(), 1);
    EXPECT_EQ(rig.view.log.filter(QStringLiteral("Recv : ")).size(), 0);

    // The router's acknowledgement from its own address goes through the endpoint.
    router.writeDatagram(ackPacket(0), to, enginePort);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.engine->datagramsSent() == 2; }));
    EXPECT_TRUE(rig.view.log.contains(QStringLiteral("Recv : 0")));
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.received().size() == 2; }));
    EXPECT_EQ(rig.received().last(),
              QByteArray("\0\3\0\1", 4) + a.left(512)); // data 1 to the loader's port
}

TEST(TftpLoopback, TheLoaderStillAnswersTheSearch) {
    SimRig rig;
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress(kLoopback), 0));
    probe.writeDatagram(QByteArray("\0\1VN\0octet\0", 11), QHostAddress(kLoopback), rig.tftpPort);
    ASSERT_TRUE(rig.pumpUntil([&] { return probe.hasPendingDatagrams(); }));
    const QNetworkDatagram d = probe.receiveDatagram();
    EXPECT_TRUE(d.data().startsWith(QByteArray("\0\3\0\1$KestroABC123", 17)));
    EXPECT_EQ(rig.server->writeRequests(), 0);
    EXPECT_EQ(rig.server->datagramsSent(), 0);

    // Then a recovery on the same port.
    rig.addFile(QStringLiteral("fw.bin"), pattern(513, 11), AttrHandPicked);
    ASSERT_EQ(rig.start(), 1);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.ended(); }));
    EXPECT_EQ(rig.counter.load(), StopCode::TftpFinished);
    EXPECT_EQ(rig.server->completedFiles().value("fw.bin"), pattern(513, 11));
}

// The simulated recovery loader's TFTP server on its own, driven by a plain UDP socket on
// 127.0.0.1: its knobs, how it answers malformed or unexpected datagrams, what it keeps, and the
// simulator's command line for it.

#include "Discovery.h"
#include "SimConfig.h"
#include "TftpServer.h"
#include "Transcript.h"
#include "tftp_test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>

#include <memory>

using namespace routersim;
using fw::test::ackPacket;
using fw::test::pattern;

namespace {

const QHostAddress kLoopback(QStringLiteral("127.0.0.1"));

QByteArray request(quint16 opcode, const QByteArray& name) {
    return QByteArray(1, '\0') + char(opcode) + name + '\0' + "octet" + '\0';
}
QByteArray data(quint16 block, const QByteArray& payload) {
    return QByteArray("\0\3", 2) + char(block >> 8) + char(block & 0xFF) + payload;
}

// A loader in-process and a client socket that talks to it.
struct Loader : fw::test::SimLoader {
    Transcript& transcript = SimLoader::transcript;
    TftpServer* server = nullptr;
    QUdpSocket client;

    explicit Loader(const QString& knobs = {}, RouterState state = RouterState::Crashed)
        : SimLoader(knobs, state) {
        EXPECT_TRUE(ok);
        server = SimLoader::server.get();
        EXPECT_TRUE(client.bind(kLoopback, 0));
    }

    // Sends one datagram; the loader's answers within `wait` (none when it stays silent).
    QList<QByteArray> exchange(const QByteArray& d,
                               std::chrono::milliseconds wait = std::chrono::milliseconds(150)) {
        client.writeDatagram(d, kLoopback, port);
        QList<QByteArray> answers;
        QDeadlineTimer deadline(wait);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            while (client.hasPendingDatagrams())
                answers.append(client.receiveDatagram().data());
            QThread::msleep(1);
        }
        return answers;
    }
};

QByteArray errorCode(const QByteArray& d) {
    return d.left(4);
}

} // namespace

TEST(TftpSimOptions, EveryKnobAndItsMistakes) {
    QString error;
    const auto c = TftpServerConfig::parse(
        QStringLiteral("dir=/tmp/x,errorwrq=2,errorblock=3,errorcode=3,errortext=No room,"
                       "stall=4,wrongblock=5,dupack=6,tid=own,reboot=error,maxfile=1000"),
        &error);
    ASSERT_TRUE(c.has_value()) << error.toStdString();
    EXPECT_EQ(c->dir, QStringLiteral("/tmp/x"));
    EXPECT_EQ(c->errorWrq, 2);
    EXPECT_EQ(c->errorBlock, 3);
    EXPECT_EQ(c->errorCode, 3);
    EXPECT_EQ(c->errorText, QByteArray("No room"));
    EXPECT_EQ(c->stall, 4);
    EXPECT_EQ(c->wrongBlock, 5);
    EXPECT_EQ(c->dupAck, 6);
    EXPECT_TRUE(c->ownPort);
    EXPECT_TRUE(c->rebootError);
    EXPECT_EQ(c->maxFile, 1000);

    const auto d = TftpServerConfig::parse(QString());
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->stall, -1);
    EXPECT_FALSE(d->ownPort);

    EXPECT_FALSE(TftpServerConfig::parse(QStringLiteral("colour=red"), &error));
    EXPECT_EQ(error, QStringLiteral("unknown TFTP option 'colour'"));
    EXPECT_FALSE(TftpServerConfig::parse(QStringLiteral("stall=x"), &error));
    EXPECT_EQ(error, QStringLiteral("bad value for stall: 'x'"));
    EXPECT_FALSE(TftpServerConfig::parse(QStringLiteral("errorblock=70000")));
    EXPECT_FALSE(TftpServerConfig::parse(QStringLiteral("tid=other")));
    EXPECT_FALSE(TftpServerConfig::parse(QStringLiteral("reboot=loud")));
    EXPECT_FALSE(TftpServerConfig::parse(QStringLiteral("dir=")));
    EXPECT_FALSE(TftpServerConfig::parse(QStringLiteral("dropcopies=0")));
    EXPECT_FALSE(TftpServerConfig::parse(QStringLiteral("droplast=maybe")));

    EXPECT_TRUE(SimConfig::usage().contains(QStringLiteral("[--tftp-options ADDR:KNOBS]...")));
}

TEST(TftpSimOptions, CommandLineRejectsBadKnobsBeforeBindingAnything) {
    const QByteArray buildDir = qgetenv("FW_BUILD_DIR");
    if (buildDir.isEmpty())
        GTEST_SKIP() << "FW_BUILD_DIR is not set (run through ctest)";
    fw::test::tftpTestApp();
    const QString tool = QFile::decodeName(buildDir) + QStringLiteral("/tools/routersim/routersim");
    ASSERT_TRUE(QFileInfo(tool).isExecutable()) << tool.toStdString();
    struct Case {
        QStringList args;
        QString message;
    };
    const Case cases[] = {
        {{QStringLiteral("--router"), QStringLiteral("127.0.0.1"), QStringLiteral("--tftp-options"),
          QStringLiteral("127.0.0.1:stall=never")},
         QStringLiteral("routersim: --tftp-options 127.0.0.1: bad value for stall: 'never'\n")},
        {{QStringLiteral("--router"), QStringLiteral("127.0.0.1"), QStringLiteral("--tftp-options"),
          QStringLiteral("stall=1")},
         QStringLiteral("routersim: --tftp-options wants ADDR:KEY=VALUE,...\n")},
    };
    for (const Case& c : cases) {
        QProcess p;
        p.start(tool, c.args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 2);
        EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).startsWith(c.message));
    }
}

TEST(TftpSimServer, ReceivesBlocksRepeatsAndRefusesWhatItCannotTake) {
    QTemporaryDir store;
    Loader l(QStringLiteral("maxfile=600,dir=") + store.path());
    // A request without its terminators, an unknown opcode, data without a transfer.
    EXPECT_EQ(errorCode(l.exchange(QByteArray("\0\2name", 6)).value(0)), QByteArray("\0\5\0\4", 4));
    EXPECT_EQ(errorCode(l.exchange(QByteArray("\0\7\0\0", 4)).value(0)), QByteArray("\0\5\0\4", 4));
    EXPECT_EQ(errorCode(l.exchange(data(1, "x")).value(0)), QByteArray("\0\5\0\5", 4));
    EXPECT_EQ(errorCode(l.exchange(request(1, "other.bin")).value(0)), QByteArray("\0\5\0\1", 4));
    EXPECT_TRUE(l.exchange(QByteArray("\0", 1)).isEmpty());

    // A name with a path is stored under its last part only.
    EXPECT_EQ(l.exchange(request(2, "../../evil.bin")), QList<QByteArray>{ackPacket(0)});
    const QByteArray block1 = pattern(512, 1);
    EXPECT_EQ(l.exchange(data(1, block1)), QList<QByteArray>{ackPacket(1)});
    // The same block again is acknowledged again and not kept twice; a block from the future is
    // not answered.
    EXPECT_EQ(l.exchange(data(1, block1)), QList<QByteArray>{ackPacket(1)});
    EXPECT_TRUE(l.exchange(data(5, "zz")).isEmpty());
    EXPECT_EQ(l.exchange(data(2, "end")), QList<QByteArray>{ackPacket(2)});
    EXPECT_EQ(l.server->completedFiles().value("../../evil.bin"), block1 + "end");
    QFile stored(QDir(store.path()).filePath(QStringLiteral("evil.bin")));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), block1 + "end");
    EXPECT_FALSE(QFileInfo::exists(QDir(store.path()).filePath(QStringLiteral("../../evil.bin"))));

    // Too big for the loader, and a block longer than 512 bytes.
    EXPECT_EQ(l.exchange(request(2, "big.bin")), QList<QByteArray>{ackPacket(0)});
    EXPECT_EQ(l.exchange(data(1, pattern(512))), QList<QByteArray>{ackPacket(1)});
    EXPECT_EQ(errorCode(l.exchange(data(2, pattern(512))).value(0)), QByteArray("\0\5\0\3", 4));
    EXPECT_EQ(l.exchange(request(2, "long.bin")), QList<QByteArray>{ackPacket(0)});
    EXPECT_EQ(errorCode(l.exchange(data(1, pattern(513))).value(0)), QByteArray("\0\5\0\4", 4));
    EXPECT_FALSE(l.server->completedFiles().contains("big.bin"));
    EXPECT_FALSE(l.server->completedFiles().contains("long.bin"));

    // "R!" is the order to reboot: counted, not answered.
    EXPECT_TRUE(l.exchange(request(1, "R!")).isEmpty());
    EXPECT_EQ(l.server->rebootRequests(), 1);
    // The transcript holds every datagram the loader received.
    const auto entries = l.transcript.entries();
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_EQ(entries.last().bytes, request(1, "R!"));
    EXPECT_EQ(entries.last().to, QStringLiteral("127.0.0.1:") + QString::number(l.port));
}

TEST(TftpSimServer, KnobsForRefusalStallAndWrongNumbers) {
    {
        Loader l(QStringLiteral("errorwrq=1,errorcode=2,errortext=Access violation"));
        EXPECT_EQ(l.exchange(request(2, "a.bin")),
                  QList<QByteArray>{QByteArray("\0\5\0\2Access violation\0", 21)});
        EXPECT_EQ(l.exchange(request(2, "a.bin")), QList<QByteArray>{ackPacket(0)});
    }
    {
        Loader l(QStringLiteral("stall=2"));
        EXPECT_EQ(l.exchange(request(2, "a.bin")), QList<QByteArray>{ackPacket(0)});
        EXPECT_EQ(l.exchange(data(1, pattern(512))), QList<QByteArray>{ackPacket(1)});
        EXPECT_TRUE(l.exchange(data(2, pattern(512))).isEmpty());
        EXPECT_TRUE(l.exchange(data(2, pattern(512))).isEmpty());
        EXPECT_TRUE(l.exchange(request(2, "b.bin")).isEmpty());
    }
    {
        Loader l(QStringLiteral("wrongblock=1,dupack=2"));
        EXPECT_EQ(l.exchange(request(2, "a.bin")), QList<QByteArray>{ackPacket(0)});
        EXPECT_EQ(l.exchange(data(1, pattern(512))), QList<QByteArray>{ackPacket(2)});
        EXPECT_EQ(l.exchange(data(2, "x")), (QList<QByteArray>{ackPacket(2), ackPacket(2)}));
    }
    {
        // Lost on the way in: the second write request, two copies of block 2, the last block.
        Loader l(QStringLiteral("dropwrq=2,dropblock=2,droplast=yes,dropcopies=2"));
        EXPECT_EQ(l.exchange(request(2, "a.bin")), QList<QByteArray>{ackPacket(0)});
        EXPECT_EQ(l.exchange(data(1, pattern(512))), QList<QByteArray>{ackPacket(1)});
        EXPECT_TRUE(l.exchange(data(2, pattern(512))).isEmpty());
        EXPECT_TRUE(l.exchange(data(2, pattern(512))).isEmpty());
        EXPECT_EQ(l.exchange(data(2, pattern(512))), QList<QByteArray>{ackPacket(2)});
        EXPECT_TRUE(l.exchange(data(3, "end")).isEmpty());
        EXPECT_TRUE(l.exchange(data(3, "end")).isEmpty());
        EXPECT_EQ(l.exchange(data(3, "end")), QList<QByteArray>{ackPacket(3)});
        EXPECT_TRUE(l.exchange(request(2, "b.bin")).isEmpty());
        EXPECT_TRUE(l.exchange(request(2, "b.bin")).isEmpty());
        EXPECT_EQ(l.exchange(request(2, "b.bin")), QList<QByteArray>{ackPacket(0)});
        EXPECT_EQ(l.server->writeRequests(), 2);
        EXPECT_EQ(l.server->dropped(), 6);
    }
    {
        Loader l(QStringLiteral("dropblock=1,dropcopies=all"));
        EXPECT_EQ(l.exchange(request(2, "a.bin")), QList<QByteArray>{ackPacket(0)});
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(l.exchange(data(1, "x")).isEmpty());
    }
    {
        // A router that is not crashed has no loader to answer.
        Loader l(QString(), RouterState::Normal);
        EXPECT_TRUE(l.exchange(request(2, "a.bin")).isEmpty());
    }
}

TEST(TftpSimServer, KeepsABoundedNumberOfFiles) {
    Loader l;
    const int requests = TftpServer::MaxFilesKept + 20;
    QDeadlineTimer deadline(fw::test::kTftpWaitBound);
    for (int i = 0; i < requests; ++i) {
        l.client.writeDatagram(request(2, "f" + QByteArray::number(i)), kLoopback, l.port);
        // One at a time, so no socket buffer overflows.
        while (l.server->writeRequests() <= i && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        while (l.client.hasPendingDatagrams())
            l.client.receiveDatagram();
    }
    ASSERT_EQ(l.server->writeRequests(), requests);
    // The newest transfer still takes its block although older files were dropped meanwhile.
    const auto acks = l.exchange(data(1, "last"), std::chrono::milliseconds(300));
    EXPECT_EQ(acks.value(acks.size() - 1), ackPacket(1));
    EXPECT_EQ(l.server->files().size(), TftpServer::MaxFilesKept);
    EXPECT_EQ(l.server->completedFiles().value("f" + QByteArray::number(requests - 1)),
              QByteArray("last"));
}

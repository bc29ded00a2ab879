// The TFTP recovery engine's packet logic, fed datagrams by hand: the exact bytes of every
// request and data block, block sizes at the edges, the file choice, error packets, the end and
// failure paths with their stop codes and phases, and everything from the wire it must ignore.

#include "tftp_test_support.h"

#include <gtest/gtest.h>

#include <QList>

using namespace fw;
using namespace fw::test;

namespace {

const QString kRouter = QStringLiteral("192.168.123.254");
constexpr quint16 kPort = 69;
const QByteArray kReboot("\x00\x01\x52\x21\x00\x6F\x63\x74\x65\x74\x00", 11);

struct Sent {
    QByteArray bytes;
    QString host;
    quint16 port = 0;
};

// An engine whose datagrams are recorded instead of sent and whose end-path waits are recorded
// instead of waited.
struct Bench : TftpRig {
    QList<Sent> sent;
    QList<std::chrono::milliseconds> waits;
    TftpRecoveryEngine engine{[this](const QByteArray& d, const QString& h, quint16 p) {
        sent.append(Sent{d, h, p});
        return true;
    }};
    int closedCount = 0;

    Bench() {
        engine.setWaitFunction([this](std::chrono::milliseconds ms) { waits.append(ms); });
        QObject::connect(&engine, &TftpRecoveryEngine::closed, [this] { ++closedCount; });
    }
    int start(const QString& romId = {}) { return TftpRig::start(engine, kRouter, romId); }
    void feed(const QByteArray& d, const QString& from = kRouter, quint16 port = kPort) {
        engine.UdpEndpoint1DataReceived(d, from, port);
    }
    QByteArray last() const { return sent.isEmpty() ? QByteArray() : sent.last().bytes; }
    // Acknowledges whatever went out last until nothing new goes out; the data payloads sent.
    QList<QByteArray> runFile(quint16 firstAck = 0) {
        QList<QByteArray> blocks;
        quint16 ack = firstAck;
        for (int guard = 0; guard < 100000; ++guard) {
            const qsizetype before = sent.size();
            feed(ackPacket(ack));
            if (sent.size() == before)
                break;
            const QByteArray d = last();
            if (d.size() < 4 || d[1] != 3)
                break; // the next file's write request
            blocks.append(d.mid(4));
            ack = quint16((quint8(d[2]) << 8) | quint8(d[3]));
        }
        return blocks;
    }
};

QByteArray writeRequest(const QByteArray& name) {
    return QByteArray("\0\2", 2) + name + QByteArray("\0octet\0", 7);
}
QByteArray dataPacket(quint16 block, const QByteArray& payload) {
    return QByteArray("\0\3", 2) + char(block >> 8) + char(block & 0xFF) + payload;
}

} // namespace

TEST(TftpEngine, OneFileExactBytesLogStatusesAndTheEnd) {
    Bench b;
    const QByteArray content = pattern(1300);
    const QString path = b.addFile(QStringLiteral("code.bin.tmp"), content, AttrHandPicked);
    b.counter = 5;

    ASSERT_EQ(b.start(), 1);
    EXPECT_EQ(b.counter.load(), 5); // only a later file resets it
    EXPECT_EQ(b.fileOpen, 1);
    EXPECT_TRUE(b.engine.timerActive());
    EXPECT_EQ(b.view.progressMaximum, 1300);
    ASSERT_EQ(b.sent.size(), 1);
    EXPECT_EQ(b.sent[0].bytes, writeRequest("code.bin.tmp"));
    EXPECT_EQ(b.sent[0].bytes.size(), 9 + 12);
    EXPECT_EQ(b.sent[0].host, kRouter);
    EXPECT_EQ(b.sent[0].port, 69);

    b.feed(ackPacket(0));
    EXPECT_EQ(b.last(), dataPacket(1, content.left(512)));
    EXPECT_EQ(b.last().size(), 516);
    b.feed(ackPacket(1));
    EXPECT_EQ(b.last(), dataPacket(2, content.mid(512, 512)));
    b.feed(ackPacket(2));
    EXPECT_EQ(b.last(), dataPacket(3, content.mid(1024)));
    EXPECT_EQ(b.last().size(), 4 + 276);
    b.feed(ackPacket(3));
    EXPECT_EQ(b.sent.size(), 4);
    EXPECT_EQ(b.engine.transferState(), TftpRecoveryEngine::AllSent);
    EXPECT_EQ(b.phase.load(), Phase::TftpRunning);

    b.engine.TFTPTimerTimer();
    ASSERT_EQ(b.sent.size(), 5);
    EXPECT_EQ(b.sent[4].bytes, kReboot);
    EXPECT_EQ(b.sent[4].port, 69);
    EXPECT_EQ(b.counter.load(), StopCode::TftpFinished);
    EXPECT_EQ(b.phase.load(), Phase::TftpSucceeded);
    EXPECT_EQ(b.fileOpen, 0);
    EXPECT_FALSE(b.engine.timerActive());
    EXPECT_EQ(b.engine.transferState(), 0);
    EXPECT_EQ(b.closedCount, 1);
    EXPECT_EQ(b.waits, (QList<std::chrono::milliseconds>{std::chrono::milliseconds(2000),
                                                         std::chrono::milliseconds(5000)}));
    EXPECT_EQ(b.engine.filesStarted(), 1);
    EXPECT_EQ(b.engine.datagramsSent(), 5);
    EXPECT_EQ(b.view.progressPosition, 1300);

    const QString P = path;
    EXPECT_EQ(b.view.log,
              (QStringList{
                  QStringLiteral("Upgrade File Length : 1300"),
                  QStringLiteral("File Attribute : 0"),
                  QStringLiteral("File Attribute : 2061"),
                  QStringLiteral("Put Upgrade File without IDCheck >>") + P,
                  QStringLiteral("Send file: ") + P + QStringLiteral(" to 192.168.123.254"),
                  QStringLiteral("code.bin.tmp"),
                  QStringLiteral("Open File : ") + P,
                  QStringLiteral("Size: 1300 Bytes"),
                  QStringLiteral("Segment: 2"),
                  QStringLiteral("mod: 276"),
                  QStringLiteral("Sent 0 .."),
                  QStringLiteral("Begin to Send ") + P + QStringLiteral(" to   192.168.123.254"),
                  QStringLiteral("Recv : 0"),
                  QStringLiteral("Sent 1 .."),
                  QStringLiteral("Recv : 1"),
                  QStringLiteral("Sent 2 .."),
                  QStringLiteral("Recv : 2"),
                  QStringLiteral("Sent 3 .."),
                  QStringLiteral("Recv : 3"),
                  QStringLiteral(" Recover Success"),
                  QStringLiteral("Sent 4 .."),
                  QStringLiteral("Total upgrade file count in TFTP mode: 1"),
              }));
    const QString beginning =
        QStringLiteral("Beginning Upgrade. Do Not Exit Until Upgrade Complete !");
    EXPECT_EQ(b.view.statuses,
              (QStringList{
                  QStringLiteral("Upgrade Not Complete Please Wait to Continue..."),
                  QStringLiteral("Initial Upgrade Information..."), beginning, beginning, beginning,
                  beginning, QStringLiteral("Success Upgrade and Wait to Reboot"), beginning,
                  QStringLiteral("Rebooting Router..."), QStringLiteral("Recover success")}));
}

TEST(TftpEngine, BlockSizesAtTheEdges) {
    struct Case {
        int size;
        QList<int> blockSizes;
    };
    const Case cases[] = {
        {0, {0}},
        {1, {1}},
        {511, {511}},
        {512, {512, 0}},
        {1024, {512, 512, 0}},
        {1025, {512, 512, 1}},
        {512 * 5 + 300, {512, 512, 512, 512, 512, 300}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Bench b;
        const QByteArray content = pattern(c.size, c.size);
        b.addFile(QStringLiteral("fw.bin"), content, AttrHandPicked);
        ASSERT_EQ(b.start(), 1);
        const QList<QByteArray> blocks = b.runFile();
        QList<int> sizes;
        QByteArray joined;
        for (const QByteArray& d : blocks) {
            sizes.append(int(d.size()));
            joined += d;
        }
        EXPECT_EQ(sizes, c.blockSizes);
        EXPECT_EQ(joined, content);
        // Block numbers run 1 .. full blocks + 1.
        EXPECT_EQ(b.sent.size(), 1 + c.blockSizes.size());
        EXPECT_EQ(b.engine.transferState(), TftpRecoveryEngine::AllSent);
        // The bar counts file bytes: no request, no empty last block.
        EXPECT_EQ(b.view.progressMaximum, c.size);
        EXPECT_EQ(b.view.progressPosition, c.size);
    }
}

TEST(TftpEngine, FileChoiceByAttributeAndRomIdentifierThenNextFiles) {
    Bench b;
    const quint16 specific = AttrUpgradeFile | AttrTftpCheck | AttrRomIdCheck | 0x10; // A
    const quint16 dflt = AttrUpgradeFile | AttrTftpCheck | AttrDefault | AttrRomIdCheck | 0x20;
    const quint16 plain = AttrUpgradeFile | AttrTftpCheck | AttrDefault | 0x30; // C
    const quint16 httpOnly = AttrUpgradeFile | AttrNormalCheck | AttrDefault | 0x40;
    const quint16 unknown = AttrUpgradeFile | AttrTftpCheck | 0x50;
    const QString other = b.addFile(QStringLiteral("XYZ_fw.bin"), pattern(10), specific);
    const QString mine = b.addFile(QStringLiteral("ABC123_fw.bin"), pattern(600, 1), specific);
    const QString skipped = b.addFile(QStringLiteral("default.bin"), pattern(20), dflt);
    const QString normal = b.addFile(QStringLiteral("normal.bin"), pattern(30), httpOnly);
    const QString odd = b.addFile(QStringLiteral("odd.bin"), pattern(40), unknown);
    const QString boot = b.addFile(QStringLiteral("boot.bin"), pattern(100, 2), plain);

    ASSERT_EQ(b.start(QStringLiteral("abc123")), 1);
    EXPECT_EQ(b.view.progressMaximum, 600 + 100);
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("Upgrade File Length : 700")));
    EXPECT_TRUE(b.view.log.contains(
        QStringLiteral("Module name different. Ignore Upgrade File >>") + other));
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("Put Upgrade File >>") + mine));
    EXPECT_EQ(b.sent.last().bytes, writeRequest("ABC123_fw.bin"));

    b.counter = 9;
    const QList<QByteArray> first = b.runFile();
    EXPECT_EQ(first.size(), 2);
    // The next file started: the watchdog count starts over.
    EXPECT_EQ(b.counter.load(), 0);
    EXPECT_EQ(b.sent.last().bytes, writeRequest("boot.bin"));
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("Default Upgrade File Ignore >>") + skipped));
    EXPECT_TRUE(b.view.log.contains(
        QStringLiteral("Ignore Upgrade File for TFTP check disable >>") + normal));
    EXPECT_TRUE(
        b.view.log.contains(QStringLiteral("Unkown Attribute. Ignore Upgrade File >>") + odd));
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("Put Upgrade File without IDCheck >>") + boot));
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("Send file: ") + mine +
                                    QStringLiteral(" to 192.168.123.254")));
    // Later files are started without a "Send file: " line.
    EXPECT_FALSE(b.view.log.contains(QStringLiteral("Send file: ") + boot +
                                     QStringLiteral(" to 192.168.123.254")));

    const QList<QByteArray> second = b.runFile();
    EXPECT_EQ(second, QList<QByteArray>{pattern(100, 2)});
    EXPECT_EQ(b.engine.transferState(), TftpRecoveryEngine::AllSent);
    b.engine.TFTPTimerTimer();
    EXPECT_EQ(b.engine.sentSections(), QStringLiteral("AC"));
    EXPECT_EQ(b.engine.filesStarted(), 2);
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("Total upgrade file count in TFTP mode: 2")));
    EXPECT_EQ(b.counter.load(), StopCode::TftpFinished);
    EXPECT_EQ(b.sent.last().bytes, kReboot);
}

TEST(TftpEngine, NothingToSendFailsAtOnce) {
    Bench b;
    b.addFile(QStringLiteral("http.bin"), pattern(10),
              AttrUpgradeFile | AttrNormalCheck | AttrDefault);
    EXPECT_EQ(b.start(), -1);
    EXPECT_TRUE(b.sent.isEmpty());
    EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
    EXPECT_EQ(b.phase.load(), Phase::TftpFailed);
    EXPECT_EQ(b.fileOpen, 0);
    EXPECT_FALSE(b.engine.timerActive());
    EXPECT_EQ(b.closedCount, 1);
    EXPECT_EQ(b.view.log.last(), QStringLiteral("Recover process not be accept for router."));
    EXPECT_TRUE(b.waits.isEmpty());
}

TEST(TftpEngine, LocalFileProblemsTakeTheFailurePath) {
    {
        SCOPED_TRACE("cannot be opened");
        Bench b;
        const QString missing = b.temp.filePath(QStringLiteral("gone.bin"));
        b.files.append(missing, AttrHandPicked, 1);
        EXPECT_EQ(b.start(), -1);
        EXPECT_TRUE(b.sent.isEmpty());
        EXPECT_TRUE(b.view.log.contains(QStringLiteral("File Open Error! ") + missing));
        EXPECT_EQ(b.view.log.last(), QStringLiteral("Recover process not be accept for router."));
        EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
        EXPECT_EQ(b.phase.load(), Phase::TftpFailed);
    }
    {
        // The router hears nothing of a set that cannot be sent whole.
        SCOPED_TRACE("a later file cannot be opened");
        Bench b;
        b.addFile(QStringLiteral("one.bin"), pattern(10), AttrHandPicked);
        const QString missing = b.temp.filePath(QStringLiteral("two.bin"));
        b.files.append(missing, AttrHandPicked, 1);
        EXPECT_EQ(b.start(), -1);
        EXPECT_TRUE(b.sent.isEmpty());
        EXPECT_TRUE(b.view.log.contains(QStringLiteral("File Open Error! ") + missing));
        EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
        EXPECT_EQ(b.phase.load(), Phase::TftpFailed);
        EXPECT_EQ(b.closedCount, 1);
    }
    {
        SCOPED_TRACE("a later file has too many blocks");
        Bench b;
        b.addFile(QStringLiteral("one.bin"), pattern(10), AttrHandPicked);
        b.addFile(QStringLiteral("skipped.bin"), pattern(10), AttrUpgradeFile); // not for TFTP
        const QString huge = b.addFile(QStringLiteral("huge.bin"), QByteArray(), AttrHandPicked);
        ASSERT_TRUE(QFile::resize(huge, qint64(65535) * 512));
        EXPECT_EQ(b.start(), -1);
        EXPECT_TRUE(b.sent.isEmpty());
        EXPECT_EQ(b.view.log.filter(QStringLiteral("too large")),
                  QStringList{QStringLiteral("File too large for TFTP : ") + huge});
        EXPECT_TRUE(b.view.log.filter(QStringLiteral("Send file: ")).isEmpty());
        EXPECT_EQ(b.view.log.last(), QStringLiteral("Recover process not be accept for router."));
        EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
    }
    {
        SCOPED_TRACE("shrinks while it is sent");
        Bench b;
        const QString path = b.addFile(QStringLiteral("fw.bin"), pattern(2000), AttrHandPicked);
        ASSERT_EQ(b.start(), 1);
        b.feed(ackPacket(0));
        ASSERT_TRUE(QFile::resize(path, 700));
        b.feed(ackPacket(1));
        EXPECT_EQ(b.sent.size(), 2); // no block of bytes that are not the file's
        EXPECT_EQ(b.view.log.last(), QStringLiteral("Read Error"));
        EXPECT_EQ(b.engine.transferState(), TftpRecoveryEngine::Failed);
        EXPECT_EQ(b.phase.load(), Phase::TftpRunning); // the timer finishes
        b.engine.TFTPTimerTimer();
        EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
        EXPECT_EQ(b.phase.load(), Phase::TftpFailed);
        EXPECT_EQ(b.fileOpen, 0);
    }
    {
        SCOPED_TRACE("too many blocks for the 16-bit block number");
        Bench b;
        const QString path = b.addFile(QStringLiteral("huge.bin"), QByteArray(), AttrHandPicked);
        ASSERT_TRUE(QFile::resize(path, qint64(65535) * 512));
        EXPECT_EQ(b.start(), -1);
        EXPECT_TRUE(b.sent.isEmpty());
        EXPECT_TRUE(b.view.log.contains(QStringLiteral("File too large for TFTP : ") + path));
        EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
    }
    {
        SCOPED_TRACE("the largest file that fits is started");
        Bench b;
        const QString path = b.addFile(QStringLiteral("big.bin"), QByteArray(), AttrHandPicked);
        ASSERT_TRUE(QFile::resize(path, qint64(65535) * 512 - 1));
        EXPECT_EQ(b.start(), 1);
        EXPECT_TRUE(b.view.log.contains(QStringLiteral("Segment: 65534")));
    }
}

TEST(TftpEngine, MessageFileThatCannotBeOpenedFails) {
    Bench b;
    const QString missing = b.temp.filePath(QStringLiteral("note.msg"));
    b.files.append(missing, AttrMessageFile | AttrDefault, 1);
    b.addFile(QStringLiteral("fw.bin"), pattern(10), AttrHandPicked);
    EXPECT_EQ(b.start(), -1);
    EXPECT_TRUE(b.sent.isEmpty());
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("Message file onen error : ") + missing));
    EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
    EXPECT_EQ(b.phase.load(), Phase::TftpFailed);
}

TEST(TftpEngine, MessageFilesAreShownInTftpMode) {
    Bench b;
    MessageRecord shown;
    shown.name = "hello";
    shown.caption = "Recovery";
    shown.text = "Do not switch off";
    MessageRecord notForTftp = shown;
    notForTftp.caption = "FTP only";
    notForTftp.modeByte1 = 1;
    const QString first =
        b.addFile(QStringLiteral("a.msg"), shown.serialize(), AttrMessageFile | AttrDefault);
    const QString second =
        b.addFile(QStringLiteral("b.msg"), notForTftp.serialize(), AttrMessageFile | AttrDefault);
    b.addFile(QStringLiteral("fw.bin"), pattern(10), AttrHandPicked);
    ASSERT_EQ(b.start(), 1);
    ASSERT_EQ(b.view.messages.size(), 1);
    EXPECT_EQ(b.view.messages[0].caption, QByteArray("Recovery"));
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("Show Message to User : ") + first));
    EXPECT_TRUE(
        b.view.log.contains(QStringLiteral("Unknow Message File in TFTP Mode >>") + second));
}

TEST(TftpEngine, LongNamesAreCutTo32WithOneZero) {
    Bench b;
    const QString name = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz.bin");
    b.addFile(name, pattern(10), AttrHandPicked);
    ASSERT_EQ(b.start(), 1);
    EXPECT_EQ(b.sent[0].bytes, writeRequest("0123456789abcdefghijklmnopqrstuv"));
    EXPECT_EQ(b.sent[0].bytes.size(), 9 + 32);
    EXPECT_TRUE(b.view.log.contains(QStringLiteral("0123456789abcdefghijklmnopqrstuv")));

    EXPECT_EQ(TftpPacket::readRequest("R!", "octet"), kReboot);
    EXPECT_EQ(TftpPacket::writeRequest(QByteArray("a\0b", 3), "octet"), writeRequest("a"));
}

TEST(TftpEngine, ErrorPacketFailsAtTheNextTick) {
    Bench b;
    b.addFile(QStringLiteral("fw.bin"), pattern(3000), AttrHandPicked);
    ASSERT_EQ(b.start(), 1);
    b.feed(ackPacket(0));
    b.feed(ackPacket(1));
    EXPECT_EQ(b.view.progressPosition, 1024);
    b.feed(errorPacket(3, "Disk full or allocation exceeded"));
    EXPECT_EQ(b.view.progressPosition, 0);
    EXPECT_EQ(b.fileOpen, 0);
    EXPECT_EQ(b.engine.transferState(), TftpRecoveryEngine::Failed);
    EXPECT_EQ(b.phase.load(), Phase::TftpRunning);
    const qsizetype sent = b.sent.size();
    b.feed(ackPacket(2)); // nothing goes on after the refusal
    EXPECT_EQ(b.sent.size(), sent);

    b.engine.TFTPTimerTimer();
    EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
    EXPECT_EQ(b.phase.load(), Phase::TftpFailed);
    EXPECT_EQ(b.view.log.last(), QStringLiteral("Recover process not be accept for router."));
    EXPECT_FALSE(b.engine.timerActive());
    EXPECT_EQ(b.closedCount, 1);
    EXPECT_EQ(b.sent.size(), sent); // no reboot request after a refusal
}

TEST(TftpEngine, WireJunkWrongBlocksAndStrangersAreIgnored) {
    Bench b;
    const QByteArray content = pattern(1500);
    b.addFile(QStringLiteral("fw.bin"), content, AttrHandPicked);
    ASSERT_EQ(b.start(), 1);
    const QString stranger = QStringLiteral("192.168.123.77");
    auto nothingHappens = [&](const QByteArray& d, const QString& from, quint16 port) {
        const qsizetype sent = b.sent.size();
        const qsizetype logged = b.view.log.size();
        b.feed(d, from, port);
        EXPECT_EQ(b.sent.size(), sent);
        EXPECT_EQ(b.view.log.size(), logged);
        EXPECT_EQ(b.engine.transferState(), 1);
    };
    // Before the router has answered: short, oversized, wrong opcodes and numbers, strangers.
    for (const QByteArray& d :
         {QByteArray(), QByteArray("\0", 1), QByteArray("\0\4", 2), QByteArray("\0\4\0", 3),
          QByteArray("\0\4\0\0", 4) + QByteArray(2045, 'x'), QByteArray("\0\1\0\0", 4),
          QByteArray("\0\2\0\0", 4), QByteArray("\0\3\0\0", 4), QByteArray("\0\6\0\0", 4),
          QByteArray("\xFF\xFF\0\0", 4), QByteArray("\4\0\0\0", 4), ackPacket(1), ackPacket(7),
          ackPacket(0xFFFF)}) {
        SCOPED_TRACE(d.toHex().left(16).toStdString());
        nothingHappens(d, kRouter, kPort);
    }
    nothingHappens(ackPacket(0), stranger, kPort);
    nothingHappens(errorPacket(0, "spoof"), stranger, kPort);
    nothingHappens(ackPacket(0), QStringLiteral("not an address"), kPort);

    // The router answers from a port of its own: that port is kept for the rest of the file.
    b.feed(ackPacket(0), kRouter, 3456);
    ASSERT_EQ(b.last(), dataPacket(1, content.left(512)));
    EXPECT_EQ(b.sent.last().port, 69); // data still go to port 69
    nothingHappens(ackPacket(1), kRouter, kPort);
    nothingHappens(errorPacket(0, "other port"), kRouter, 3457);
    nothingHappens(ackPacket(0), kRouter, 3456); // a repeated acknowledgement: nothing resent
    // An acknowledgement with trailing bytes is read by its first four.
    b.feed(ackPacket(1) + "pad", kRouter, 3456);
    EXPECT_EQ(b.last(), dataPacket(2, content.mid(512, 512)));
    b.feed(ackPacket(2) + QByteArray(2044 - 3, 'y'), kRouter, 3456);
    EXPECT_EQ(b.last(), dataPacket(3, content.mid(1024)));
    b.feed(ackPacket(3), kRouter, 3456);
    EXPECT_EQ(b.engine.transferState(), TftpRecoveryEngine::AllSent);

    // Repeated final acknowledgements while waiting for the tick change nothing.
    for (int i = 0; i < 3; ++i)
        b.feed(ackPacket(3), kRouter, 3456);
    EXPECT_EQ(b.engine.transferState(), TftpRecoveryEngine::AllSent);
    b.engine.TFTPTimerTimer();
    EXPECT_EQ(b.counter.load(), StopCode::TftpFinished);
    EXPECT_EQ(b.phase.load(), Phase::TftpSucceeded);

    // After the end nothing starts again.
    const qsizetype sent = b.sent.size();
    b.feed(ackPacket(3), kRouter, 3456);
    b.feed(ackPacket(0), kRouter, kPort);
    b.feed(errorPacket(1, "late"), kRouter, kPort);
    b.engine.TFTPTimerTimer();
    EXPECT_EQ(b.sent.size(), sent);
    EXPECT_EQ(b.counter.load(), StopCode::TftpFinished);
    EXPECT_EQ(b.phase.load(), Phase::TftpSucceeded);
}

TEST(TftpEngine, ErrorAfterTheLastAcknowledgementStillRejects) {
    Bench b;
    b.addFile(QStringLiteral("fw.bin"), pattern(100), AttrHandPicked);
    ASSERT_EQ(b.start(), 1);
    b.runFile();
    ASSERT_EQ(b.engine.transferState(), TftpRecoveryEngine::AllSent);
    b.feed(errorPacket(0, "image check failed"));
    b.engine.TFTPTimerTimer();
    EXPECT_EQ(b.counter.load(), StopCode::TftpRejected);
    EXPECT_EQ(b.phase.load(), Phase::TftpFailed);
}

TEST(TftpEngine, TimerTicksBeforeTheEndDoNothingAndARestartStartsOver) {
    Bench b;
    b.addFile(QStringLiteral("fw.bin"), pattern(600), AttrHandPicked);
    ASSERT_EQ(b.start(), 1);
    b.feed(ackPacket(0));
    for (int i = 0; i < 5; ++i)
        b.engine.TFTPTimerTimer();
    EXPECT_EQ(b.engine.transferState(), 1);
    EXPECT_TRUE(b.engine.timerActive());
    EXPECT_EQ(b.phase.load(), Phase::TftpRunning);

    // A new run re-initialises everything; the old run's acknowledgement no longer fits.
    b.sent.clear();
    ASSERT_EQ(b.start(), 1);
    EXPECT_EQ(b.engine.datagramsSent(), 1);
    EXPECT_EQ(b.engine.filesStarted(), 1);
    b.feed(ackPacket(1));
    EXPECT_EQ(b.sent.size(), 1);
    EXPECT_EQ(b.runFile().size(), 2);
}

TEST(TftpEngine, UnacknowledgedPacketsAreSentAgainAtMostFiveTimes) {
    Bench b;
    const QByteArray content = pattern(700);
    b.addFile(QStringLiteral("fw.bin"), content, AttrHandPicked);
    ASSERT_EQ(b.start(), 1);
    const QByteArray wrq = writeRequest("fw.bin");
    EXPECT_TRUE(b.engine.retransmitArmed());
    b.engine.RetransmitTimerTimer();
    ASSERT_EQ(b.sent.size(), 2);
    EXPECT_EQ(b.sent[1].bytes, wrq);
    EXPECT_EQ(b.sent[1].port, 69);
    EXPECT_EQ(b.view.log.last(), QStringLiteral("Resend write request fw.bin (1 of 5)"));
    EXPECT_EQ(b.engine.datagramsSent(), 1); // copies are not counted as progress

    // Block 1 goes out up to five more times, one log line each, then only the watchdog waits.
    b.feed(ackPacket(0));
    const QByteArray block1 = dataPacket(1, content.left(512));
    ASSERT_EQ(b.last(), block1);
    const qsizetype logged = b.view.log.size();
    for (int i = 0; i < 8; ++i)
        b.engine.RetransmitTimerTimer();
    EXPECT_EQ(b.sent.size(), 3 + 5);
    for (qsizetype i = 3; i < b.sent.size(); ++i)
        EXPECT_EQ(b.sent[i].bytes, block1);
    EXPECT_EQ(b.view.log.mid(logged),
              (QStringList{QStringLiteral("Resend block 1 (1 of 5)"),
                           QStringLiteral("Resend block 1 (2 of 5)"),
                           QStringLiteral("Resend block 1 (3 of 5)"),
                           QStringLiteral("Resend block 1 (4 of 5)"),
                           QStringLiteral("Resend block 1 (5 of 5)")}));
    EXPECT_FALSE(b.engine.retransmitArmed());

    // A repeated acknowledgement sends nothing; the awaited one starts a fresh count.
    b.feed(ackPacket(0));
    EXPECT_EQ(b.sent.size(), 8);
    b.feed(ackPacket(1));
    const QByteArray block2 = dataPacket(2, content.mid(512));
    ASSERT_EQ(b.last(), block2);
    b.engine.RetransmitTimerTimer();
    EXPECT_EQ(b.last(), block2);
    EXPECT_EQ(b.view.log.last(), QStringLiteral("Resend block 2 (1 of 5)"));

    // Done: nothing is awaited, and the reboot request is never sent again.
    b.feed(ackPacket(2));
    EXPECT_FALSE(b.engine.retransmitArmed());
    b.engine.TFTPTimerTimer();
    ASSERT_EQ(b.last(), kReboot);
    const qsizetype sent = b.sent.size();
    b.engine.RetransmitTimerTimer();
    EXPECT_EQ(b.sent.size(), sent);
    EXPECT_EQ(b.counter.load(), StopCode::TftpFinished);

    // An error packet ends the waiting as well.
    Bench e;
    e.addFile(QStringLiteral("fw.bin"), content, AttrHandPicked);
    ASSERT_EQ(e.start(), 1);
    e.feed(errorPacket(2, "refused"));
    EXPECT_FALSE(e.engine.retransmitArmed());
    e.engine.RetransmitTimerTimer();
    EXPECT_EQ(e.sent.size(), 1);
}

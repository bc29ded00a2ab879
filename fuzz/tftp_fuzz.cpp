// The TFTP engine's datagram handling over a hostile loader and bystanders: whatever arrives
// (acknowledgements in and out of order, from other addresses and ports, errors, garbage), every
// data block carries exactly the file's bytes for its number, blocks go out in order and only
// to the router, and a run reported as a success has sent every file whole.

#include "FuzzSupport.h"
#include "tftp/TftpRecoveryEngine.h"
#include "tftp/TftpPacket.h"
#include "transfer/FileAttributes.h"
#include "transfer/Phase.h"
#include "transfer/StopCounter.h"

#include <QFile>
#include <QTemporaryDir>

using namespace fw;
using fw::fuzz::require;

namespace {

const QString kRouter = QStringLiteral("192.168.123.254");
const QString kStranger = QStringLiteral("192.168.123.9");

QTemporaryDir& dir() {
    static QTemporaryDir* d = new QTemporaryDir;
    return *d;
}

QByteArray content(int size, int seed) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + seed * 13 + i / 251) & 0xFF);
    return b;
}

quint16 blockOf(const QByteArray& d) {
    return quint16((quint8(d[2]) << 8) | quint8(d[3]));
}

struct Sent {
    QByteArray bytes;
    QString host;
    quint16 port;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApp();
    require(dir().isValid(), "temporary directory");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    // Two files whose sizes the input picks (block edges included), then the datagram script.
    const QList<QByteArray> files{content((data[0] << 8 | data[1]) % 1700, 1),
                                  content(data[2] % 3 * 512 + data[2] % 2, 2)};
    ExtractionList list;
    list.append(dir().filePath(QStringLiteral("body.exe")), 0, 0);
    for (int i = 0; i < files.size(); ++i) {
        const QString path = dir().filePath(QStringLiteral("f%1.bin").arg(i));
        QFile f(path);
        require(f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    f.write(files[i]) == files[i].size(),
                "file written");
        list.append(path, AttrHandPicked, 1);
    }

    QList<Sent> sent;
    TftpRecoveryEngine engine([&sent](const QByteArray& d, const QString& h, quint16 p) {
        sent.append(Sent{d, h, p});
        return true;
    });
    engine.setWaitFunction([](std::chrono::milliseconds) {});
    fuzz::RecordingSinks rec;
    StopCounter counter{0};
    std::atomic<qint16> phase{Phase::TftpRunning};
    qint32 fileOpen = 0;
    engine.TftpUpgrade(counter, phase, rec.sinks(), list, kRouter, QString(), 0, fileOpen);

    const quint16 ports[] = {69, 1069, 40000, 69};
    for (size_t i = 3; i + 1 < size;) {
        const uint8_t op = data[i];
        const uint8_t len = data[i + 1];
        i += 2;
        const QString from = (op & 0x10) ? kStranger : kRouter;
        const quint16 port = ports[(op >> 2) & 3];
        QByteArray d;
        switch (op & 3) {
        case 0: // bytes from the input
            d = fuzz::bytesOf(data + i, std::min<size_t>(len, size - i));
            i += std::min<size_t>(len, size - i);
            break;
        case 1: { // the acknowledgement the engine waits for (or one off by the length byte)
            const QByteArray last = sent.isEmpty() ? QByteArray() : sent.last().bytes;
            quint16 block = last.size() >= 4 && last[1] == 3 ? blockOf(last) : 0;
            if (op & 0x20)
                block = quint16(block + len);
            d = QByteArray("\0\4", 2) + char(block >> 8) + char(block & 0xFF);
            break;
        }
        case 2:
            engine.TFTPTimerTimer();
            continue;
        default:
            d = QByteArray("\0\5\0", 3) + char(len) + "no\0";
            break;
        }
        engine.UdpEndpoint1DataReceived(d, from, port);
    }
    engine.TFTPTimerTimer();

    // Replay what went out: write requests start the next file, data blocks must be its bytes.
    // A retransmission repeats the last datagram exactly; it adds nothing.
    int file = -1;
    int expectedBlock = 0;
    QByteArray previous;
    QList<QByteArray> assembled;
    for (const Sent& s : sent) {
        require(s.host == kRouter && s.port == TftpRecoveryEngine::RouterPort, "only to the router's port");
        require(s.bytes.size() >= 4 && s.bytes[0] == 0, "a TFTP packet");
        const int opcode = s.bytes[1];
        if (opcode == TftpPacket::ReadRequest)
            continue; // the reboot request
        const bool repeat = s.bytes == previous;
        previous = s.bytes;
        if (repeat)
            continue;
        if (opcode == TftpPacket::WriteRequest) {
            ++file;
            require(file < files.size(), "a write request per file");
            assembled << QByteArray();
            expectedBlock = 1;
            continue;
        }
        require(opcode == TftpPacket::Data && file >= 0, "data only after a write request");
        const quint16 block = blockOf(s.bytes);
        const QByteArray payload = s.bytes.mid(4);
        require(block == expectedBlock, "blocks go out in order, each once but for repeats");
        require(payload.size() <= TftpPacket::BlockSize, "at most 512 bytes a block");
        require(payload == files[file].mid((block - 1) * TftpPacket::BlockSize, payload.size()),
                "a block carries exactly the file's bytes at its place");
        require(payload.size() ==
                    std::min<qsizetype>(TftpPacket::BlockSize,
                                        files[file].size() - (block - 1) * TftpPacket::BlockSize),
                "every block but the last is full");
        assembled.last() += payload;
        ++expectedBlock;
    }
    if (phase == Phase::TftpSucceeded) {
        require(assembled.size() == files.size(), "a success sent every file");
        for (int k = 0; k < files.size(); ++k)
            require(assembled[k] == files[k], "a success sent every file whole");
    }
    return 0;
}

#pragma once
// The TFTP recovery engine, a QObject that is never shown. Writes the chosen upgrade files to a
// crashed router's loader one 512-byte block per acknowledgement, then asks it to reboot with the
// read request "R!". It never blocks: TftpUpgrade sends the first write request and returns;
// received datagrams (UdpEndpoint1DataReceived) drive the transfer and TFTPTimer (500 ms) finishes
// it through the stop counter and the phase. A request or block whose acknowledgement is late is
// sent again (RetransmitInterval, MaxRetransmits); the set is checked whole before the router hears
// anything. The packet logic touches no socket: datagrams leave through a send function (the UDP
// link by default) and arrive through UdpEndpoint1DataReceived. GUI thread.

#include "package/FileSelector.h"
#include "transfer/TftpUpgradeService.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

namespace fw {

class TftpUdpLink;

class TftpRecoveryEngine : public QObject, public TftpUpgradeService {
    Q_OBJECT
public:
    static constexpr quint16 RouterPort = 69;
    static constexpr std::chrono::milliseconds TimerInterval{500};
    // The end path: after the reboot request, then while the router reboots.
    static constexpr std::chrono::milliseconds RebootRequestWait{2000};
    static constexpr std::chrono::milliseconds RebootWait{5000};
    // A request or data block not acknowledged within this is sent again, at most
    // MaxRetransmits times; the controller's watchdog stays the outer bound.
    static constexpr std::chrono::milliseconds RetransmitInterval{1000};
    static constexpr int MaxRetransmits = 5;
    // Transfer states besides an entry index.
    static constexpr int AllSent = FileSelector::NoMoreFiles; // 1001
    static constexpr int Failed = FileSelector::NoFiles;      // 1002

    // Sends one datagram to host:port; the result is not acted upon.
    using SendFunction =
        std::function<bool(const QByteArray& datagram, const QString& host, quint16 port)>;
    // Waits while the event loop keeps turning (WaitMs with pumping by default).
    using WaitFunction = std::function<void(std::chrono::milliseconds)>;

    // Talks through its own UDP endpoint (bound at once to a port the system chooses) to the
    // router's `routerPort`.
    explicit TftpRecoveryEngine(quint16 routerPort = RouterPort, QObject* parent = nullptr);
    // Sends through `send` and opens no socket; datagrams come in by UdpEndpoint1DataReceived.
    explicit TftpRecoveryEngine(SendFunction send, quint16 routerPort = RouterPort,
                       QObject* parent = nullptr);
    ~TftpRecoveryEngine() override;
    TftpRecoveryEngine(const TftpRecoveryEngine&) = delete;
    TftpRecoveryEngine& operator=(const TftpRecoveryEngine&) = delete;

    // --- TftpUpgradeService
    int TftpUpgrade(StopCounter& stopCounter, std::atomic<qint16>& phase, const Sinks& sinks,
                    const ExtractionList& files, const QString& routerIp, const QString& romId,
                    qint32 routerType, qint32& fileOpenFlag) override;
    QString sentSections() const override;
    // Stops a transfer in progress at once: no further datagram, the file closed, no end path.
    void cancel() override;

    // --- operations of the window (valid while a TftpUpgrade's references live)
    qint64 UploadLength();
    int SelectNextFile(int start);
    int StartFileTransfer(const QString& routerIp, const QString& path);
    void SendRebootRequest(const QString& routerIp, const QByteArray& name, const QByteArray& mode);

    // --- events
    // A datagram arrived from fromAddress:fromPort.
    void UdpEndpoint1DataReceived(const QByteArray& datagram, const QString& fromAddress,
                                  quint16 fromPort);
    // TFTPTimer's tick (also run directly by the failure paths).
    void TFTPTimerTimer();
    // The awaited acknowledgement did not come within RetransmitInterval.
    void RetransmitTimerTimer();

    void setWaitFunction(WaitFunction wait) { wait_ = std::move(wait); }
    void setRetransmitInterval(std::chrono::milliseconds interval) {
        retransmitTimer_.setInterval(interval);
    }

    // --- observation
    int transferState() const { return state_; }
    bool timerActive() const { return timer_.isActive(); }
    bool retransmitArmed() const { return retransmitTimer_.isActive(); }
    bool running() const { return running_; }
    int filesStarted() const { return filesStarted_; }
    int datagramsSent() const { return datagramsSent_; }
    // The UDP endpoint's port (0 without one or when it could not be bound).
    quint16 localPort() const;

signals:
    // The window closed itself: the end or the failure path ran.
    void closed();

private:
    void UdpEndpoint1DataSend();
    void sendDatagram(const QByteArray& datagram);
    // Sends a write request or data block and keeps it until its acknowledgement comes.
    void sendAwaited(const QByteArray& datagram, const QString& what);
    void stopRetransmit();
    bool wholeSetSendable();
    bool fromRouter(const QString& fromAddress, quint16 fromPort);
    void sendNextBlock(quint16 block, int length);
    void failNow();
    void closeFile();
    // Every line of the engine goes out through here, after a "Recv : " line still waiting.
    void logLine(const QString& line);
    void logPendingRecv();
    void finishSuccess();
    void finishFailure();

    quint16 routerPort_;
    SendFunction send_;
    WaitFunction wait_;
    TftpUdpLink* link_ = nullptr;
    QTimer timer_;
    QTimer retransmitTimer_;

    // References handed over by TftpUpgrade.
    StopCounter* stopCounter_ = nullptr;
    std::atomic<qint16>* phase_ = nullptr;
    const ExtractionList* files_ = nullptr;
    qint32* fileOpenFlag_ = nullptr;
    Sinks sinks_;
    QString routerIp_;
    QString romId_;
    qint32 routerType_ = 0;
    std::optional<FileSelector> selector_;

    int state_ = 0;
    bool running_ = false;
    qint64 totalLength_ = 0;
    int datagramsSent_ = 0;
    qint64 bytesSent_ = 0; // file bytes of the data blocks sent, for the bar
    int filesStarted_ = 0;
    QByteArray mode_ = "octet";

    // The file being sent.
    QFile file_;
    qint64 fileSize_ = 0;
    int fullBlocks_ = 0;
    int remainder_ = 0;
    int blockCounter_ = 0; // the next block to send; the acknowledgement awaited is one less
    // Where the router answers from: its address, and the port of its first answer to the
    // current write request (0 until then).
    QHostAddress routerAddress_;
    quint16 routerAnswerPort_ = 0;
    // The last sender address seen as text and whether it is the router's (parsed once).
    QString lastFrom_;
    bool lastFromRouter_ = false;
    // The acknowledged block whose "Recv : " line is logged once the next block has gone out
    // (-1: none): the log keeps its order, the wire does not wait for it.
    int recvToLog_ = -1;
    // The packet whose acknowledgement is awaited, what the log calls it, and how often it was
    // sent again.
    QByteArray awaited_;
    QString awaitedWhat_;
    int retransmits_ = 0;
};

} // namespace fw

#include "tftp/TftpRecoveryEngine.h"

#include "process/WaitMs.h"
#include "tftp/TftpPacket.h"
#include "tftp/TftpUdpLink.h"
#include "transfer/FileAttributes.h"
#include "transfer/Phase.h"

#include <algorithm>
#include <climits>

namespace fw {

namespace {

const QByteArray OctetMode("octet");
const QByteArray RebootName("R!");

const QString NotCompleteStatus = QStringLiteral("Upgrade Not Complete Please Wait to Continue...");
const QString InitialStatus = QStringLiteral("Initial Upgrade Information...");
const QString BeginningStatus =
    QStringLiteral("Beginning Upgrade. Do Not Exit Until Upgrade Complete !");
const QString WaitRebootStatus = QStringLiteral("Success Upgrade and Wait to Reboot");
const QString RebootingStatus = QStringLiteral("Rebooting Router...");
const QString RecoverSuccessStatus = QStringLiteral("Recover success");
const QString RejectedLine = QStringLiteral("Recover process not be accept for router.");

// Block numbers run from 1 to full blocks + 1 and must fit the 16-bit field.
constexpr qint64 MaxFileSize =
    qint64(TftpPacket::MaxBlockNumber - 1) * TftpPacket::BlockSize + (TftpPacket::BlockSize - 1);

} // namespace

TftpRecoveryEngine::TftpRecoveryEngine(quint16 routerPort, QObject* parent)
    : TftpRecoveryEngine(SendFunction(), routerPort, parent) {
    link_ = new TftpUdpLink([this](const QByteArray& d, const QString& from,
                                   quint16 port) { UdpEndpoint1DataReceived(d, from, port); },
                            this);
    // Bound at once, as the window's endpoint is; a failure is reported when a transfer starts.
    link_->open();
    send_ = [link = link_](const QByteArray& d, const QString& host, quint16 port) {
        return link->send(d, host, port);
    };
}

TftpRecoveryEngine::TftpRecoveryEngine(SendFunction send, quint16 routerPort, QObject* parent)
    : QObject(parent), routerPort_(routerPort), send_(std::move(send)) {
    wait_ = [](std::chrono::milliseconds ms) { WaitMs(ms.count(), true); };
    timer_.setInterval(TimerInterval);
    connect(&timer_, &QTimer::timeout, this, &TftpRecoveryEngine::TFTPTimerTimer);
    retransmitTimer_.setSingleShot(true);
    retransmitTimer_.setInterval(RetransmitInterval);
    connect(&retransmitTimer_, &QTimer::timeout, this, &TftpRecoveryEngine::RetransmitTimerTimer);
}

TftpRecoveryEngine::~TftpRecoveryEngine() {
    timer_.stop();
    retransmitTimer_.stop();
    file_.close();
}

quint16 TftpRecoveryEngine::localPort() const {
    return link_ ? link_->localPort() : 0;
}

QString TftpRecoveryEngine::sentSections() const {
    return selector_ ? selector_->sentSections : QString();
}

int TftpRecoveryEngine::TftpUpgrade(StopCounter& stopCounter, std::atomic<qint16>& phase, const Sinks& sinks,
                           const ExtractionList& files, const QString& routerIp,
                           const QString& romId, qint32 routerType, qint32& fileOpenFlag) {
    // A new run starts from nothing, whatever the last one left.
    timer_.stop();
    stopRetransmit();
    closeFile();
    filesStarted_ = 0;
    stopCounter_ = &stopCounter;
    phase_ = &phase;
    sinks_ = sinks;
    files_ = &files;
    fileOpenFlag_ = &fileOpenFlag;
    routerIp_ = routerIp;
    romId_ = romId;
    routerType_ = routerType;
    routerAddress_ = QHostAddress(routerIp);
    lastFrom_.clear();
    routerAnswerPort_ = 0;
    recvToLog_ = -1;
    fileOpenFlag = 0;
    // A fresh selector: nothing selected, skipDefault clear, no section letters.
    selector_.emplace(files, romId, FileChoiceRules::tftp(), sinks);

    totalLength_ = UploadLength();

    state_ = 0;
    mode_ = OctetMode;
    datagramsSent_ = 0;
    bytesSent_ = 0;
    blockCounter_ = 0;
    running_ = true;
    timer_.start();

    // The bar counts file bytes, like the other methods; an unknown length shows an empty bar.
    sinks_.setProgressMaximum(std::max<qint64>(totalLength_, 0));
    sinks_.setProgressPosition(0);

    if (link_ && !link_->open()) {
        logLine(link_->lastError());
        state_ = Failed;
        failNow();
        return -1;
    }

    if (!wholeSetSendable()) {
        state_ = Failed;
        failNow();
        return -1;
    }

    state_ = SelectNextFile(0);
    if (state_ > 1000 || state_ < 0) {
        // Nothing to send, or a message file that cannot be opened: the failure path.
        state_ = Failed;
        failNow();
        return -1;
    }
    const QString path = files[state_].path;
    logLine(QStringLiteral("Send file: ") + path + QStringLiteral(" to ") + routerIp);
    const int r = StartFileTransfer(routerIp, path);
    if (r < 0) {
        state_ = Failed;
        failNow();
    }
    return r;
}

qint64 TftpRecoveryEngine::UploadLength() {
    return selector_ ? selector_->UploadLength() : -1;
}

int TftpRecoveryEngine::SelectNextFile(int start) {
    return selector_ ? selector_->SelectNextFile(start) : FileSelector::NoFiles;
}

bool TftpRecoveryEngine::wholeSetSendable() {
    // The same choice as the transfer will make, silently: no log lines, no message windows.
    FileSelector lookAhead(*files_, romId_, FileChoiceRules::tftp(), Sinks{});
    lookAhead.setMessageShower([](const ExtractionEntry&) { return 0; });
    int i = lookAhead.SelectNextFile(0);
    for (int n = 0; i >= 0 && i <= 1000 && n < ExtractionList::Capacity; ++n) {
        const QString& path = (*files_)[i].path;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            logLine(QStringLiteral("File Open Error! ") + path);
            return false;
        }
        if (f.size() > MaxFileSize) {
            logLine(QStringLiteral("File too large for TFTP : ") + path);
            return false;
        }
        i = lookAhead.SelectNextFile(i + 1);
    }
    return true;
}

int TftpRecoveryEngine::StartFileTransfer(const QString& routerIp, const QString& path) {
    if (state_ > 0)
        sinks_.setStatus(NotCompleteStatus);
    const QString name = cutPath(path).left(TftpPacket::MaxNameLength);
    logLine(name);
    closeFile();
    if (fileOpenFlag_)
        *fileOpenFlag_ = 0;

    file_.setFileName(path);
    // Unbuffered: each block is read from the file as it is when the block goes out.
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        logLine(QStringLiteral("File Open Error! ") + path);
        return -1;
    }
    if (fileOpenFlag_)
        *fileOpenFlag_ = 1;
    fileSize_ = file_.size();
    fullBlocks_ = int(std::min<qint64>(fileSize_ / TftpPacket::BlockSize, INT_MAX));
    remainder_ = int(fileSize_ % TftpPacket::BlockSize);
    logLine(QStringLiteral("Open File : ") + path);
    logLine(QStringLiteral("Size: ") + QString::number(fileSize_) + QStringLiteral(" Bytes"));
    logLine(QStringLiteral("Segment: ") + QString::number(fullBlocks_));
    logLine(QStringLiteral("mod: ") + QString::number(remainder_));
    if (fileSize_ > MaxFileSize) {
        // Its block numbers would wrap: the router would overwrite the start of the file.
        logLine(QStringLiteral("File too large for TFTP : ") + path);
        closeFile();
        if (fileOpenFlag_)
            *fileOpenFlag_ = 0;
        return -1;
    }

    sinks_.setStatus(InitialStatus);
    routerIp_ = routerIp;
    routerAddress_ = QHostAddress(routerIp);
    lastFrom_.clear();
    routerAnswerPort_ = 0; // each write request may be answered from a port of its own
    sendAwaited(TftpPacket::writeRequest(name.toLatin1(), mode_),
                QStringLiteral("write request ") + name);

    blockCounter_ = 1;
    ++filesStarted_;
    logLine(QStringLiteral("Begin to Send ") + path + QStringLiteral(" to   ") + routerIp);
    return 1;
}

void TftpRecoveryEngine::SendRebootRequest(const QString& routerIp, const QByteArray& name,
                                  const QByteArray& mode) {
    routerIp_ = routerIp;
    sendDatagram(TftpPacket::readRequest(name, mode));
}

void TftpRecoveryEngine::sendDatagram(const QByteArray& datagram) {
    if (send_)
        send_(datagram, routerIp_, routerPort_);
    UdpEndpoint1DataSend();
}

void TftpRecoveryEngine::sendAwaited(const QByteArray& datagram, const QString& what) {
    awaited_ = datagram;
    awaitedWhat_ = what;
    retransmits_ = 0;
    sendDatagram(datagram);
    retransmitTimer_.start();
}

void TftpRecoveryEngine::stopRetransmit() {
    retransmitTimer_.stop();
    awaited_.clear();
    retransmits_ = 0;
}

void TftpRecoveryEngine::RetransmitTimerTimer() {
    retransmitTimer_.stop();
    if (!running_ || state_ >= AllSent || awaited_.isEmpty() || retransmits_ >= MaxRetransmits)
        return;
    ++retransmits_;
    logLine(QStringLiteral("Resend ") + awaitedWhat_ + QStringLiteral(" (") +
            QString::number(retransmits_) + QStringLiteral(" of ") +
            QString::number(MaxRetransmits) + u')');
    if (send_)
        send_(awaited_, routerIp_, routerPort_);
    // After the last copy only the watchdog ends the wait.
    if (retransmits_ < MaxRetransmits)
        retransmitTimer_.start();
}

void TftpRecoveryEngine::UdpEndpoint1DataSend() {
    logLine(QStringLiteral("Sent ") + QString::number(datagramsSent_) + QStringLiteral(" .."));
    sinks_.setStatus(BeginningStatus);
    ++datagramsSent_;
}

void TftpRecoveryEngine::logLine(const QString& line) {
    logPendingRecv();
    sinks_.logLine(line);
}

void TftpRecoveryEngine::logPendingRecv() {
    if (recvToLog_ < 0)
        return;
    const int b = recvToLog_;
    recvToLog_ = -1;
    sinks_.logLine(QStringLiteral("Recv : ") + QString::number(b));
}

bool TftpRecoveryEngine::fromRouter(const QString& fromAddress, quint16 fromPort) {
    if (fromAddress != lastFrom_) {
        lastFrom_ = fromAddress;
        lastFromRouter_ = routerAddress_.isNull() || QHostAddress(fromAddress) == routerAddress_;
    }
    if (!lastFromRouter_)
        return false;
    return routerAnswerPort_ == 0 || fromPort == routerAnswerPort_;
}

void TftpRecoveryEngine::UdpEndpoint1DataReceived(const QByteArray& datagram, const QString& fromAddress,
                                         quint16 fromPort) {
    // Nothing runs (before the first start, or the end path has begun): a late or repeated
    // answer must not start anything.
    if (!running_)
        return;
    const auto h = TftpPacket::header(datagram);
    if (!h || !fromRouter(fromAddress, fromPort))
        return;

    if (h->opcode == TftpPacket::Error) {
        if (state_ == Failed)
            return;
        stopRetransmit();
        state_ = 0;
        if (fileOpenFlag_)
            *fileOpenFlag_ = 0;
        sinks_.setProgressPosition(0);
        closeFile();
        state_ = Failed; // the timer finishes
        return;
    }
    // All sent or failed: the timer decides; a repeated acknowledgement changes nothing.
    if (state_ >= AllSent)
        return;
    if (h->opcode != TftpPacket::Ack || int(h->block) + 1 != blockCounter_)
        return;
    if (routerAnswerPort_ == 0)
        routerAnswerPort_ = fromPort;

    // The next block goes out first; its "Recv : " line follows before anything else is logged.
    const int b = h->block;
    recvToLog_ = b;
    if (b < fullBlocks_) {
        sendNextBlock(quint16(blockCounter_), TftpPacket::BlockSize);
        return;
    }
    if (b == fullBlocks_) {
        sendNextBlock(quint16(blockCounter_), remainder_);
        return;
    }
    // The last block was acknowledged: the next file, or the end for the timer.
    stopRetransmit();
    logPendingRecv();
    const int s = SelectNextFile(state_ + 1);
    state_ = s;
    if (s < 0) {
        state_ = Failed;
        failNow();
        return;
    }
    if (s <= 1000) {
        if (stopCounter_)
            *stopCounter_ = 0;
        if (StartFileTransfer(routerIp_, (*files_)[s].path) < 0) {
            state_ = Failed;
            failNow();
        }
    }
}

void TftpRecoveryEngine::sendNextBlock(quint16 block, int length) {
    const QByteArray payload = file_.read(length);
    if (payload.size() != length) {
        // Bytes that are not the file's never go out.
        stopRetransmit();
        logLine(QStringLiteral("Read Error"));
        state_ = Failed;
        return;
    }
    sendAwaited(TftpPacket::data(block, payload), QStringLiteral("block ") + QString::number(block));
    ++blockCounter_;
    // Only file bytes move the bar: not the requests, not an empty last block.
    if (!payload.isEmpty()) {
        bytesSent_ += payload.size();
        sinks_.setProgressPosition(bytesSent_);
    }
}

void TftpRecoveryEngine::failNow() {
    timer_.stop();
    stopRetransmit();
    TFTPTimerTimer();
}

void TftpRecoveryEngine::cancel() {
    running_ = false;
    state_ = 0;
    timer_.stop();
    closeFile();
    if (fileOpenFlag_)
        *fileOpenFlag_ = 0;
}

void TftpRecoveryEngine::closeFile() {
    if (file_.isOpen())
        file_.close();
}

void TftpRecoveryEngine::TFTPTimerTimer() {
    if (state_ == AllSent)
        finishSuccess();
    else if (state_ == Failed)
        finishFailure();
}

void TftpRecoveryEngine::finishSuccess() {
    running_ = false;
    stopRetransmit();
    state_ = 0;
    closeFile();
    timer_.stop();
    sinks_.setProgressPosition(std::max<qint64>(totalLength_, 0));
    logLine(QStringLiteral(" Recover Success"));
    if (stopCounter_)
        *stopCounter_ = StopCode::TftpRebooting;
    sinks_.setStatus(WaitRebootStatus);
    SendRebootRequest(routerIp_, RebootName, OctetMode);
    if (phase_)
        *phase_ = Phase::TftpSucceeded;
    logLine(QStringLiteral("Total upgrade file count in TFTP mode: ") +
            QString::number(filesStarted_));
    if (wait_)
        wait_(RebootRequestWait);
    sinks_.setStatus(RebootingStatus);
    if (wait_)
        wait_(RebootWait);
    if (fileOpenFlag_)
        *fileOpenFlag_ = 0;
    sinks_.setStatus(RecoverSuccessStatus);
    if (stopCounter_)
        *stopCounter_ = StopCode::TftpFinished;
    emit closed();
}

void TftpRecoveryEngine::finishFailure() {
    running_ = false;
    stopRetransmit();
    timer_.stop();
    closeFile();
    logLine(RejectedLine);
    if (phase_)
        *phase_ = Phase::TftpFailed;
    state_ = 0;
    if (fileOpenFlag_)
        *fileOpenFlag_ = 0;
    if (stopCounter_)
        *stopCounter_ = StopCode::TftpRejected;
    emit closed();
}

} // namespace fw

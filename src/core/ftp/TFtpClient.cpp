#include "ftp/TFtpClient.h"

#include "net/SocketErrors.h"

#include <QFile>
#include <QFileInfo>

namespace fw {

namespace {

bool refused(int replyNumber) {
    return replyNumber >= 301 && replyNumber <= 599;
}

QString statusText(const QByteArray& line) {
    return QString::fromLatin1(line).trimmed();
}

// Clears a flag when a scope ends, however it ends.
struct FlagGuard {
    bool& flag;
    explicit FlagGuard(bool& f) : flag(f) { flag = true; }
    ~FlagGuard() { flag = false; }
};

} // namespace

TFtpClient::TFtpClient() = default;
TFtpClient::~TFtpClient() = default;

QByteArray TFtpClient::PortArgument(quint32 address, quint16 port) {
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += QByteArray::number((address >> shift) & 0xFF) + ',';
    out += QByteArray::number(port >> 8) + ',' + QByteArray::number(port & 0xFF);
    return out;
}

void TFtpClient::checkTimers() {
    checkOwnTimer();
    if (data_)
        data_->checkOwnTimer();
}

void TFtpClient::connectionFailed() {
    if (OnConnectionFailed)
        OnConnectionFailed(*this);
}

void TFtpClient::Abort() {
    if (data_)
        data_->Cancel();
}

void TFtpClient::CancelAll() {
    Cancel();
    if (data_)
        data_->Cancel();
}

bool TFtpClient::failureHandled(int kind) {
    bool handled = false;
    if (OnFailure)
        OnFailure(*this, handled, kind);
    return handled;
}

void TFtpClient::readReply(bool closeIsError) {
    ReplyNumber = 0;
    const auto deadline = std::chrono::steady_clock::now() + ReplyWaitLimit;
    qint64 budget = ReplyByteLimit;
    LastReply = ReadLn(deadline, budget);
    if (LastReply.isEmpty()) {
        // A server that hangs up instead of answering has not accepted anything.
        if (peerClosed() && closeIsError)
            raiseSocketError(WsaError::NotConnected);
        return;
    }
    report(LevelCommand, statusText(LastReply));
    ReplyNumber = replyNumberOf(LastReply);
    QByteArray current = LastReply;
    for (;;) {
        const bool more =
            current[0] == ' ' || (current.size() > 3 && current[3] == '-');
        if (!more)
            return;
        current = ReadLn(deadline, budget);
        if (current.isEmpty())
            return;
        report(LevelCommand, statusText(current));
    }
}

QByteArray TFtpClient::transaction(const QByteArray& command, bool closeIsError) {
    sendCommand(command);
    readReply(closeIsError);
    return LastReply;
}

QByteArray TFtpClient::Transaction(const QByteArray& command) {
    return transaction(command, true);
}

void TFtpClient::Connect() {
    if (Connected())
        return;
    DiscardInput();
    TTcpSocket::Connect();
    try {
        readReply(true);
        const QByteArray greeting = LastReply;
        if (ReplyNumber > 400) {
            connectionFailed();
            throw EFtpReply(greeting);
        }
        report(LevelCommand, QStringLiteral("USER ") + UserID);
        transaction("USER " + UserID.toLatin1(), true);
        if (ReplyNumber >= 401 && ReplyNumber <= 599) {
            connectionFailed();
            throw EFtpReply(LastReply);
        }
        if (ReplyNumber == 331) {
            report(LevelCommand, QStringLiteral("PASS "));
            transaction("PASS " + Password.toLatin1(), true);
            if (ReplyNumber >= 401 && ReplyNumber <= 599) {
                connectionFailed();
                throw EFtpReply(LastReply);
            }
        }
        if (OnConnect)
            OnConnect(*this);
    } catch (const FtpException&) {
        // The login's own failure is what the caller needs to see, not one of the "QUIT".
        try {
            Disconnect();
        } catch (const FtpException&) {
        }
        report(LevelCommand, QStringLiteral("Disconnected"));
        throw;
    }
}

void TFtpClient::Disconnect() {
    if (!Connected()) {
        closeSocket();
        return;
    }
    report(LevelCommand, QStringLiteral("QUIT"));
    DiscardInput();
    try {
        transaction("QUIT", false);
    } catch (const FtpException&) {
        closeSocket();
        throw;
    }
    closeSocket();
    if (refused(ReplyNumber))
        throw EFtpReply(LastReply);
}

void TFtpClient::openDataConnection() {
    data_ = std::make_unique<TTcpSocket>(this);
    data_->TimeOut = TimeOut;
    data_->ReportLevel = ReportLevel;
    data_->AcceptWaitLimit = AcceptWaitLimit;
    data_->SendStallLimit = SendStallLimit;
    data_->OnPacketSent = OnPacketSent;
    data_->OnPacketRecvd = OnPacketRecvd;
    data_->OnError = OnError;
    data_->Listen();
    transaction("PORT " + PortArgument(LocalAddress(), data_->LocalPort()), true);
    if (refused(ReplyNumber))
        throw EFtpReply(LastReply);
}

void TFtpClient::closeDataConnection() {
    if (data_) {
        lastBytesRcvd_ = data_->BytesRcvd;
        lastBytesSent_ = data_->BytesSent;
    }
    data_.reset();
}

void TFtpClient::checkTransferAllowed() {
    if (!Connected())
        throw FtpException(QStringLiteral("Not Connected"));
    // The transfer lock: a handler running inside a wait must not start a second transfer.
    if (transferring_)
        throw FtpException(QStringLiteral("Transfer in progress"));
}

void TFtpClient::Upload(const QString& localFile, const QString& remoteName) {
    checkTransferAllowed();
    FlagGuard busy(transferring_);
    TransferReplyMissing = false;
    try {
        DiscardInput();
        QFile file(localFile);
        if (!file.open(QIODevice::ReadOnly))
            throw FtpException(QStringLiteral("Cannot open file ") + localFile);
        openDataConnection();
        const QString name = remoteName.isEmpty() ? QFileInfo(localFile).fileName() : remoteName;
        report(LevelCommand, QStringLiteral("STOR ") + name);
        transaction("STOR " + name.toLatin1(), true);
        if (refused(ReplyNumber)) {
            if (ReplyNumber >= 500 && ReplyNumber <= 502 && OnUnSupportedFunction)
                OnUnSupportedFunction(*this);
            throw EFtpReply(LastReply);
        }
        data_->AcceptIncoming();
        if (OnTransactionStart)
            OnTransactionStart(*this);
        QByteArray piece(BufferSize, '\0');
        for (;;) {
            const qint64 n = file.read(piece.data(), BufferSize);
            if (n < 0)
                throw FtpException(QStringLiteral("Cannot read file ") + localFile);
            if (n == 0)
                break;
            data_->SendAll(piece.constData(), n, true);
        }
        if (OnTransactionStop)
            OnTransactionStop(*this);
        // The end of the file; the data socket stays open until the reply, so a server that
        // hangs up instead of answering can still be seen closing it cleanly.
        data_->ShutdownSend();
        // The code is not examined: a refusal here reaches the caller as a status text.
        readReply(false);
        if (LastReply.isEmpty() && peerClosed()) {
            // A router that reboots to flash the file may hang up instead of answering; it has
            // taken the whole file when it closed the data connection after reading its end.
            if (!data_->PeerClosedCleanly(DataCloseWait))
                raiseSocketError(WsaError::NotConnected);
            TransferReplyMissing = true;
        }
        data_->CloseGracefully();
        closeDataConnection();
        if (OnSuccess)
            OnSuccess(*this);
    } catch (const FtpException&) {
        closeDataConnection();
        if (!failureHandled(KindTransfer))
            throw;
    }
}

void TFtpClient::Download(const QString& remoteName, const QString& localFile) {
    checkTransferAllowed();
    FlagGuard busy(transferring_);
    TransferReplyMissing = false;
    DownloadExcess = 0;
    lastBytesRcvd_ = 0;
    try {
        DiscardInput();
        openDataConnection();
        report(LevelCommand, QStringLiteral("RETR ") + remoteName);
        transaction("RETR " + remoteName.toLatin1(), true);
        if (refused(ReplyNumber))
            throw EFtpReply(LastReply);
        data_->AcceptIncoming();
        if (OnTransactionStart)
            OnTransactionStart(*this);
        QFile out(localFile);
        // Unbuffered: each block's write is checked whole (a full disk fails here, not at close).
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw FtpException(QStringLiteral("Cannot create file ") + localFile);
        QByteArray block(BufferSize, '\0');
        data_->TimerOn();
        for (;;) {
            qint64 n = data_->ReceiveBlock(block.data(), BufferSize);
            // Nothing beyond what was asked for is written; past it reading stops.
            if (DownloadLimit >= 0 && n > DownloadLimit - data_->BytesRcvd) {
                DownloadExcess = n - (DownloadLimit - data_->BytesRcvd);
                n -= DownloadExcess;
            }
            if (n > 0 && out.write(block.constData(), n) != n)
                throw FtpException(QStringLiteral("Cannot write file ") + localFile);
            if (n <= 0 && DownloadExcess == 0)
                break; // the server closed the data connection
            data_->BytesRcvd += n;
            if (n > 0 && data_->OnPacketRecvd)
                data_->OnPacketRecvd(*data_);
            if (DownloadExcess > 0)
                break;
            data_->TimerOn();
        }
        data_->TimerOff();
        out.close();
        const qint64 received = data_->BytesRcvd;
        data_->CloseGracefully();
        report(LevelCommand,
               QStringLiteral("Received ") + QString::number(received) + QStringLiteral(" Bytes"));
        readReply(false);
        if (LastReply.isEmpty() && peerClosed()) {
            // A hang-up after every byte asked for has come takes nothing away.
            if (DownloadLimit < 0 || received != DownloadLimit)
                raiseSocketError(WsaError::NotConnected);
            TransferReplyMissing = true;
        }
        closeDataConnection();
        if (OnTransactionStop)
            OnTransactionStop(*this);
        if (OnSuccess)
            OnSuccess(*this);
    } catch (const FtpException&) {
        closeDataConnection();
        if (Canceled() && fd_ >= 0) {
            // Tell the server the retrieval is off; a canceled component waits for nothing.
            static const char abor[] = "ABOR\r\n";
            ::fw::TTcpSocket::DiscardInput();
            try {
                clearCancel();
                SendAll(abor, sizeof abor - 1);
            } catch (const FtpException&) {
            }
        }
        if (!failureHandled(KindTransfer))
            throw;
    }
}

} // namespace fw

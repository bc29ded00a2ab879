#pragma once
// The FTP client: one control connection with login as a given user, storing a local file on
// the server and retrieving a remote file into a local file over active data connections (the
// server connects to a socket this client listens on), and closing. Every wait keeps the
// calling thread's events turning. Failures are raised (FtpExceptions.h). GUI thread.

#include "ftp/TTcpSocket.h"

#include <QString>
#include <functional>
#include <memory>

namespace fw {

class TFtpClient : public TTcpSocket {
public:
    // OnFailure's transfer kind for Upload and Download.
    static constexpr int KindTransfer = 9;
    // How long a server that hung up instead of sending the transfer reply is given to close
    // the data connection too.
    static constexpr std::chrono::milliseconds DataCloseWait{1000};

    TFtpClient();
    ~TFtpClient() override;

    QString UserID;
    QString Password;
    bool Passive = false; // only active data connections are supported
    // Download stops writing, and reading, after this many bytes; -1: no limit.
    qint64 DownloadLimit = -1;
    // Bytes the server offered past DownloadLimit in the last Download (read, not written).
    qint64 DownloadExcess = 0;
    // The last transfer ended with the server hanging up instead of sending its reply, after
    // the whole file had gone (Upload: sent, and the data connection closed cleanly) or come
    // (Download: DownloadLimit bytes). That counts as the server's acceptance.
    bool TransferReplyMissing = false;

    std::function<void(TFtpClient&)> OnConnect;
    std::function<void(TFtpClient&)> OnSuccess;
    std::function<void(TFtpClient&)> OnTransactionStart;
    std::function<void(TFtpClient&)> OnTransactionStop;
    std::function<void(TFtpClient&)> OnUnSupportedFunction;
    std::function<void(TFtpClient&)> OnConnectionFailed;
    // Leaving `handled` false (or binding nothing) lets the exception go on to the caller.
    std::function<void(TFtpClient&, bool& handled, int kind)> OnFailure;

    // Connection, greeting and login; nothing when already connected.
    void Connect() override;
    // "QUIT" when connected, then close (also when the reply refuses).
    void Disconnect() override;
    // The command, its reply line and its continuation lines; a control connection that has
    // closed instead of answering is a socket error.
    QByteArray Transaction(const QByteArray& command) override;
    // The time-out timer of the control connection cancels only the data connection.
    void Abort() override;
    // Cancels the control connection and the data connection of a transfer in progress.
    void CancelAll();

    void Upload(const QString& localFile, const QString& remoteName);
    void Download(const QString& remoteName, const QString& localFile);
    qint64 GetBytesRcvd() const { return data_ ? data_->BytesRcvd : lastBytesRcvd_; }
    qint64 GetBytesSent() const { return data_ ? data_->BytesSent : lastBytesSent_; }

    // "a,b,c,d,p1,p2" for an IPv4 address (host order) and a port.
    static QByteArray PortArgument(quint32 address, quint16 port);

protected:
    void checkTimers() override;
    void connectionFailed() override;

private:
    // Throws unless connected and no transfer is running.
    void checkTransferAllowed();
    QByteArray transaction(const QByteArray& command, bool closeIsError);
    // A reply: its first line into LastReply and ReplyNumber, then its continuation lines, all
    // reported, all under one bound in bytes and time. Empty when the server has closed (a
    // socket error when `closeIsError`).
    void readReply(bool closeIsError);
    void openDataConnection();
    void closeDataConnection();
    bool failureHandled(int kind);

    std::unique_ptr<TTcpSocket> data_;
    bool transferring_ = false;
    qint64 lastBytesRcvd_ = 0;
    qint64 lastBytesSent_ = 0;
};

} // namespace fw

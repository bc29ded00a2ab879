#pragma once
// The failures the FTP client raises. The engines look only at the message: for a refused
// command it is the server's reply line (its first three characters are the reply code), for a
// socket failure one of the client's fixed texts. Any thread; thrown on the thread that uses the
// client.

#include <QByteArray>
#include <QString>
#include <exception>

namespace fw {

// The common base: every failure of the client carries a message text.
class FtpException : public std::exception {
public:
    explicit FtpException(QString message)
        : message_(std::move(message)), what_(message_.toLocal8Bit()) {}
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return what_.constData(); }

private:
    QString message_;
    QByteArray what_;
};

// An FTP command was refused; the message is the reply line as received, line end included.
class EFtpReply : public FtpException {
public:
    explicit EFtpReply(const QByteArray& replyLine)
        : FtpException(QString::fromLatin1(replyLine)) {}
};

// A socket or connection failure.
class ESocketError : public FtpException {
public:
    using FtpException::FtpException;
};

// A wait ended because the component was canceled (or its bound ran out).
class EWaitAborted : public FtpException {
public:
    using FtpException::FtpException;
};

// A reply passed the client's bound in bytes or time; the control connection has been closed,
// so nothing later can be read out of step.
class EReplyBound : public FtpException {
public:
    using FtpException::FtpException;
};

} // namespace fw

#pragma once
// The ROM read-back: copies a stretch of the router's ROM data into a local file, over FTP first
// and over HTTP when FTP fails, then closes the main window. Runs once, from the first StopTimer
// tick while GetMode is set. GUI thread (the FTP read keeps the event loop turning, the HTTP read
// blocks it).

#include "upgrade/TransferServices.h"

#include <QString>
#include <QtGlobal>

namespace fw {

class RomReadBackEngine final : public RomReadBackService {
public:
    // One of the two texts of the settings record's read-back field (offset or length).
    struct RomNumber {
        qint32 value = 0; // the number it stands for
        QString text;     // what the HTTP request carries: without a "0x" prefix
    };

    static const QString UnconnectText;     // "Unconnect to router"
    static const QString ConnectionCaption; // "Router connection failure"
    static const QString TryFtpText;        // "Try FTP Get Method first..."
    static const QString FtpSuccessText;    // "Get ROM data success"
    static const QString TryHttpText;       // "Try to use HTTP Get method."
    static const QString PasswordErrorText; // "Password error. Please check again."
    static const QString FailureCaption;    // "Failure"
    static const QString FtpPassCaption;    // "(FTP) pass Error"
    static const QString HttpErrorText;     // "HTTP Get ROM Error"
    // Told when an engine throws something without a message of its own.
    static const QString UnexpectedText;

    // `ftp` may be null: the "not available" stand-in is used then.
    explicit RomReadBackEngine(FtpRomReadService* ftp = nullptr);

    // The FTP ROM read tried first; null restores the stand-in.
    void setFtpRomRead(FtpRomReadService* ftp);
    FtpRomReadService* ftpRomRead() const { return ftp_; }

    void RomReadBack(RunState& run, RunHost& host) override;

    // True while a read-back is under way (the FTP read turns the event loop meanwhile).
    bool running() const { return running_; }

    // A second character "x" or "X" makes the first two a prefix and the rest hexadecimal (its
    // leading hex digits); otherwise an optional sign and leading decimal digits (0 when none).
    // Values beyond 32 bits saturate instead of wrapping round to another number.
    static RomNumber ParseRomNumber(const QString& text);
    // The FTP remote name: offset and length in decimal, joined by "#".
    static QString RemoteName(qint32 offset, qint32 length);

private:
    // Everything after the FTP read failed in a way that lets HTTP try.
    void httpRead(RunState& run, RunHost& host, const QString& address, const QString& password,
                  const QString& output, const RomNumber& offset, const RomNumber& length,
                  const QString& ftpResult);
    static void finished(RunState& run, bool ok);
    // An exception out of the FTP read: told, a failure, the window stays.
    static void stoppedBy(RunState& run, RunHost& host, const QString& message);

    UnavailableFtpRomRead noFtp_;
    FtpRomReadService* ftp_;
    bool running_ = false;
};

} // namespace fw

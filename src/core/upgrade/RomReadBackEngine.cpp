#include "upgrade/RomReadBackEngine.h"

#include "http/HttpEngine.h"
#include "http/LoginCheck.h"
#include "search/DeviceSearch.h"
#include "settings/SettingsRecord.h"
#include "upgrade/MainView.h"
#include "upgrade/MainWindowLogic.h"

#include <exception>
#include <limits>

namespace fw {

const QString RomReadBackEngine::UnconnectText = QStringLiteral("Unconnect to router");
const QString RomReadBackEngine::ConnectionCaption = QStringLiteral("Router connection failure");
const QString RomReadBackEngine::TryFtpText = QStringLiteral("Try FTP Get Method first...");
const QString RomReadBackEngine::FtpSuccessText = QStringLiteral("Get ROM data success");
const QString RomReadBackEngine::TryHttpText = QStringLiteral("Try to use HTTP Get method.");
const QString RomReadBackEngine::PasswordErrorText =
    QStringLiteral("Password error. Please check again.");
const QString RomReadBackEngine::FailureCaption = QStringLiteral("Failure");
const QString RomReadBackEngine::FtpPassCaption = QStringLiteral("(FTP) pass Error");
const QString RomReadBackEngine::HttpErrorText = QStringLiteral("HTTP Get ROM Error");
const QString RomReadBackEngine::UnexpectedText =
    QStringLiteral("ROM read-back stopped by an unexpected error");

namespace {

// FtpGetRom's results that end the read-back without HTTP.
constexpr int FtpReceived = 1;
constexpr int FtpPasswordRefused = -2;
constexpr int FtpRetrievalFailed = -3;

constexpr qint64 MaxValue = std::numeric_limits<qint32>::max();
constexpr qint64 MinValue = std::numeric_limits<qint32>::min();

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Accumulates digits of `base` from `from` while they last; the magnitude stops growing past
// `limit`, so no text can overflow it.
qint64 leadingDigits(const QString& text, qsizetype from, int base, qint64 limit) {
    qint64 v = 0;
    for (qsizetype i = from; i < text.size(); ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0 || d >= base)
            break;
        v = std::min(v * base + d, limit);
    }
    return v;
}

} // namespace

RomReadBackEngine::RomReadBackEngine(FtpRomReadService* ftp) : ftp_(ftp ? ftp : &noFtp_) {}

void RomReadBackEngine::setFtpRomRead(FtpRomReadService* ftp) {
    ftp_ = ftp ? ftp : &noFtp_;
}

RomReadBackEngine::RomNumber RomReadBackEngine::ParseRomNumber(const QString& text) {
    RomNumber n;
    if (text.size() >= 2 && (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X'))) {
        n.text = text.mid(2);
        n.value = qint32(leadingDigits(text, 2, 16, MaxValue));
        return n;
    }
    n.text = text;
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    const qint64 magnitude = leadingDigits(text, i, 10, negative ? -MinValue : MaxValue);
    n.value = qint32(negative ? -magnitude : magnitude);
    return n;
}

QString RomReadBackEngine::RemoteName(qint32 offset, qint32 length) {
    return QString::number(offset) + QLatin1Char('#') + QString::number(length);
}

void RomReadBackEngine::finished(RunState& run, bool ok) {
    run.exitStatus = ok ? ExitStatus::Ok : ExitStatus::Failed;
    run.ReadBackSucceeded = ok;
}

void RomReadBackEngine::RomReadBack(RunState& run, RunHost& host) {
    MainView& view = host.view();
    const Sinks sinks = view.sinks();
    // Runs once: later ticks take the controller's other cases.
    view.stopStopTimer();
    view.setUpgradeEnabled(false);
    run.GetMode = false;
    host.showLogIfEnabled();

    running_ = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } guard{running_};

    const QString address = MainWindowLogic::FirstWord(view.ipText());
    if (!host.search().echo(address)) {
        sinks.logLine(QStringLiteral("Unconnect to router : ") + address);
        finished(run, false);
        sinks.showBox(UnconnectText, ConnectionCaption, BoxButtons::Ok);
        return; // the window stays; nothing is retried
    }

    const QString output = host.runSettings().getText(SettingsRecord::GetOutputName);
    const RomNumber offset = ParseRomNumber(host.runSettings().getText(SettingsRecord::GetOffset));
    const RomNumber length = ParseRomNumber(host.runSettings().getText(SettingsRecord::GetLength));
    const QString remote = RemoteName(offset.value, length.value);
    const QString password = view.passwordText();

    sinks.logLine(TryFtpText);
    int rc = 0;
    try {
        rc = ftp_->FtpGetRom(sinks, address, password, remote, output);
    } catch (const std::exception& e) {
        // Nothing above the event loop could take it: the read-back stops here, told.
        stoppedBy(run, host, QString::fromLocal8Bit(e.what()));
        return;
    } catch (...) {
        stoppedBy(run, host, UnexpectedText);
        return;
    }
    const QString ftpResult = ftp_->resultText();
    switch (rc) {
    case FtpRetrievalFailed:
        sinks.logLine(ftpResult);
        finished(run, false);
        // With the log shown the window stays for reading.
        if (!host.logShown())
            view.closeWindow();
        return;
    case FtpPasswordRefused:
        finished(run, false);
        sinks.showBox(PasswordErrorText, FailureCaption, BoxButtons::Ok);
        sinks.showBox(QStringLiteral("Pass: ") + password, FtpPassCaption, BoxButtons::OkCancel);
        view.closeWindow();
        return;
    case FtpReceived:
        sinks.logLine(FtpSuccessText);
        finished(run, true);
        if (!host.logShown())
            view.closeWindow();
        return;
    default:
        break;
    }

    sinks.logLine(ftpResult);
    sinks.logLine(TryHttpText);
    try {
        httpRead(run, host, address, password, output, offset, length, ftpResult);
    } catch (const std::exception& e) {
        sinks.logLine(QString::fromLocal8Bit(e.what()));
        finished(run, false);
        view.closeWindow();
    } catch (...) {
        sinks.logLine(UnexpectedText);
        finished(run, false);
        view.closeWindow();
    }
}

void RomReadBackEngine::stoppedBy(RunState& run, RunHost& host, const QString& message) {
    const Sinks sinks = host.view().sinks();
    sinks.logLine(message);
    finished(run, false);
    sinks.showBox(message, QString(), BoxButtons::Ok, BoxIcon::Error);
}

void RomReadBackEngine::httpRead(RunState& run, RunHost& host, const QString& address,
                                 const QString& password, const QString& output,
                                 const RomNumber& offset, const RomNumber& length,
                                 const QString& ftpResult) {
    MainView& view = host.view();
    const Sinks sinks = view.sinks();

    LoginContext ctx;
    ctx.sinks = sinks;
    ctx.upgradeMethod = &run.UpgradeMethod;
    ctx.webPort = host.webPort();
    const int r = CheckLogin(ctx, password, address);
    if (r < 0) {
        finished(run, false);
        ReportLoginRefusal(sinks, r, QStringLiteral("Receive response error 7"));
        return; // the window stays; nothing is retried
    }

    int h = -1;
    {
        // The engine is gone before the window closes.
        HttpEngine engine;
        h = engine.HttpGetRom(sinks, address, host.webPort(), output, password, offset.value,
                              length.value, offset.text, length.text);
    }
    if (h < 0) {
        finished(run, false);
        sinks.showBox(HttpErrorText, FailureCaption, BoxButtons::Ok);
        sinks.logLine(ftpResult);
    } else {
        finished(run, true);
    }
    view.closeWindow();
}

} // namespace fw

#include "ftp/FtpUpgradeEngine.h"

#include "net/RomStretch.h"
#include "transfer/FileAttributes.h"
#include "ui/SecretText.h"

#include <QFile>

namespace fw {

namespace {

const QString kUpgrading = QStringLiteral("Upgrading! Do NOT exit or power off the device.");
const QString kWrongPassword = QStringLiteral("Incorrect password. Please check and input again!");
const QString kUserName = QStringLiteral("root");

} // namespace

FtpUpgradeEngine::FtpUpgradeEngine(quint16 port, QObject* parent)
    : QObject(parent), FtpClient1(std::make_unique<TFtpClient>()), port_(port) {
    TFtpClient& c = *FtpClient1;
    c.Port = port;
    c.TimeOut = ClientTimeOut;
    c.ReportLevel = ClientReportLevel;
    c.Passive = false;
    c.OnConnect = [this](TFtpClient&) { FtpClient1Connect(); };
    c.OnStatus = [this](TTcpSocket&, const QString& text) { FtpClient1Status(text); };
    c.OnPacketSent = [this](TTcpSocket&) { FtpClient1PacketSent(); };
    c.OnPacketRecvd = [this](TTcpSocket&) { FtpClient1PacketRecvd(); };
    c.OnError = [this](TTcpSocket&, int number, const QString& text) {
        FtpClient1Error(number, text);
    };
    // OnFailure is bound but does nothing, so every failure reaches the engine.
    c.OnFailure = [](TFtpClient&, bool&, int) {};
}

FtpUpgradeEngine::~FtpUpgradeEngine() = default;

// ---- events of the client

void FtpUpgradeEngine::FtpClient1Connect() {
    setStatus(QStringLiteral("Connecting to device"));
}

void FtpUpgradeEngine::FtpClient1Status(const QString& text) {
    if (text.left(3) == u"429") {
        currentIndex_ = RejectedIndex;
        resultText_ = QStringLiteral("Incorrect upgrade file. Please check again!");
        sinks_.logLine(QStringLiteral("Upgrade file error"));
    }
}

void FtpUpgradeEngine::FtpClient1PacketSent() {
    // Every send would set the same text again; once per file is what shows.
    if (lastStatus_ != kUpgrading)
        setStatus(kUpgrading);
    // The bar follows the bytes of the file being stored, a few times a second.
    if (fileSize_ >= 0 && progressShown_.isValid() &&
        progressShown_.elapsed() >= ProgressInterval.count()) {
        progressShown_.start();
        sinks_.setProgressPosition(progress_ + std::min(FtpClient1->GetBytesSent(), fileSize_));
    }
}

void FtpUpgradeEngine::FtpClient1PacketRecvd() {
    // The running total is added at every block, so the bar fills early; it stops at its end.
    romProgress_ = std::min(RomProgressMaximum, romProgress_ + FtpClient1->GetBytesRcvd());
    sinks_.setProgressPosition(romProgress_);
}

void FtpUpgradeEngine::FtpClient1Error(int number, const QString& text) {
    sinks_.logLine(QStringLiteral("Error ") + QString::number(number) + QStringLiteral(": ") +
                   text);
}

// ---- helpers

void FtpUpgradeEngine::setStatus(const QString& text) {
    lastStatus_ = text;
    sinks_.setStatus(text);
}

void FtpUpgradeEngine::setUpClient(const QString& routerIp, const QString& password) {
    TFtpClient& c = *FtpClient1;
    c.ReportLevel = EngineReportLevel;
    c.Host = routerIp;
    c.Port = port_;
    c.UserID = kUserName;
    c.Password = password;
    registerSecret(password); // the server's replies may quote it
}

void FtpUpgradeEngine::logBound(const FtpException& e) {
    if (dynamic_cast<const EReplyBound*>(&e))
        sinks_.logLine(e.message());
}

void FtpUpgradeEngine::disconnectQuietly() {
    try {
        FtpClient1->Disconnect();
    } catch (const FtpException&) {
        // The socket is closed anyway; a refused "QUIT" changes nothing for the caller.
    }
}

qint64 FtpUpgradeEngine::UploadLength() {
    if (!selector_)
        return -1;
    const qint64 total = selector_->UploadLength();
    if (total < 0)
        resultText_ = selector_->resultText;
    return total;
}

int FtpUpgradeEngine::SelectNextFile(int start) {
    if (!selector_)
        return FileSelector::NoFiles;
    const int r = selector_->SelectNextFile(start);
    sentSections_ = selector_->sentSections;
    if (r == FileSelector::NoFiles)
        resultText_ = selector_->resultText;
    return r;
}

// ---- the upgrade

int FtpUpgradeEngine::FtpUpgrade(StopCounter& stopCounter, const Sinks& sinks,
                           const ExtractionList& files, const QString& routerIp,
                           const QString& romId, qint32 routerType, const QString& password) {
    filesSent = 0;
    sentSections_.clear();
    sinks_ = sinks;
    files_ = &files;
    routerIp_ = routerIp;
    romId_ = romId;
    routerType_ = routerType;
    lastStatus_.clear();
    setUpClient(routerIp, password);
    FtpClient1->DownloadLimit = -1;
    selector_ = std::make_unique<FileSelector>(files, romId, FileChoiceRules::ftp(), sinks);
    selector_->setMessageShower([this](const ExtractionEntry& e) {
        const int r = selector_->showMessageFile(e);
        if (r < 0)
            failedMessagePath_ = e.path;
        return r;
    });

    totalLength_ = UploadLength();
    if (totalLength_ < 0) {
        resultText_ = QStringLiteral("Get total upgrade fle length error");
        sinks_.logLine(resultText_);
        return -1;
    }
    sinks_.setProgressMaximum(totalLength_);
    sinks_.setProgressPosition(0);
    progress_ = 0;
    selector_->skipDefault = false;
    currentIndex_ = -1;

    try {
        FtpClient1->Connect();
        progress_ += totalLength_ / 32;
        sinks_.setProgressPosition(progress_);
        for (;;) {
            if (currentIndex_ == RejectedIndex) {
                FtpClient1->Disconnect();
                return -1;
            }
            const int next = SelectNextFile(currentIndex_ + 1);
            if (next == FileSelector::NoMoreFiles) {
                resultText_ = QStringLiteral("Upgrade Successfully !");
                FtpClient1->Disconnect();
                sinks_.logLine(QStringLiteral("Total upgrade file count in FTP mode: ") +
                               QString::number(filesSent));
                setStatus(QStringLiteral("Upgrade Successfully"));
                return 1;
            }
            if (next == FileSelector::NoFiles) {
                resultText_ = QStringLiteral("FTP upgrade Failure !");
                sinks_.logLine(QStringLiteral("Get error file index in FTP mode"));
                FtpClient1->Disconnect();
                return -1;
            }
            if (next < 0) {
                // A message file that cannot be opened would fail again at every new pass; the
                // upgrade ends here instead (HTTP is tried next).
                resultText_ = QStringLiteral("Message file onen error : ") + failedMessagePath_;
                FtpClient1->Disconnect();
                return -1;
            }
            currentIndex_ = qint16(next);
            if (!FtpClient1->Connected()) {
                resultText_ = QStringLiteral("FTP connect failure in upgrading !");
                FtpClient1->Disconnect();
                return -1;
            }
            const int r = storeFile(stopCounter);
            if (r != 0)
                return r;
        }
    } catch (const FtpException& e) {
        logBound(e);
        return upgradeHandlerA(e.message());
    }
}

int FtpUpgradeEngine::FtpLoginCheck(const Sinks& sinks, const QString& routerIp,
                              const QString& password) {
    sinks_ = sinks;
    lastStatus_.clear();
    setUpClient(routerIp, password);
    try {
        FtpClient1->Connect();
        FtpClient1->Disconnect();
        resultText_ = QStringLiteral("Login password correct");
        return 1;
    } catch (const FtpException& e) {
        logBound(e);
        return upgradeHandlerA(e.message());
    }
}

int FtpUpgradeEngine::storeFile(StopCounter& stopCounter) {
    try {
        const QString path = (*files_)[currentIndex_].path;
        QString name = path;
        if (name.endsWith(QStringLiteral(".tmp"), Qt::CaseSensitive))
            name.chop(4);
        stopCounter = 0;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            resultText_ = QStringLiteral("Upgrade File Error");
            return -4;
        }
        const qint64 size = file.size();
        file.close();
        lastStatus_.clear();
        fileSize_ = size;
        progressShown_.start();
        FtpClient1->Upload(path, cutPath(name));
        fileSize_ = -1;
        if (FtpClient1->TransferReplyMissing)
            sinks_.logLine(QStringLiteral("No reply after ") + cutPath(name) +
                           QStringLiteral(": the router hung up after taking the whole file; "
                                          "counted as accepted"));
        progress_ += size;
        sinks_.setProgressPosition(progress_);
        ++filesSent;
        return 0;
    } catch (const FtpException& e) {
        logBound(e);
        return upgradeHandlerB(e.message());
    }
}

int FtpUpgradeEngine::upgradeHandlerB(const QString& m) {
    if (m.left(3) == u"550") {
        FtpClient1->Disconnect();
        setStatus(QStringLiteral("Please ReSelect Upgrade File Again."));
        sinks_.logLine(QStringLiteral("Upgrade File Error"));
        resultText_ = QStringLiteral("Upgrade File Error");
        return -4;
    }
    sinks_.logLine(QStringLiteral("Unknow error1 in FTP mode:") + m);
    resultText_ = QStringLiteral("Unknow exception :") + m;
    return -1;
}

int FtpUpgradeEngine::upgradeHandlerA(const QString& m) {
    return handlerA(m, QStringLiteral("Password Error"),
                    QStringLiteral("Unknow error2 in FTP mode.") + m,
                    QStringLiteral("Unknow exception2") + m);
}

// The outer failure handler the upgrade and the ROM read share; only their texts differ.
int FtpUpgradeEngine::handlerA(const QString& m, const QString& passwordLog,
                         const QString& unconnectedLog, const QString& unconnectedResult) {
    if (m.left(3) == u"530") {
        disconnectQuietly();
        sinks_.logLine(passwordLog);
        resultText_ = kWrongPassword;
        setStatus(kWrongPassword);
        return -2;
    }
    if (FtpClient1->Connected()) {
        disconnectQuietly();
        setStatus(QStringLiteral("Unknow exception terminate."));
        sinks_.logLine(QStringLiteral("Unknow exception in FTP mode while connected"));
        resultText_ = QStringLiteral("Unknow exception");
        return -1;
    }
    sinks_.logLine(unconnectedLog);
    resultText_ = unconnectedResult;
    return -1;
}

// ---- the ROM read

int FtpUpgradeEngine::FtpGetRom(const Sinks& sinks, const QString& routerIp, const QString& password,
                          const QString& remoteName, const QString& localPath) {
    sinks_ = sinks;
    setUpClient(routerIp, password);
    // "<offset>#<length>": a server that sends more than the length asked for is cut off.
    const qsizetype hash = remoteName.indexOf(u'#');
    bool lengthOk = false;
    const qint64 length = hash >= 0 ? remoteName.mid(hash + 1).toLongLong(&lengthOk) : -1;
    FtpClient1->DownloadLimit = lengthOk && length >= 0 ? length : -1;
    sinks_.setProgressMaximum(RomProgressMaximum);
    sinks_.setProgressPosition(0);
    romProgress_ = 0;
    try {
        FtpClient1->Connect();
        if (!FtpClient1->Connected()) {
            resultText_ = QStringLiteral("FTP connect failure in get Rom File !");
            FtpClient1->Disconnect();
            return -1;
        }
        try {
            TFtpClient& c = *FtpClient1;
            c.Download(remoteName, localPath);
            if (c.DownloadExcess > 0)
                sinks_.logLine(RomStretch::offeredMoreText(c.DownloadExcess, length));
            if (c.TransferReplyMissing)
                sinks_.logLine(QStringLiteral("No reply after the ROM data: the router hung up "
                                              "after all %1 bytes; counted as received")
                                   .arg(length));
            if (c.DownloadLimit >= 0 && c.GetBytesRcvd() < c.DownloadLimit) {
                resultText_ = RomStretch::cutShortText(c.GetBytesRcvd(), length);
                sinks_.logLine(resultText_);
                disconnectQuietly();
                return CutShort;
            }
            sinks_.logLine(QStringLiteral("Data=") + remoteName);
            sinks_.logLine(QStringLiteral("Save data to :") + localPath);
        } catch (const FtpException& e) {
            logBound(e);
            const QString c = e.message().left(3);
            if (c == u"550") {
                FtpClient1->Disconnect();
                setStatus(QStringLiteral("Get Rom File command error."));
                sinks_.logLine(QStringLiteral("Get Rom File Error"));
                resultText_ = QStringLiteral("Get Rom File Error");
                FtpClient1->Disconnect();
                return -1;
            }
            sinks_.logLine(QStringLiteral("Unknow error in FTP mode."));
            const qint64 got = FtpClient1->GetBytesRcvd();
            if (got > 0 && got < FtpClient1->DownloadLimit)
                sinks_.logLine(RomStretch::cutShortText(got, length));
            resultText_ = c;
            FtpClient1->Disconnect();
            return -3;
        }
        return 1;
    } catch (const FtpException& e) {
        logBound(e);
        return romHandlerA(e.message());
    }
}

int FtpUpgradeEngine::romHandlerA(const QString& m) {
    return handlerA(m, QStringLiteral("Get Rom File Password Error"),
                    QStringLiteral("Unknow error3 in FTP mode.(NO Connect)"),
                    QStringLiteral("Unknow exception with NO Connect "));
}

} // namespace fw

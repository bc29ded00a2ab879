#pragma once
// The FTP upgrade engine (login as "root", the files chosen by attribute and ROM identifier stored
// one by one, message files shown on the way) and the ROM read over FTP. Never shown, so a QObject.
// Lives on the GUI thread for the whole run and serves one operation at a time; its waits keep the
// event loop turning.

#include "ftp/TFtpClient.h"
#include "package/FileSelector.h"
#include "transfer/FtpRomReadService.h"
#include "transfer/FtpUpgradeService.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

namespace fw {

class FtpUpgradeEngine : public QObject, public FtpUpgradeService, public FtpRomReadService {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 21;
    // The client's time-out: connection, host lookup, and the pause allowed between received
    // blocks.
    static constexpr std::chrono::milliseconds ClientTimeOut{1000};
    static constexpr int ClientReportLevel = TTcpSocket::LevelTrace;
    // The level the engine uses: commands and reply lines only.
    static constexpr int EngineReportLevel = TTcpSocket::LevelList;
    // currentIndex when the router rejected an upgrade file ("429").
    static constexpr qint16 RejectedIndex = 1003;
    static constexpr qint64 RomProgressMaximum = 300;
    // The bar moves with the bytes of an upload at most this often.
    static constexpr std::chrono::milliseconds ProgressInterval{100};

    explicit FtpUpgradeEngine(quint16 port = DefaultPort, QObject* parent = nullptr);
    ~FtpUpgradeEngine() override;

    // 1 every chosen file stored; -2 password refused; -4 upgrade file error; -1 other failure.
    int FtpUpgrade(StopCounter& stopCounter, const Sinks& sinks, const ExtractionList& files,
                   const QString& routerIp, const QString& romId, qint32 routerType,
                   const QString& password) override;
    int FtpLoginCheck(const Sinks& sinks, const QString& routerIp,
                      const QString& password) override;
    // 1 file received; -2 password refused; -3 failure during the retrieval; CutShort (the
    // bytes kept); -1 other failure.
    int FtpGetRom(const Sinks& sinks, const QString& routerIp, const QString& password,
                  const QString& remoteName, const QString& localPath) override;
    QString resultText() const override { return resultText_; }
    QString sentSections() const override { return sentSections_; }

    // Total size of the entries to send, or -1 with resultText set.
    qint64 UploadLength();
    // The next entry to send from `start`; FileSelector::NoMoreFiles, NoFiles, MessageOpenError.
    int SelectNextFile(int start);
    // The window's activation: a new count of files sent.
    void FormActivate() { filesSent = 0; }
    // Ends the wait of an operation in progress (the program is closing).
    void cancel() override { FtpClient1->CancelAll(); }

    TFtpClient& client() { return *FtpClient1; }
    quint16 port() const { return port_; }
    qint16 currentIndex() const { return currentIndex_; }
    int filesSent = 0;

private:
    void FtpClient1Connect();
    void FtpClient1Status(const QString& text);
    void FtpClient1PacketSent();
    void FtpClient1PacketRecvd();
    void FtpClient1Error(int number, const QString& text);

    void setUpClient(const QString& routerIp, const QString& password);
    void setStatus(const QString& text);
    // One file of the upgrade loop (guarded region B); 0 to go on, else the result.
    int storeFile(StopCounter& stopCounter);
    int upgradeHandlerA(const QString& message);
    int upgradeHandlerB(const QString& message);
    int romHandlerA(const QString& message);
    int handlerA(const QString& message, const QString& passwordLog, const QString& unconnectedLog,
                 const QString& unconnectedResult);
    // A reply past the client's bound is told in a line of its own.
    void logBound(const FtpException& e);
    // Disconnect inside a failure handler: the socket is closed whatever the "QUIT" reply says.
    void disconnectQuietly();

    std::unique_ptr<TFtpClient> FtpClient1;
    quint16 port_;
    Sinks sinks_;
    const ExtractionList* files_ = nullptr;
    QString routerIp_;
    QString romId_;
    qint32 routerType_ = 0;
    std::unique_ptr<FileSelector> selector_;
    QString failedMessagePath_;
    qint16 currentIndex_ = -1;
    qint64 totalLength_ = 0;
    QString resultText_;
    QString sentSections_;
    QString lastStatus_;
    qint64 romProgress_ = 0;
    qint64 progress_ = 0;  // the bar's position before the file being stored
    qint64 fileSize_ = -1; // the size of the file being stored (-1: none)
    QElapsedTimer progressShown_;
};

} // namespace fw

#pragma once
// One HTTP exchange with the router's web server: the firmware upload (one multipart POST of
// the chosen files) and the ROM read. Lives for one exchange; the upload runs on the HTTP worker
// thread and reports only through the sinks it is handed.

#include "net/SocketClient.h"
#include "package/FileSelector.h"
#include "transfer/ExtractionList.h"
#include "transfer/StopCounter.h"
#include "ui/Sinks.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <memory>

namespace fw {

class HttpEngine {
public:
    // The router answers the upload in one short page; a longer one is a receive failure.
    static constexpr int ReplyCapacity = 1465;
    // The router needs a moment after the last byte before its answer is complete.
    static constexpr std::chrono::milliseconds ReplyPause{300};
    // Files are streamed through a buffer of this size instead of being read whole.
    static constexpr qint64 StreamChunkSize = qint64(1) << 20;
    // O and L of the ROM read request together.
    static constexpr int MaxRomQueryLength = 29;

    HttpEngine();
    ~HttpEngine();
    HttpEngine(const HttpEngine&) = delete;
    HttpEngine& operator=(const HttpEngine&) = delete;

    // 1 accepted, -1 failure; resultText and sentSections are set in both cases.
    int UploadFirmware(StopCounter& stopCounter, const Sinks& sinks, const ExtractionList& files,
                       const QString& routerIp, quint16 port, const QString& romId);

    // Reads the router's ROM data "GET /config.bin?O=..&L=.." into `destPath` (an existing file
    // is kept as destPath + ".BAK"). `length` is the progress maximum; `password` and `offset`
    // are not used. 1 with resultText "Get ROM file success", or -1 with the socket's text.
    int HttpGetRom(const Sinks& sinks, const QString& routerIp, quint16 port,
                   const QString& destPath, const QString& password, qint32 offset, qint32 length,
                   const QString& oText, const QString& lText);

    // The exchange of the login check in engine form: 1, or -1 with resultText set.
    int ConnectAndSend(const QByteArray& request, const QString& routerIp, quint16 port);
    // Byte count, or -1 with resultText set.
    int ReceiveResponse(QByteArray& reply, int capacity);

    // The file choice of this upload (valid inside UploadFirmware, or after prepareSelection).
    void prepareSelection(const Sinks& sinks, const ExtractionList& files, const QString& romId);
    qint64 UploadLength();
    int SelectNextFile(int start, bool verbose);

    // Request header, empty line and part header for `totalLength` bytes of files.
    static QByteArray BuildUploadHeader(qint64 totalLength);
    static QByteArray PartHeader();
    static QByteArray EndMarker();
    // Reads and classifies the router's answer to the upload: 1 or -1.
    int CheckUploadResult();

    void setConnectTimeout(std::chrono::milliseconds t) { socket_.setConnectTimeout(t); }
    void setTransferTimeout(std::chrono::milliseconds t) { socket_.setTransferTimeout(t); }

    QString resultText;
    QString sentSections;
    qint32 filesSent = 0;

private:
    void useSinks(const Sinks& sinks);
    // Opens the connection; false with resultText set and the failure logged.
    bool connectToRouter(const QString& routerIp, quint16 port);
    // Streams one selected file, the end marker straight after its last byte when `last`.
    // Bytes sent, or -1 with resultText set and the failure logged.
    qint64 sendFile(const QString& path, bool last);

    SocketClient socket_;
    Sinks sinks_;
    std::unique_ptr<FileSelector> selector_;
    qint16 currentIndex_ = -1;
};

} // namespace fw

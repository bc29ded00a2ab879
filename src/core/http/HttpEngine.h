#pragma once
// One HTTP exchange with the router's web server: the firmware upload (one multipart POST of
// the chosen files) and the ROM read. Lives for one exchange; the upload runs on the HTTP worker
// thread and reports only through the sinks it is handed.

#include "ProcessState.h"
#include "package/ExtractionList.h"
#include "ui/Sinks.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace fw {

class HttpEngine {
public:
    HttpEngine();
    ~HttpEngine();
    HttpEngine(const HttpEngine&) = delete;
    HttpEngine& operator=(const HttpEngine&) = delete;

    // 1 accepted, -1 failure; resultText and sentSections are set in both cases.
    int UploadFirmware(StopCounter& stopCounter, const Sinks& sinks, const ExtractionList& files,
                       const QString& routerIp, quint16 port, const QString& romId);

    QString resultText;
    QString sentSections;
    qint32 filesSent = 0;
};

} // namespace fw

#include "upgrade/THTTPThread.h"

#include "http/HttpEngine.h"
#include "transfer/Phase.h"

#include <QMutexLocker>

namespace fw {

const QString THTTPThread::SectionWarningText =
    QStringLiteral("Upgrade Not complete, please run this program again !");

THTTPThread::THTTPThread(HttpUploadJob job, QObject* parent)
    : QThread(parent), job_(std::move(job)) {}

THTTPThread::~THTTPThread() = default;

QString THTTPThread::sentSections() const {
    QMutexLocker lock(&mutex_);
    return sentSections_;
}

QString THTTPThread::resultText() const {
    QMutexLocker lock(&mutex_);
    return resultText_;
}

void THTTPThread::run() {
    StopCounter& stop = *job_.stopCounter;
    const Sinks& sinks = job_.sinks;
    QString text;
    {
        HttpEngine engine;
        if (job_.transferTimeout.count() > 0)
            engine.setTransferTimeout(job_.transferTimeout);
        const int u =
            engine.UploadFirmware(stop, sinks, job_.files, job_.routerIp, job_.port, job_.romId);
        text = engine.resultText;
        {
            QMutexLocker lock(&mutex_);
            resultText_ = text;
            if (u >= 0)
                sentSections_ = engine.sentSections;
        }
        result_ = u;
        if (u < 0) {
            stop = StopCode::HttpFailed;
            *job_.phase = Phase::HttpFailed;
            sinks.showBox(text, QStringLiteral("Failure"), BoxButtons::Ok);
        } else {
            stop = StopCode::HttpAccepted;
            *job_.phase = Phase::HttpAccepted;
            if (job_.sectionCheck && engine.sentSections != job_.sectionList)
                sinks.showBox(SectionWarningText, QStringLiteral("Upgrade Warning"),
                              BoxButtons::Ok);
            else if (job_.interactive && !job_.factoryRelease)
                sinks.showBox(text, QStringLiteral("Success"), BoxButtons::Ok);
            if (job_.enableUpgrade)
                job_.enableUpgrade();
        }
        sinks.setStatus(text);
    }
    done_ = true;
    stop = StopCode::HttpDone;
}

} // namespace fw

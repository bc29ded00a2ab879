#pragma once
// The HTTP worker: one QThread per HTTP upload that runs HttpEngine::UploadFirmware and stores its
// outcome in the stop counter and the phase. Its run() lives on the worker thread; the object is
// created, joined and deleted by the GUI thread (the upgrade controller).

#include "transfer/ExtractionList.h"
#include "transfer/RunState.h"
#include "transfer/StopCounter.h"
#include "ui/Sinks.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <functional>

namespace fw {

// Everything the worker needs, copied before it starts so the GUI thread may go on changing its
// own fields. The pointers outlive the worker (the controller joins it before they go away).
struct HttpUploadJob {
    StopCounter* stopCounter = nullptr;
    std::atomic<qint16>* phase = nullptr;
    Sinks sinks;          // worker-side: every report and box is handed to the GUI thread
    ExtractionList files; // the extraction list copy
    QString routerIp;
    quint16 port = 80;
    QString romId;
    bool sectionCheck = false;
    QString sectionList;
    bool interactive = false;
    bool factoryRelease = false;
    // Bound on each send and receive of the upload (0: the socket client's own).
    std::chrono::milliseconds transferTimeout{0};
    std::function<void()> enableUpgrade; // queued to the GUI thread by the controller

    // The run's share of the job: its counter and phase (shared), files and section rules (copied).
    void takeRun(RunState& run) {
        stopCounter = &run.stopCounter;
        phase = &run.UpgradePhase;
        files = run.extractionCopy;
        sectionCheck = run.SectionCheck;
        sectionList = run.sectionList;
        interactive = run.Interactive;
        factoryRelease = run.FactoryRelease;
    }
};

class THTTPThread : public QThread {
    Q_OBJECT
public:
    explicit THTTPThread(HttpUploadJob job, QObject* parent = nullptr);
    ~THTTPThread() override;

    // Read by the GUI thread once the stop counter says 122, 123 or 124.
    QString sentSections() const;
    QString resultText() const;
    int result() const { return result_.load(); }
    // The run produced its outcome (the stop counter has been set to 124).
    bool done() const { return done_.load(); }

    static const QString
        SectionWarningText; // "Upgrade Not complete, please run this program again !"

protected:
    void run() override;

private:
    HttpUploadJob job_;
    mutable QMutex mutex_;
    QString sentSections_;
    QString resultText_;
    std::atomic<int> result_{0};
    std::atomic<bool> done_{false};
};

} // namespace fw

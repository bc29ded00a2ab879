#pragma once
// The state of one run, in one owner: the watchdog's stop counter, the phase and method, the files
// and sections, the run's flags and limit, and how it ends. The main window's logic holds it; the
// upgrade controller, the HTTP worker's hand-off and the ROM read-back take it. GUI thread, except
// stopCounter and UpgradePhase, which the engines and the HTTP worker also write.

#include "transfer/ExtractionList.h"
#include "transfer/Method.h"
#include "transfer/Phase.h"
#include "transfer/StopCounter.h"
#include "transfer/UpgradeOptions.h"

#include <QString>
#include <QtGlobal>
#include <atomic>

namespace fw {

// Process exit statuses of a run.
namespace ExitStatus {
inline constexpr int Ok = 0;
inline constexpr int Failed = 1;       // upgrade or read-back failed
inline constexpr int StartupEnded = 2; // unreadable package or settings, no password input
inline constexpr int NeedsPerson = 3;  // headless run reached a state only a person could leave
inline constexpr int Unconfirmed = 4;  // upgrade sent, router not back in time or a mismatch
} // namespace ExitStatus

struct RunState {
    StopCounter stopCounter{0};
    std::atomic<qint16> UpgradePhase{0};
    qint16 UpgradeMethod = Method::None;
    quint16 StopLimit = 40;

    // The files to send (the extraction list copy) and whether one was chosen.
    ExtractionList extractionCopy;
    qint16 HaveUpgradeFile = 0;
    QString UserId;

    // The sections the last transfer sent, and those it must send when SectionCheck is set.
    QString UpgradeSection;
    QString sectionList;
    bool SectionCheck = false;

    bool PutMode = false, GetMode = false, AutoStart = false;
    bool Interactive = false, OrderFromSettings = false, FactoryRelease = false;

    UpgradeOptions options = UpgradeOptions::fromEnvironment();

    // How the run ends (see ExitStatus); the front returns it from main().
    int exitStatus = ExitStatus::Ok;
    // exitStatus is final without a transfer phase to go by (skip, dry run, verification).
    bool outcomeDecided = false;
    // The ROM read-back wrote its file: a window left open for reading the log ends with 0.
    bool ReadBackSucceeded = false;

    // A transfer is marked running (phase 11, 121 or 131).
    bool transferRunning() const;
    // Section checking is on and the sections sent are not the ones expected.
    bool sectionsDiffer() const { return SectionCheck && UpgradeSection != sectionList; }
    // What was already decided, else by the last transfer (succeeded 0, failed 1), else 3.
    int outcome() const;
    // A failure unless the run has already ended otherwise.
    void markFailed() {
        if (exitStatus == ExitStatus::Ok)
            exitStatus = ExitStatus::Failed;
    }
};

} // namespace fw

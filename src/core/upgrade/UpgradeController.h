#pragma once
// The upgrade controller: Upgrade pressed or started automatically, the echo test, the login
// check, the method loop (TFTP, HTTP, FTP with fall-back), the HTTP worker thread and the
// StopTimer watchdog. Takes the run's state (RunState) and what it needs of the main window
// (RunHost). GUI thread; the worker hands every report back to it.

#include "upgrade/RomReadBackEngine.h"
#include "upgrade/TransferServices.h"
#include "upgrade/VerifyWait.h"

#include <QObject>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace fw {

struct RunState;
class RunHost;
class THTTPThread;
class GuiThreadSinks;

class UpgradeController {
public:
    // `run` and `host` are the main window's logic, which outlives the controller.
    UpgradeController(RunState& run, RunHost& host);
    ~UpgradeController();
    UpgradeController(const UpgradeController&) = delete;
    UpgradeController& operator=(const UpgradeController&) = delete;

    void UpgradeClick();
    void StopTimerTimer();

    // A transfer, the HTTP worker, an automatic start or the watchdog is still under way, so the
    // program must not be ended for being idle.
    bool busy() const;

    // The FTP, TFTP and read-back engines; null members keep the "not available" stand-ins
    // (for the read-back: the controller's own RomReadBackEngine).
    void setTransferServices(const TransferServices& services);
    // The FTP ROM read the read-back tries before HTTP; null restores the stand-in.
    void setFtpRomRead(FtpRomReadService* ftp);

    // The run ends for good before its transfer has ended: the person confirmed closing the
    // window (`byPerson`), or the watchdog fired. Later results of the run go to the System Log
    // only; the engine is cancelled and, once it has let go of the files (at once, or when the
    // FTP call below on this thread returns), the files are removed and the program ends with
    // status 1. True when that has happened already, false while the FTP call still unwinds.
    bool endRun(bool byPerson);
    bool runEnded() const { return runEnded_; }

    // The wait for the router to restart ends without an outcome (the window closes).
    void stopVerify() { verify_.stop(); }
    bool verifying() const { return verify_.running(); }
    // The detail the search found for the router of this run ("" when none).
    QString routerDetail() const { return routerDetail_; }

    // Waits (bounded) until the HTTP worker's thread has ended; true when none is left running.
    bool waitForWorker(std::chrono::milliseconds bound);
    bool workerRunning() const;

    // How long the GUI thread waits for the worker when it reports done, and at the end.
    static constexpr std::chrono::milliseconds WorkerDoneJoin{5000};
    static constexpr std::chrono::milliseconds WorkerShutdownJoin{10000};
    static constexpr std::chrono::milliseconds WorkerPollStep{20};
    // How much longer than the watchdog the upload's socket waits for a stalled router.
    static constexpr std::chrono::seconds WorkerSocketGrace{5};
    static constexpr int UserIdMaxLength = 19;

    // Process-wide router values of the current upgrade (written before the worker starts).
    QString RouterIP;
    QString RouterRomId;
    qint32 RouterType = 0;
    qint32 LoginPort = 0;
    bool BasicAuthNeeded = false;
    // The TFTP engine's file-open flag (the controller never reads it).
    qint32 TftpFileOpen = 0;

    // The watchdog's next count: skips the stop-counter signal codes, so a long limit can never
    // land on a pause code and freeze.
    static std::uint16_t nextCount(std::uint16_t c);

private:
    enum class Step { LeaveLoop, End, Again };

    void methodLoop();
    Step tftpBranch();
    Step httpBranch();
    Step ftpBranch();
    Step httpLogin(); // CheckLogin and BasicAuthLogin with their reactions
    bool noFileChosen() const;
    Step refuseNoFile();
    void startWorker();
    void httpDone();
    void tftpFinished();
    void tftpRejected();
    void watchdogExpired();
    void failed();
    void succeeded();
    void finishEndedRun();
    bool skipCurrent();
    Step dryRun(qint16 method);
    // After an accepted upgrade: the wait for the router when FWUPGRADE_VERIFY asks for it,
    // then `then` (at once without it).
    void confirmThen(const std::function<void()>& then);
    // The end of an unattended run after its transfer (the method loop's last step).
    void endIfUnattended();

    // The boxes of the run: shown while it lasts, written to the System Log once it has ended.
    class RunBoxGate final : public BoxSink {
    public:
        RunBoxGate(UpgradeController& owner, const Sinks& view) : owner_(owner), view_(view) {}
        BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                          BoxIcon icon) override;

    private:
        UpgradeController& owner_;
        Sinks view_;
    };

    RunState& run_;
    RunHost& host_;
    QObject gui_; // context for calls queued from the worker to the GUI thread
    RunBoxGate boxGate_;
    std::unique_ptr<GuiThreadSinks> workerSinks_;
    std::unique_ptr<THTTPThread> worker_;
    UnavailableFtpUpgrade noFtp_;
    UnavailableTftpUpgrade noTftp_;
    UnavailableFtpRomRead noFtpRomRead_;
    RomReadBackEngine readBack_{&noFtpRomRead_};
    TransferServices services_;
    bool runEnded_ = false;      // the watchdog or the person ended the run
    bool ending_ = false;        // endRun has begun its work
    bool ftpCallActive_ = false; // the FTP engine's call is below on this thread's stack
    QString routerDetail_;
    VerifyWait verify_;
};

} // namespace fw

#include "upgrade/UpgradeController.h"

#include "http/LoginCheck.h"
#include "net/SocketClient.h"
#include "package/FileSelector.h"
#include "process/EventWait.h"
#include "search/DeviceSearch.h"
#include "transfer/RunState.h"
#include "ui/GuiThreadSinks.h"
#include "ui/RunEvents.h"
#include "upgrade/MainView.h"
#include "upgrade/MainWindowLogic.h"
#include "upgrade/RunHost.h"
#include "upgrade/THTTPThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace fw {

namespace {

// HTTP, FTP, HTTP again is the longest chain the method loop can take.
constexpr int MaxMethodPasses = 4;
constexpr int MaxCounterRetries = 4;

const QString NoFileText =
    QStringLiteral("Upgrade file Not select, please select a upgrade file !");
const QString UpgradeWarningCaption = QStringLiteral("Upgrade Warning");
const QString AuthFailedCaption = QStringLiteral("Authentication Failed");
const QString AbnormalText =
    QStringLiteral("Upgrade Abnormal Terminate and Please ReRun the program to ReUpgrade");

bool isRunningPhase(qint16 p) {
    return p == Phase::TftpRunning || p == Phase::HttpRunning || p == Phase::FtpRunning;
}

QString methodName(qint16 method) {
    switch (method) {
    case Method::Tftp:
        return QStringLiteral("TFTP");
    case Method::Ftp:
        return QStringLiteral("FTP");
    default:
        return QStringLiteral("HTTP");
    }
}

FileChoiceRules rulesOf(qint16 method) {
    switch (method) {
    case Method::Tftp:
        return FileChoiceRules::tftp();
    case Method::Ftp:
        return FileChoiceRules::ftp();
    default:
        return FileChoiceRules::http();
    }
}

// The files the engine of `method` would send, by the same rule, without showing or logging.
QList<RunEvents::PlannedFile> plannedFiles(const ExtractionList& files, const QString& romId,
                                           qint16 method) {
    QList<RunEvents::PlannedFile> planned;
    FileSelector selector(files, romId, rulesOf(method), Sinks{});
    selector.setMessageShower([](const ExtractionEntry&) { return 0; });
    int start = 0;
    for (int pass = 0; pass < ExtractionList::Capacity; ++pass) {
        const int next = selector.SelectNextFile(start);
        if (next < 0 || next >= files.count)
            break;
        const QFileInfo info(files[next].path);
        planned.append({info.fileName(), info.size()});
        start = next + 1;
    }
    return planned;
}

} // namespace

namespace {
Sinks withBox(Sinks sinks, BoxSink* box) {
    if (sinks.box)
        sinks.box = box;
    return sinks;
}
} // namespace

UpgradeController::UpgradeController(RunState& run, RunHost& host)
    : run_(run), host_(host), boxGate_(*this, host.view().sinks()),
      workerSinks_(std::make_unique<GuiThreadSinks>(withBox(host.view().sinks(), &boxGate_))),
      verify_([this](const QString& address) { return host_.search().askRouter(address); }) {
    services_ = TransferServices{&noFtp_, &noTftp_, &readBack_};
}

BoxAnswer UpgradeController::RunBoxGate::showBox(const QString& text, const QString& caption,
                                                 BoxButtons buttons, BoxIcon icon) {
    if (!owner_.runEnded_)
        return view_.showBox(text, caption, buttons, icon);
    view_.logLine(QStringLiteral("After the end of the upgrade, not shown : ") + caption +
                  QStringLiteral(" : ") + text);
    return buttons == BoxButtons::YesOnly ? BoxAnswer::Yes
           : buttons == BoxButtons::Ok    ? BoxAnswer::Ok
                                          : BoxAnswer::Cancel;
}

UpgradeController::~UpgradeController() {
    if (!worker_)
        return;
    worker_->requestInterruption();
    // The worker may be waiting for the GUI thread to show its result box: keep delivering the
    // calls it queued while waiting for it.
    bool joined = false;
    EventWait::until([&] { return joined; }, EventWait::Clock::now() + WorkerShutdownJoin, {},
                     EventWait::Pump::PostedCalls, WorkerPollStep,
                     [&](std::chrono::microseconds slice) {
                         joined = worker_->wait(QDeadlineTimer(
                             std::chrono::duration_cast<std::chrono::milliseconds>(slice)));
                     });
    if (worker_->isFinished()) {
        worker_.reset();
        return;
    }
    // Still inside a socket call, and it refers to objects about to go: the only safe end is to
    // end the process now, as a failure, after removing the extracted files.
    std::fputs("fwupgrade: the HTTP upload did not end in time; stopping\n", stderr);
    host_.releasePackage();
    std::fflush(nullptr);
    std::_Exit(ExitStatus::Failed);
}

void UpgradeController::setTransferServices(const TransferServices& services) {
    services_.ftp = services.ftp ? services.ftp : &noFtp_;
    services_.tftp = services.tftp ? services.tftp : &noTftp_;
    services_.readBack = services.readBack ? services.readBack : &readBack_;
}

void UpgradeController::setFtpRomRead(FtpRomReadService* ftp) {
    readBack_.setFtpRomRead(ftp ? ftp : &noFtpRomRead_);
}

bool UpgradeController::workerRunning() const {
    return worker_ && !worker_->isFinished();
}

bool UpgradeController::waitForWorker(std::chrono::milliseconds bound) {
    if (!worker_)
        return true;
    if (!worker_->wait(QDeadlineTimer(bound)))
        return false;
    worker_.reset();
    return true;
}

bool UpgradeController::busy() const {
    return worker_ != nullptr || isRunningPhase(run_.UpgradePhase.load()) || run_.AutoStart ||
           run_.GetMode || readBack_.running() || host_.view().stopTimerActive() ||
           verify_.running();
}

void UpgradeController::failed() {
    run_.exitStatus = ExitStatus::Failed;
}

void UpgradeController::succeeded() {
    run_.exitStatus = ExitStatus::Ok;
}

std::uint16_t UpgradeController::nextCount(std::uint16_t c) {
    std::uint16_t n = std::uint16_t(c + 1);
    if (n >= StopCode::HttpAccepted && n <= StopCode::HttpDone)
        n = StopCode::HttpDone + 1;
    else if (n >= StopCode::TftpFinished && n <= StopCode::TftpRejected)
        n = StopCode::TftpRejected + 1;
    return n;
}

// --- Upgrade pressed

void UpgradeController::UpgradeClick() {
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();

    if (ending_)
        return;
    // A new run: the wait for the last one's router ends unanswered.
    verify_.stop();
    runEnded_ = false;
    BasicAuthNeeded = false;
    run_.UserId = view.userIdText().left(UserIdMaxLength);
    RouterIP = MainWindowLogic::FirstWord(view.ipText());

    QString romId;
    qint32 type = 0;
    if (FindRouterRecord(host_.search().devices(), RouterIP, &romId, &type) < 0) {
        sinks.logLine(QStringLiteral("Read Select Router Infomation Error"));
        failed();
        sinks.showBox(
            QStringLiteral("Please press \"ENTER\" to check router information in select box"),
            QStringLiteral("Router information not found"), BoxButtons::Ok);
        view.setUpgradeEnabled(false);
        return;
    }
    RouterRomId = romId;
    RouterType = type;
    const int record = host_.search().devices().find(RouterIP);
    routerDetail_ = record >= 0 ? host_.search().devices().at(record).detail : QString();
    RunEvents::router(sinks, RouterIP, RouterRomId, routerDetail_);
    if (skipCurrent())
        return;

    if (!host_.search().echo(RouterIP)) {
        sinks.logLine(QStringLiteral("Unconnect to router : ") + RouterIP);
        failed();
        sinks.showBox(QStringLiteral("Unconnect to router"),
                      QStringLiteral("Router connection failure"), BoxButtons::Ok);
        view.setUpgradeEnabled(false);
        return;
    }

    sinks.setProgressMaximum(0);
    sinks.setProgressPosition(0);

    if (run_.extractionCopy.count == 0) {
        failed();
        sinks.showBox(QStringLiteral("Please select the upgrade file"),
                      QStringLiteral("upgrade file not found"), BoxButtons::Ok);
        return;
    }

    view.setUpgradeEnabled(false);
    // TFTP for a crashed router is never overridden.
    if (run_.OrderFromSettings && run_.UpgradeMethod != Method::Tftp) {
        switch (host_.runSettings().methodOrder()) {
        case 1:
            run_.UpgradeMethod = Method::Http;
            break;
        case 2:
            run_.UpgradeMethod = Method::Ftp;
            break;
        case 3:
            run_.UpgradeMethod = Method::Tftp;
            break;
        default:
            break;
        }
    }
    methodLoop();
}

void UpgradeController::methodLoop() {
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();
    Step step = Step::LeaveLoop;
    for (int pass = 0; pass < MaxMethodPasses; ++pass) {
        run_.stopCounter = 0;
        view.startStopTimer();
        switch (run_.UpgradeMethod) {
        case Method::Tftp:
            step = tftpBranch();
            break;
        case Method::Http:
        case Method::HttpAfterFtp:
            step = httpBranch();
            break;
        case Method::Ftp:
            step = ftpBranch();
            break;
        default:
            view.stopStopTimer();
            failed();
            sinks.showBox(QStringLiteral("Could not detect upgrade method !"), QString(),
                          BoxButtons::Ok);
            sinks.logLine(QStringLiteral("Could not detect upgrade method to ") + RouterIP);
            step = Step::LeaveLoop;
            break;
        }
        if (step != Step::Again)
            break;
    }
    if (step == Step::End)
        return;
    if (step == Step::Again) { // cannot happen with the methods above; never loop on
        view.stopStopTimer();
        failed();
        return;
    }
    if (!verify_.running())
        endIfUnattended();
}

void UpgradeController::endIfUnattended() {
    const qint16 phase = run_.UpgradePhase.load();
    if (run_.HaveUpgradeFile == 1 && !host_.logShown() && phase != Phase::TftpRunning &&
        phase != Phase::HttpRunning && !run_.FactoryRelease)
        host_.ExitClick();
}

bool UpgradeController::skipCurrent() {
    const QString& target = run_.options.targetVersion;
    if (target.isEmpty() || routerDetail_ != target)
        return false;
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();
    const QString text = QStringLiteral("%1 already runs %2; nothing sent").arg(RouterIP, target);
    sinks.logLine(text);
    sinks.setStatus(text);
    RunEvents::skip(sinks, target);
    succeeded();
    run_.outcomeDecided = true;
    view.setUpgradeEnabled(false);
    if (!run_.Interactive)
        host_.ExitClick();
    return true;
}

UpgradeController::Step UpgradeController::dryRun(qint16 method) {
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();
    view.stopStopTimer();
    const QString name = methodName(method);
    const QList<RunEvents::PlannedFile> files =
        plannedFiles(run_.extractionCopy, RouterRomId, method);
    qint64 bytes = 0;
    for (const RunEvents::PlannedFile& f : files)
        bytes += f.bytes;
    sinks.logLine(QStringLiteral("Dry run: would send %1 file(s), %2 bytes, by %3")
                      .arg(files.size())
                      .arg(bytes)
                      .arg(name));
    RunEvents::plan(sinks, name, files);
    // The transfer itself would fail on an empty choice.
    if (files.isEmpty())
        failed();
    else
        succeeded();
    run_.outcomeDecided = true;
    view.setUpgradeEnabled(true);
    if (!run_.Interactive)
        host_.ExitClick();
    return Step::End;
}

void UpgradeController::confirmThen(const std::function<void()>& then) {
    const int seconds = run_.options.verifySeconds;
    if (seconds <= 0 || run_.exitStatus != ExitStatus::Ok) {
        then();
        return;
    }
    // Until the router is back the upgrade counts as unconfirmed, also when the window closes.
    run_.exitStatus = ExitStatus::Unconfirmed;
    run_.outcomeDecided = true;
    verify_.start(host_.view().sinks(), RouterIP, routerDetail_, seconds,
                  run_.options.targetVersion, [this, then](const VerifyWait::Outcome& o) {
                      run_.exitStatus =
                          o.state == RunEvents::Back ? ExitStatus::Ok : ExitStatus::Unconfirmed;
                      then();
                  });
}

bool UpgradeController::noFileChosen() const {
    return run_.HaveUpgradeFile == 0 && host_.view().updateFileNameText().isEmpty();
}

UpgradeController::Step UpgradeController::refuseNoFile() {
    // Nothing is sent, so there is nothing for the watchdog to watch: leaving it running would
    // end the program silently StopLimit seconds later.
    host_.view().stopStopTimer();
    failed();
    host_.view().sinks().showBox(NoFileText, UpgradeWarningCaption, BoxButtons::Ok);
    return Step::LeaveLoop;
}

UpgradeController::Step UpgradeController::tftpBranch() {
    if (noFileChosen())
        return refuseNoFile();
    if (run_.options.dryRun)
        return dryRun(Method::Tftp);
    const Sinks sinks = host_.view().sinks();
    RunEvents::phase(sinks, RunEvents::Sending, methodName(Method::Tftp));
    run_.UpgradePhase = Phase::TftpRunning;
    sinks.logLine(QStringLiteral("Unsing TFTP upgrade mode to : ") + RouterIP);
    services_.tftp->TftpUpgrade(run_.stopCounter, run_.UpgradePhase, sinks, run_.extractionCopy,
                                RouterIP, RouterRomId, RouterType, TftpFileOpen);
    return Step::LeaveLoop;
}

UpgradeController::Step UpgradeController::httpLogin() {
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();
    LoginContext ctx;
    ctx.sinks = sinks;
    ctx.upgradeMethod = &run_.UpgradeMethod;
    ctx.webPort = host_.webPort();
    const QString password = view.passwordText();

    RunEvents::phase(sinks, RunEvents::LoggingIn);
    const int r = CheckLogin(ctx, password, RouterIP);
    LoginPort = r;
    if (r >= 0)
        return Step::LeaveLoop;

    run_.UpgradePhase = Phase::HttpFailed;
    // After a failed FTP attempt (133) the refusal is just as final: going on to Basic
    // authentication there would upload after a refused password, since a new-firmware router
    // answers that request with its index page.
    const bool overHttp =
        run_.UpgradeMethod == Method::Http || run_.UpgradeMethod == Method::HttpAfterFtp;
    if (overHttp) {
        if (r == LoginCode::BasicAuthWanted) {
            BasicAuthNeeded = true;
        } else {
            failed();
            ReportLoginRefusal(sinks, r, QStringLiteral("Receive response error 4"));
        }
        if (!BasicAuthNeeded)
            return Step::End;
    }

    const int r2 = BasicAuthLogin(ctx, run_.UserId, password, RouterIP);
    LoginPort = r2;
    if (r2 >= 0)
        return Step::LeaveLoop;
    failed();
    if (overHttp) {
        switch (r2) {
        case LoginCode::SendFailed:
            sinks.showBox(QStringLiteral("Send request error"), QString(), BoxButtons::Ok);
            break;
        case LoginCode::BadReply:
            sinks.showBox(QStringLiteral("Receive response error 5"), QString(), BoxButtons::Ok);
            break;
        case LoginCode::WrongPassword:
            sinks.showBox(
                QStringLiteral("Incorrect UserName or Password. Please check and input again!"),
                AuthFailedCaption, BoxButtons::Ok);
            sinks.setStatus(
                QStringLiteral("username or password is incorrect, please check again."));
            view.setLabel2Left(160);
            view.setPasswordGeometry(215, 110);
            view.setUserIdShown(true);
            break;
        default:
            sinks.logLine(QStringLiteral("Unknow Error while check password"));
            break;
        }
    }
    return Step::End;
}

UpgradeController::Step UpgradeController::httpBranch() {
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();
    view.stopStopTimer();

    Step login = Step::End;
    QString abnormal;
    try {
        login = httpLogin();
    } catch (const std::exception& e) {
        abnormal = QString::fromLocal8Bit(e.what());
    } catch (...) {
        abnormal = QStringLiteral("Unknown exception");
    }
    if (!abnormal.isNull()) {
        failed();
        sinks.showBox(abnormal, QStringLiteral("HTTP Upgrade Abnormal Terminate"), BoxButtons::Ok);
        view.terminateApplication();
        view.releaseWindow();
        return Step::End;
    }
    if (login == Step::End)
        return Step::End;

    sinks.logLine(QStringLiteral("Clear stopCounter to 0"));
    run_.stopCounter = 0;
    view.startStopTimer();

    if (run_.OrderFromSettings && host_.runSettings().methodOrder() == 1)
        run_.UpgradeMethod = Method::Http; // overrides the old-firmware switch to FTP
    else if (run_.UpgradeMethod == Method::Ftp)
        return Step::Again;

    if (noFileChosen())
        return refuseNoFile();
    if (worker_ && !waitForWorker(WorkerDoneJoin)) {
        // The previous upload has not let go of its thread; never run two at once.
        view.stopStopTimer();
        failed();
        sinks.logLine(QStringLiteral("HTTP upgrade still running"));
        return Step::End;
    }
    if (run_.options.dryRun)
        return dryRun(Method::Http);
    RunEvents::phase(sinks, RunEvents::Sending, methodName(Method::Http));
    run_.UpgradePhase = Phase::HttpRunning;
    sinks.logLine(QStringLiteral("Unsing HTTP upgrade mode to : ") + RouterIP);
    startWorker();
    return Step::LeaveLoop;
}

void UpgradeController::startWorker() {
    HttpUploadJob job;
    job.takeRun(run_);
    job.sinks = workerSinks_->workerSinks();
    job.routerIp = RouterIP;
    job.port = quint16(LoginPort);
    job.romId = RouterRomId;
    // A router that stops answering is the watchdog's to report; the socket gives up a little
    // later, so the worker has ended by the time the program does.
    job.transferTimeout = std::min<std::chrono::milliseconds>(SocketClient::DefaultTransferTimeout,
                                                              std::chrono::seconds(run_.StopLimit) +
                                                                  WorkerSocketGrace);
    job.enableUpgrade = [this] {
        QMetaObject::invokeMethod(
            &gui_, [this] { host_.view().setUpgradeEnabled(true); }, Qt::QueuedConnection);
    };
    worker_ = std::make_unique<THTTPThread>(std::move(job));
    worker_->start();
}

UpgradeController::Step UpgradeController::ftpBranch() {
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();
    sinks.logLine(QStringLiteral("Unsing FTP upgrade mode to : ") + RouterIP);
    if (noFileChosen())
        return refuseNoFile();

    FtpUpgradeService& ftp = *services_.ftp;
    RunEvents::phase(sinks, RunEvents::LoggingIn);
    if (run_.options.dryRun) {
        // The login with the password, nothing stored; its failures take the upgrade's path.
        const int login = ftp.FtpLoginCheck(sinks, RouterIP, view.passwordText());
        if (login > 0)
            return dryRun(Method::Ftp);
        view.stopStopTimer();
        if (login == -2) {
            run_.UpgradePhase = Phase::FtpFailed;
            failed();
            sinks.showBox(ftp.resultText(), AuthFailedCaption, BoxButtons::Ok);
            return Step::End;
        }
        sinks.logLine(QStringLiteral("Unsing FTP upgrade mode fail : ") + RouterIP);
        sinks.logLine(ftp.resultText());
        run_.UpgradeMethod = Method::HttpAfterFtp;
        return Step::Again;
    }
    RunEvents::phase(sinks, RunEvents::Sending, methodName(Method::Ftp));
    run_.UpgradePhase = Phase::FtpRunning;
    ftpCallActive_ = true;
    const int f = ftp.FtpUpgrade(run_.stopCounter, sinks, run_.extractionCopy, RouterIP,
                                 RouterRomId, RouterType, view.passwordText());
    ftpCallActive_ = false;
    view.stopStopTimer();
    // The run was ended during the call: the engine has let go now; no other method is tried.
    if (ending_) {
        finishEndedRun();
        return Step::End;
    }
    if (f < 0) {
        if (f == -2 || f == -4) {
            run_.UpgradePhase = Phase::FtpFailed;
            failed();
            sinks.showBox(ftp.resultText(), AuthFailedCaption, BoxButtons::Ok);
            return Step::End;
        }
        sinks.logLine(QStringLiteral("Unsing FTP upgrade mode fail : ") + RouterIP);
        sinks.logLine(ftp.resultText());
        run_.UpgradeMethod = Method::HttpAfterFtp;
        return Step::Again;
    }

    run_.UpgradePhase = Phase::FtpSucceeded;
    sinks.logLine(QStringLiteral("Unsing FTP upgrade to : ") + RouterIP +
                  QStringLiteral(" success"));
    run_.UpgradeSection = ftp.sentSections();
    sinks.logLine(QStringLiteral("FTP upgrade section :") + run_.UpgradeSection);
    if (run_.sectionsDiffer()) {
        failed();
        sinks.showBox(THTTPThread::SectionWarningText, UpgradeWarningCaption, BoxButtons::Ok);
    } else {
        succeeded();
        if (run_.Interactive && !run_.FactoryRelease)
            sinks.showBox(ftp.resultText(), QStringLiteral("Success"), BoxButtons::Ok);
    }
    view.setUpgradeEnabled(true);
    // The method loop ends the unattended run, or the verification's end does.
    if (run_.options.verifySeconds > 0 && run_.exitStatus == ExitStatus::Ok)
        confirmThen([this] { endIfUnattended(); });
    return Step::LeaveLoop;
}

// --- StopTimer

void UpgradeController::StopTimerTimer() {
    MainView& view = host_.view();
    if (run_.GetMode) {
        services_.readBack->RomReadBack(run_, host_);
        return;
    }
    if (run_.AutoStart) {
        view.stopStopTimer();
        run_.AutoStart = false;
        run_.PutMode = false;
        if (view.ipText().isEmpty()) {
            host_.refreshRouters();
        } else if (run_.HaveUpgradeFile == 1) {
            UpgradeClick();
        }
        return;
    }

    // The worker and the engines store codes concurrently: count only what was really seen.
    for (int attempt = 0; attempt < MaxCounterRetries; ++attempt) {
        std::uint16_t c = run_.stopCounter.load();
        switch (c) {
        case StopCode::HttpDone:
            httpDone();
            return;
        case StopCode::HttpAccepted:
        case StopCode::HttpFailed:
        case StopCode::TftpRebooting:
            return;
        case StopCode::TftpRejected:
            tftpRejected();
            return;
        case StopCode::TftpFinished:
            tftpFinished();
            return;
        default:
            break;
        }
        const std::uint16_t next = nextCount(c);
        if (!run_.stopCounter.compare_exchange_strong(c, next))
            continue;
        if (next < run_.StopLimit) {
            view.sinks().logLine(QStringLiteral("StopCounter : ") + QString::number(next));
            return;
        }
        watchdogExpired();
        return;
    }
}

void UpgradeController::httpDone() {
    MainView& view = host_.view();
    view.stopStopTimer();
    if (worker_) {
        worker_->requestInterruption();
        // The worker stored 124 as its last act; its thread ends at once.
        if (worker_->wait(QDeadlineTimer(WorkerDoneJoin))) {
            // Its last reports (status, Upgrade enabled) may still be queued: they come first.
            if (QCoreApplication::instance())
                QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
            if (worker_->result() >= 0) {
                run_.UpgradeSection = worker_->sentSections();
                if (run_.sectionsDiffer())
                    failed();
                else
                    succeeded();
            } else {
                failed();
            }
            worker_.reset();
        } else {
            failed();
        }
    }
    view.sinks().logLine(QStringLiteral("HTTP upgrade section :") + run_.UpgradeSection);
    confirmThen([this] {
        if (!run_.Interactive)
            host_.ExitClick();
    });
}

void UpgradeController::tftpRejected() {
    MainView& view = host_.view();
    view.stopStopTimer();
    failed();
    if (run_.Interactive)
        view.sinks().showBox(QStringLiteral("Incorrect upgrade file. Please check again!"),
                             QString(), BoxButtons::YesOnly, BoxIcon::Warning);
    else
        host_.ExitClick();
}

void UpgradeController::tftpFinished() {
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();
    view.stopStopTimer();
    run_.UpgradeSection = services_.tftp->sentSections();
    if (run_.sectionsDiffer())
        failed();
    else
        succeeded();
    if (!run_.Interactive) {
        // The window closes; a new search would only hold the end up.
        sinks.logLine(QStringLiteral("TFTP upgrade section :") + run_.UpgradeSection);
        confirmThen([this] { host_.ExitClick(); });
        return;
    }
    if (!run_.FactoryRelease)
        sinks.showBox(QStringLiteral("Recover Complete !"), QStringLiteral("Recover Success"),
                      BoxButtons::Ok);
    sinks.logLine(QStringLiteral("TFTP upgrade section :") + run_.UpgradeSection);
    if (run_.sectionsDiffer())
        sinks.showBox(QStringLiteral("Upgrade Not complete, please click Upgrade button again !"),
                      QStringLiteral("Upgrade Again"), BoxButtons::Ok);
    confirmThen([this] { host_.refreshRouters(); });
}

void UpgradeController::watchdogExpired() {
    MainView& view = host_.view();
    const Sinks sinks = view.sinks();
    view.stopStopTimer();
    failed();
    // Whatever the engine reports from now on is too late for a box.
    runEnded_ = true;
    switch (run_.UpgradePhase.load()) {
    case Phase::TftpRunning:
        sinks.showBox(QStringLiteral("Recover Not Complete. Please Power OFF and Power ON the "
                                     "router then execution program again !!"),
                      QStringLiteral("TFTP Upgrade Failure"), BoxButtons::Ok);
        break;
    case Phase::HttpRunning:
        sinks.showBox(AbnormalText, QStringLiteral("HTTP Upgrade Failure"), BoxButtons::Ok);
        break;
    case Phase::FtpRunning:
        sinks.showBox(AbnormalText, QStringLiteral("FTP Upgrade Failure"), BoxButtons::Ok);
        break;
    default:
        break;
    }
    endRun(false);
}

bool UpgradeController::endRun(bool byPerson) {
    if (ending_)
        return false;
    ending_ = true;
    runEnded_ = true;
    failed();
    MainView& view = host_.view();
    view.stopStopTimer();
    if (byPerson)
        view.sinks().logLine(QStringLiteral("Upgrade stopped by the user before the transfer "
                                            "ended"));
    // Each engine stops in its own way; none may still read a file when the files go.
    if (worker_)
        worker_->cancel();
    if (run_.UpgradePhase.load() == Phase::TftpRunning)
        services_.tftp->cancel();
    if (ftpCallActive_) {
        services_.ftp->cancel();
        return false; // the FTP call returns at its next wait; ftpBranch finishes then
    }
    finishEndedRun();
    return true;
}

void UpgradeController::finishEndedRun() {
    MainView& view = host_.view();
    if (worker_) {
        // The worker's last reports come through while it ends (its boxes become log lines).
        QDeadlineTimer deadline(WorkerShutdownJoin);
        while (!worker_->wait(QDeadlineTimer(WorkerPollStep)) && !deadline.hasExpired()) {
            if (QCoreApplication::instance())
                QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        }
        if (QCoreApplication::instance())
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        if (worker_->isFinished())
            worker_.reset();
        // Otherwise the destructor's last resort ends the process.
    }
    view.terminateApplication();
    view.releaseWindow(); // removes the extracted files
}

} // namespace fw

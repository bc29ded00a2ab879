#include "upgrade/UpgradeController.h"

#include "http/LoginCheck.h"
#include "net/SocketClient.h"
#include "search/DeviceSearch.h"
#include "ui/GuiThreadSinks.h"
#include "upgrade/MainView.h"
#include "upgrade/THTTPThread.h"
#include "upgrade/UpgradeForm.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>

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

} // namespace

namespace {
Sinks withBox(Sinks sinks, BoxSink* box) {
    if (sinks.box)
        sinks.box = box;
    return sinks;
}
} // namespace

UpgradeController::UpgradeController(UpgradeForm& form)
    : form_(form), boxGate_(*this, form.view().sinks()),
      workerSinks_(std::make_unique<GuiThreadSinks>(withBox(form.view().sinks(), &boxGate_))) {
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
    QDeadlineTimer deadline(WorkerShutdownJoin);
    while (!worker_->wait(QDeadlineTimer(WorkerPollStep))) {
        if (deadline.hasExpired())
            break;
        if (QCoreApplication::instance())
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }
    if (worker_->isFinished()) {
        worker_.reset();
        return;
    }
    // Still inside a socket call, and it refers to objects about to go: the only safe end is to
    // end the process now, as a failure, after removing the extracted files.
    std::fputs("fwupgrade: the HTTP upload did not end in time; stopping\n", stderr);
    form_.package.reset();
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
    return worker_ != nullptr || isRunningPhase(form_.UpgradePhase.load()) || form_.AutoStart ||
           form_.GetMode || readBack_.running() || form_.view().stopTimerActive();
}

bool UpgradeController::sectionsDiffer() const {
    return form_.SectionCheck && form_.UpgradeSection != form_.sectionList;
}

void UpgradeController::failed() {
    form_.exitStatus = ExitStatus::Failed;
}

void UpgradeController::succeeded() {
    form_.exitStatus = ExitStatus::Ok;
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
    MainView& view = form_.view();
    const Sinks sinks = view.sinks();

    if (ending_)
        return;
    runEnded_ = false;
    BasicAuthNeeded = false;
    form_.UserId = view.userIdText().left(UserIdMaxLength);
    RouterIP = UpgradeForm::FirstWord(view.ipText());

    QString romId;
    qint32 type = 0;
    if (FindRouterRecord(form_.search().devices(), RouterIP, &romId, &type) < 0) {
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

    if (!form_.search().echo(RouterIP)) {
        sinks.logLine(QStringLiteral("Unconnect to router : ") + RouterIP);
        failed();
        sinks.showBox(QStringLiteral("Unconnect to router"),
                      QStringLiteral("Router connection failure"), BoxButtons::Ok);
        view.setUpgradeEnabled(false);
        return;
    }

    sinks.setProgressMaximum(0);
    sinks.setProgressPosition(0);

    if (form_.extractionCopy.count == 0) {
        failed();
        sinks.showBox(QStringLiteral("Please select the upgrade file"),
                      QStringLiteral("upgrade file not found"), BoxButtons::Ok);
        return;
    }

    view.setUpgradeEnabled(false);
    // TFTP for a crashed router is never overridden.
    if (form_.OrderFromSettings && form_.UpgradeMethod != Method::Tftp) {
        switch (form_.settings.methodOrder()) {
        case 1:
            form_.UpgradeMethod = Method::Http;
            break;
        case 2:
            form_.UpgradeMethod = Method::Ftp;
            break;
        case 3:
            form_.UpgradeMethod = Method::Tftp;
            break;
        default:
            break;
        }
    }
    methodLoop();
}

void UpgradeController::methodLoop() {
    MainView& view = form_.view();
    const Sinks sinks = view.sinks();
    Step step = Step::LeaveLoop;
    for (int pass = 0; pass < MaxMethodPasses; ++pass) {
        form_.stopCounter = 0;
        view.startStopTimer();
        switch (form_.UpgradeMethod) {
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
    const qint16 phase = form_.UpgradePhase.load();
    if (form_.HaveUpgradeFile == 1 && !form_.LogShown && phase != Phase::TftpRunning &&
        phase != Phase::HttpRunning && !form_.FactoryRelease)
        form_.ExitClick();
}

bool UpgradeController::noFileChosen() const {
    return form_.HaveUpgradeFile == 0 && form_.view().updateFileNameText().isEmpty();
}

UpgradeController::Step UpgradeController::refuseNoFile() {
    // Nothing is sent, so there is nothing for the watchdog to watch: leaving it running would
    // end the program silently StopLimit seconds later.
    form_.view().stopStopTimer();
    failed();
    form_.view().sinks().showBox(NoFileText, UpgradeWarningCaption, BoxButtons::Ok);
    return Step::LeaveLoop;
}

UpgradeController::Step UpgradeController::tftpBranch() {
    if (noFileChosen())
        return refuseNoFile();
    const Sinks sinks = form_.view().sinks();
    form_.UpgradePhase = Phase::TftpRunning;
    sinks.logLine(QStringLiteral("Unsing TFTP upgrade mode to : ") + RouterIP);
    services_.tftp->TftpUpgrade(form_.stopCounter, form_.UpgradePhase, sinks, form_.extractionCopy,
                                RouterIP, RouterRomId, RouterType, TftpFileOpen);
    return Step::LeaveLoop;
}

UpgradeController::Step UpgradeController::httpLogin() {
    MainView& view = form_.view();
    const Sinks sinks = view.sinks();
    LoginContext ctx;
    ctx.sinks = sinks;
    ctx.upgradeMethod = &form_.UpgradeMethod;
    ctx.webPort = form_.config().webPort;
    const QString password = view.passwordText();

    const int r = CheckLogin(ctx, password, RouterIP);
    LoginPort = r;
    if (r >= 0)
        return Step::LeaveLoop;

    form_.UpgradePhase = Phase::HttpFailed;
    // After a failed FTP attempt (133) the refusal is just as final: going on to Basic
    // authentication there would upload after a refused password, since a new-firmware router
    // answers that request with its index page.
    const bool overHttp =
        form_.UpgradeMethod == Method::Http || form_.UpgradeMethod == Method::HttpAfterFtp;
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

    const int r2 = BasicAuthLogin(ctx, form_.UserId, password, RouterIP);
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
    MainView& view = form_.view();
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
    form_.stopCounter = 0;
    view.startStopTimer();

    if (form_.OrderFromSettings && form_.settings.methodOrder() == 1)
        form_.UpgradeMethod = Method::Http; // overrides the old-firmware switch to FTP
    else if (form_.UpgradeMethod == Method::Ftp)
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
    form_.UpgradePhase = Phase::HttpRunning;
    sinks.logLine(QStringLiteral("Unsing HTTP upgrade mode to : ") + RouterIP);
    startWorker();
    return Step::LeaveLoop;
}

void UpgradeController::startWorker() {
    HttpUploadJob job;
    job.stopCounter = &form_.stopCounter;
    job.phase = &form_.UpgradePhase;
    job.sinks = workerSinks_->workerSinks();
    job.files = form_.extractionCopy;
    job.routerIp = RouterIP;
    job.port = quint16(LoginPort);
    job.romId = RouterRomId;
    job.sectionCheck = form_.SectionCheck;
    job.sectionList = form_.sectionList;
    job.interactive = form_.Interactive;
    job.factoryRelease = form_.FactoryRelease;
    // A router that stops answering is the watchdog's to report; the socket gives up a little
    // later, so the worker has ended by the time the program does.
    job.transferTimeout = std::min<std::chrono::milliseconds>(
        SocketClient::DefaultTransferTimeout,
        std::chrono::seconds(form_.StopLimit) + WorkerSocketGrace);
    job.enableUpgrade = [this] {
        QMetaObject::invokeMethod(
            &gui_, [this] { form_.view().setUpgradeEnabled(true); }, Qt::QueuedConnection);
    };
    worker_ = std::make_unique<THTTPThread>(std::move(job));
    worker_->start();
}

UpgradeController::Step UpgradeController::ftpBranch() {
    MainView& view = form_.view();
    const Sinks sinks = view.sinks();
    sinks.logLine(QStringLiteral("Unsing FTP upgrade mode to : ") + RouterIP);
    if (noFileChosen())
        return refuseNoFile();

    form_.UpgradePhase = Phase::FtpRunning;
    FtpUpgradeService& ftp = *services_.ftp;
    ftpCallActive_ = true;
    const int f = ftp.FtpUpgrade(form_.stopCounter, sinks, form_.extractionCopy, RouterIP,
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
            form_.UpgradePhase = Phase::FtpFailed;
            failed();
            sinks.showBox(ftp.resultText(), AuthFailedCaption, BoxButtons::Ok);
            return Step::End;
        }
        sinks.logLine(QStringLiteral("Unsing FTP upgrade mode fail : ") + RouterIP);
        sinks.logLine(ftp.resultText());
        form_.UpgradeMethod = Method::HttpAfterFtp;
        return Step::Again;
    }

    form_.UpgradePhase = Phase::FtpSucceeded;
    sinks.logLine(QStringLiteral("Unsing FTP upgrade to : ") + RouterIP +
                  QStringLiteral(" success"));
    form_.UpgradeSection = ftp.sentSections();
    sinks.logLine(QStringLiteral("FTP upgrade section :") + form_.UpgradeSection);
    if (sectionsDiffer()) {
        failed();
        sinks.showBox(THTTPThread::SectionWarningText, UpgradeWarningCaption, BoxButtons::Ok);
    } else {
        succeeded();
        if (form_.Interactive && !form_.FactoryRelease)
            sinks.showBox(ftp.resultText(), QStringLiteral("Success"), BoxButtons::Ok);
    }
    view.setUpgradeEnabled(true);
    return Step::LeaveLoop;
}

// --- StopTimer

void UpgradeController::StopTimerTimer() {
    MainView& view = form_.view();
    if (form_.GetMode) {
        services_.readBack->RomReadBack(form_);
        return;
    }
    if (form_.AutoStart) {
        view.stopStopTimer();
        form_.AutoStart = false;
        form_.PutMode = false;
        if (view.ipText().isEmpty()) {
            form_.IPReFreshClick();
            form_.IPComBoxChange();
        } else if (form_.HaveUpgradeFile == 1) {
            UpgradeClick();
        }
        return;
    }

    // The worker and the engines store codes concurrently: count only what was really seen.
    for (int attempt = 0; attempt < MaxCounterRetries; ++attempt) {
        std::uint16_t c = form_.stopCounter.load();
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
        if (!form_.stopCounter.compare_exchange_strong(c, next))
            continue;
        if (next < form_.StopLimit) {
            view.sinks().logLine(QStringLiteral("StopCounter : ") + QString::number(next));
            return;
        }
        watchdogExpired();
        return;
    }
}

void UpgradeController::httpDone() {
    MainView& view = form_.view();
    view.stopStopTimer();
    if (worker_) {
        worker_->requestInterruption();
        // The worker stored 124 as its last act; its thread ends at once.
        if (worker_->wait(QDeadlineTimer(WorkerDoneJoin))) {
            // Its last reports (status, Upgrade enabled) may still be queued: they come first.
            if (QCoreApplication::instance())
                QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
            if (worker_->result() >= 0) {
                form_.UpgradeSection = worker_->sentSections();
                if (sectionsDiffer())
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
    view.sinks().logLine(QStringLiteral("HTTP upgrade section :") + form_.UpgradeSection);
    if (!form_.Interactive)
        form_.ExitClick();
}

void UpgradeController::tftpRejected() {
    MainView& view = form_.view();
    view.stopStopTimer();
    failed();
    if (form_.Interactive)
        view.sinks().showBox(QStringLiteral("Incorrect upgrade file. Please check again!"),
                             QString(), BoxButtons::YesOnly, BoxIcon::Warning);
    else
        form_.ExitClick();
}

void UpgradeController::tftpFinished() {
    MainView& view = form_.view();
    const Sinks sinks = view.sinks();
    view.stopStopTimer();
    form_.UpgradeSection = services_.tftp->sentSections();
    if (sectionsDiffer())
        failed();
    else
        succeeded();
    if (!form_.Interactive) {
        // The window closes; a new search would only hold the end up.
        sinks.logLine(QStringLiteral("TFTP upgrade section :") + form_.UpgradeSection);
        form_.ExitClick();
        return;
    }
    if (!form_.FactoryRelease)
        sinks.showBox(QStringLiteral("Recover Complete !"), QStringLiteral("Recover Success"),
                      BoxButtons::Ok);
    sinks.logLine(QStringLiteral("TFTP upgrade section :") + form_.UpgradeSection);
    if (sectionsDiffer())
        sinks.showBox(QStringLiteral("Upgrade Not complete, please click Upgrade button again !"),
                      QStringLiteral("Upgrade Again"), BoxButtons::Ok);
    form_.IPReFreshClick();
    form_.IPComBoxChange();
}

void UpgradeController::watchdogExpired() {
    MainView& view = form_.view();
    const Sinks sinks = view.sinks();
    view.stopStopTimer();
    failed();
    // Whatever the engine reports from now on is too late for a box.
    runEnded_ = true;
    const qint16 phase = form_.UpgradePhase.load();
    switch (phase) {
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
    MainView& view = form_.view();
    view.stopStopTimer();
    if (byPerson)
        view.sinks().logLine(QStringLiteral("Upgrade stopped by the user before the transfer "
                                            "ended"));
    // Each engine stops in its own way; none may still read a file when the files go.
    if (worker_)
        worker_->cancel();
    if (form_.UpgradePhase.load() == Phase::TftpRunning)
        services_.tftp->cancel();
    if (ftpCallActive_) {
        services_.ftp->cancel();
        return false; // the FTP call returns at its next wait; ftpBranch finishes then
    }
    finishEndedRun();
    return true;
}

void UpgradeController::finishEndedRun() {
    MainView& view = form_.view();
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

// The main window's layouts, the router choice and its buttons: SetLayout, FillDeviceList,
// IPComBoxChange, Refresh, Browse, Exit, closing and the service keys.

#include "search/DeviceSearch.h"
#include "transfer/FileAttributes.h"
#include "ui/RunEvents.h"
#include "upgrade/MainView.h"
#include "upgrade/MainWindowLogic.h"
#include "upgrade/UpgradeController.h"

namespace fw {

namespace {
const QString kAdmin = QStringLiteral("admin");
const QString kFactoryPassword = QStringLiteral("qelur");
const QString kSelectFiles = QStringLiteral("Please select the upgrade files");
const QString kPressUpgrade = QStringLiteral("Press Upgrade Button To Upgrade Router");
const QString kInputPassword = QStringLiteral("Please input the password");

// Gaps the layouts add below the stacked groups.
constexpr int kFileSelectionSlack = 14;
constexpr int kLayoutSlack = 4;
constexpr int kExitRetryMs = 300;

bool romIdWithoutFactoryPassword(const QString& rom) {
    return rom == QStringLiteral("GZT350") || rom == QStringLiteral("HVK350");
}
} // namespace

QString MainWindowLogic::FirstWord(const QString& text) {
    const qsizetype blank = text.indexOf(QLatin1Char(' '));
    return blank < 0 ? text : text.left(blank);
}

void MainWindowLogic::setGroup(Group g, int top, bool visible) {
    groupTop_[size_t(g)] = top;
    view_.placeGroup(g, top, visible);
}

// Modes 2 to 5: the shown groups stacked below the search group.
void MainWindowLogic::stackLayout(bool password, bool file) {
    int top = groupTop(Group::Search) + view_.groupHeight(Group::Search);
    setGroup(Group::Password, top, password);
    if (password)
        top += view_.groupHeight(Group::Password);
    setGroup(Group::UpgradeFile, top, file);
    if (file)
        top += view_.groupHeight(Group::UpgradeFile);
    setGroup(Group::Tool, top, true);
    top += view_.groupHeight(Group::Tool);
    setGroup(Group::Progress, top, true);
    top += view_.groupHeight(Group::Progress);
    setGroup(Group::SystemLog, top, LogShown);
}

void MainWindowLogic::SetLayout(int mode) {
    const int H = FullHeight;
    const int pw = view_.groupHeight(Group::Password);
    const int fl = view_.groupHeight(Group::UpgradeFile);
    const int lg = view_.groupHeight(Group::SystemLog);
    const int hiddenLog = LogShown ? 0 : lg;

    switch (mode) {
    case 1:
        setGroup(Group::Password, 56, true);
        setGroup(Group::UpgradeFile, 89, true);
        setGroup(Group::Tool, 144, true);
        setGroup(Group::Progress, 180, true);
        setGroup(Group::SystemLog, 204, true);
        view_.setWindowHeight(H);
        return;
    case 2:
        stackLayout(false, true);
        view_.setWindowHeight(H - hiddenLog - pw + kFileSelectionSlack);
        break;
    case 3:
        stackLayout(true, true);
        view_.setWindowHeight(H - hiddenLog + kLayoutSlack);
        break;
    case 4:
        stackLayout(false, false);
        view_.setWindowHeight(H - hiddenLog - pw - fl + kLayoutSlack);
        break;
    case 5:
        stackLayout(true, false);
        view_.setWindowHeight(H - hiddenLog - fl + kLayoutSlack);
        break;
    case 6:
        if (!LogShown) {
            view_.setWindowHeight(view_.windowHeight() + lg);
            setGroup(Group::SystemLog,
                     groupTop(Group::Progress) + view_.groupHeight(Group::Progress), true);
        }
        return;
    case 7:
        if (LogShown) {
            view_.setWindowHeight(view_.windowHeight() - lg);
            setGroup(Group::SystemLog, groupTop(Group::SystemLog), false);
        }
        return;
    default:
        return;
    }

    if (logEnabled()) {
        SetLayout(6);
        LogShown = true;
        ListDetail = 222;
    }
}

void MainWindowLogic::FillDeviceList() {
    view_.setIpItems(search_.listLines(ListDetail));
    view_.sinks().setStatus(search_.countText());
    const QStringList shown = view_.ipItems();
    if (!shown.isEmpty())
        view_.setIpText(shown.first());
}

void MainWindowLogic::IPComBoxChange() {
    const QString a = FirstWord(view_.ipText());
    const Sinks sinks = view_.sinks();
    const DeviceList& list = search_.devices();

    for (int i = 0; i < list.count(); ++i) {
        const DeviceRecord r = list.at(i);
        if (r.address != a)
            continue;

        // A password given for this run stays: the presets are for a person choosing a router.
        if (!KeepPassword) {
            if (releaseToUser() || romIdWithoutFactoryPassword(r.romId))
                view_.setPasswordText(QString());
            else
                view_.setPasswordText(kFactoryPassword);
        }

        switch (r.type) {
        case 0:
            view_.setUpgradeEnabled(false);
            UpgradeMethod = Method::Tftp;
            SetLayout(HaveUpgradeFile == 1 ? 4 : 2);
            if (view_.updateFileNameText().isEmpty() && HaveUpgradeFile == 0) {
                sinks.setStatus(kSelectFiles);
            } else {
                sinks.setStatus(kPressUpgrade);
                view_.setUpgradeEnabled(true);
            }
            break;
        case 1:
        case 2:
        case 6:
            view_.setPasswordWhite();
            view_.setPasswordEnabled(true);
            UpgradeMethod = r.type == 6 ? Method::Ftp : Method::Http;
            if (HaveUpgradeFile == 1) {
                SetLayout(releaseToUser() ? 5 : 4);
            } else {
                SetLayout(releaseToUser() ? 3 : 2);
                if (view_.updateFileNameText().isEmpty()) {
                    sinks.setStatus(kSelectFiles);
                    break;
                }
            }
            sinks.setStatus(view_.passwordText().isEmpty() ? kInputPassword : kPressUpgrade);
            view_.setUpgradeEnabled(true);
            break;
        case 3:
            view_.setUpgradeEnabled(false);
            SetLayout(HaveUpgradeFile == 1 ? 4 : 2);
            UpgradeMethod = Method::None;
            break;
        case 4:
            view_.setUpgradeEnabled(false);
            if (releaseToUser())
                SetLayout(HaveUpgradeFile == 1 ? 5 : 3);
            else
                SetLayout(HaveUpgradeFile == 1 ? 4 : 2);
            UpgradeMethod = Method::None;
            break;
        default: // 5, a duplicate, or an unknown code
            view_.setUpgradeEnabled(false);
            UpgradeMethod = Method::None;
            break;
        }
    }

    view_.setLabel2Left(10);
    view_.setPasswordGeometry(70, 259);
    view_.setUserIdText(kAdmin);
    view_.setUserIdShown(false);
    view_.focusIp();
}

void MainWindowLogic::IPComBoxKeyPress(int character) {
    if (character != 13)
        return;
    const QString a = FirstWord(view_.ipText());
    search_.ClearDevices();
    probe(a);
    FillDeviceList();
    IPComBoxChange();
}

void MainWindowLogic::IPReFreshClick() {
    const Sinks sinks = view_.sinks();
    sinks.setStatus(QStringLiteral("Please Wait for Searching Router..."));
    LogShown = false;
    view_.setUpgradeEnabled(false);
    view_.setLabel2Left(10);
    view_.setPasswordText(settings.passWd());
    view_.setPasswordGeometry(70, 259);
    view_.setUserIdText(kAdmin);
    view_.setUserIdShown(false);
    sinks.setProgressMaximum(0);
    sinks.setProgressPosition(0);
    if (HaveUpgradeFile == 0)
        SetLayout(2);
    else if (HaveUpgradeFile == 1)
        SetLayout(4);
    RunEvents::phase(sinks, RunEvents::Searching);
    view_.showSearchWindow();
    FillDeviceList();
    IPComBoxChange();
}

void MainWindowLogic::PasswordComBoxChange() {
    view_.setUpgradeEnabled(true);
    view_.sinks().setStatus(
        QStringLiteral("Confirm your password and press Upgrade button to upgrade"));
}

void MainWindowLogic::UserIDComBoxChange() {
    PasswordComBoxChange();
}

void MainWindowLogic::BrowseClick() {
    const std::optional<QStringList> chosen = view_.chooseUpgradeFiles();
    if (!chosen || chosen->isEmpty())
        return;
    if (chosen->size() > MaxBrowsedFiles) {
        // The extraction list copy has room for no more; the previous choice stays.
        view_.sinks().showBox(
            QStringLiteral("Too many files selected. Please select at most %1 upgrade files !")
                .arg(MaxBrowsedFiles),
            QStringLiteral("Upgrade Warning"), BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    extractionCopy.clear();
    view_.setUpdateFileNameText(QString());
    view_.setUpgradeEnabled(true);
    QString names;
    for (const QString& path : *chosen) {
        extractionCopy.append(path, AttrHandPicked, 1);
        names += path + QStringLiteral("; ");
    }
    view_.setUpdateFileNameText(names);
}

void MainWindowLogic::ExitClick() {
    view_.setExitEnabled(false);
    ExitRequested = true;
    view_.stopStopTimer();
    const qint16 phase = UpgradePhase.load();
    if (transferRunning()) {
        ExitRequested = false;
        view_.sinks().showBox(
            QStringLiteral("Don't Exit Upgrade Program When upgrade Not Complete !"),
            QStringLiteral("Upgrade Not Complete"), BoxButtons::Ok, BoxIcon::Warning);
        view_.setExitEnabled(true);
        view_.waitMs(kExitRetryMs);
        view_.startStopTimer();
        return;
    }
    if (phase == Phase::TftpFailed || phase == Phase::HttpFailed || phase == Phase::FtpFailed) {
        view_.sinks().showBox(QStringLiteral("Upgrade Not Success, Please Run Again !"),
                              QStringLiteral("Upgrade Failure"), BoxButtons::Ok, BoxIcon::Error);
        markFailed();
    }
    view_.closeWindow();
}

bool MainWindowLogic::FormCloseQuery() {
    if (ExitRequested)
        return true;
    view_.stopStopTimer();
    const qint16 phase = UpgradePhase.load();
    bool allow = true;
    if (transferRunning()) {
        const BoxAnswer a = view_.sinks().showBox(
            QStringLiteral("Upgrade Not complete, Do you really want to exit program ?"),
            QStringLiteral("Upgrade Warning"), BoxButtons::OkCancel, BoxIcon::Warning);
        if (a == BoxAnswer::Ok) {
            // The transfer is stopped first; the controller then removes the files and closes
            // the window (at once, or when the FTP call under this close returns).
            return controller_->endRun(true);
        }
        allow = false;
    } else if (phase == Phase::TftpFailed || phase == Phase::HttpFailed ||
               phase == Phase::FtpFailed) {
        view_.sinks().showBox(QStringLiteral("Upgrade Not success, please Run again !"),
                              QStringLiteral("Upgrade Warning"), BoxButtons::Ok, BoxIcon::Warning);
        markFailed();
    }
    // A window that closes keeps no watchdog running behind it.
    if (!allow)
        view_.startStopTimer();
    return allow;
}

void MainWindowLogic::ExitKeyDown(ServiceKey key, bool altHeld) {
    if (!altHeld)
        return;
    if (key == ServiceKey::F1 && !LogShown) {
        SetLayout(6);
        LogShown = true;
        ListDetail = 222;
    }
    if (key == ServiceKey::F2 && LogShown) {
        SetLayout(7);
        LogShown = false;
        ListDetail = 111;
    }
    if (key == ServiceKey::F3 && !LogShown) {
        SetLayout(1);
        HaveUpgradeFile = 0;
        LogShown = true;
        ListDetail = 222;
    }
    if (key == ServiceKey::F5 && LogShown)
        view_.stopStopTimer();
}

} // namespace fw

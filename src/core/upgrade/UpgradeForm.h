#pragma once
// The main window's state and decisions: start-up, the command line and settings, the router
// choice, the layouts, Exit and closing. The widget (TUpgradeForm1) only forwards its events
// here; the upgrade controller (UpgradeController) runs Upgrade and the StopTimer. GUI thread.

#include "package/EmbeddedPackage.h"
#include "settings/SettingsRecord.h"
#include "transfer/ExtractionList.h"
#include "transfer/Method.h"
#include "transfer/Phase.h"
#include "transfer/StopCounter.h"
#include "upgrade/MainView.h"

#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

namespace fw {

class DeviceSearch;
class UpgradeController;

// Process exit statuses of a run.
namespace ExitStatus {
inline constexpr int Ok = 0;
inline constexpr int Failed = 1;       // upgrade or read-back failed
inline constexpr int StartupEnded = 2; // unreadable package or settings
inline constexpr int NeedsPerson = 3;  // headless run reached a state only a person could leave
} // namespace ExitStatus

// Key codes ExitKeyDown understands (with Alt held).
enum class ServiceKey { F1, F2, F3, F5, Other };

struct UpgradeFormConfig {
    QString tempBase;     // empty: from the environment
    quint16 webPort = 80; // the router's web server (tests use an ephemeral port)
    // Probes one address and adds what answers to the device list. Empty: the device search's
    // own SearchDevices. Tests replace it so that no probe leaves the machine.
    std::function<void(const QString& address)> probe;
};

class UpgradeForm {
public:
    using Config = UpgradeFormConfig;
    UpgradeForm(MainView& view, DeviceSearch& search, Config config = Config{});
    ~UpgradeForm();
    UpgradeForm(const UpgradeForm&) = delete;
    UpgradeForm& operator=(const UpgradeForm&) = delete;

    // --- start-up
    // `args` are the parameters after the program name; `exePath` the running executable.
    void FormCreate(const QStringList& args, const QString& exePath);
    void FormActivate();
    int ReadSettings();
    void FormClose();

    // --- main window and device entry
    void SetLayout(int mode);
    void FillDeviceList();
    static QString FirstWord(const QString& text);
    void IPComBoxChange();
    void IPComBoxKeyPress(int character); // acts on 13 (Enter) only
    void IPReFreshClick();
    void PasswordComBoxChange();
    void UserIDComBoxChange();
    void BrowseClick();
    void ExitClick();
    bool FormCloseQuery(); // true: the window may close
    void ExitKeyDown(ServiceKey key, bool altHeld);

    // --- upgrade controller (forwarded)
    void UpgradeClick();
    void StopTimerTimer();

    MainView& view() { return view_; }
    DeviceSearch& search() { return search_; }
    UpgradeController& controller() { return *controller_; }
    const Config& config() const { return config_; }

    // --- state (names as the window's fields)
    SettingsRecord settings;
    bool PutMode = false, GetMode = false, ParamMode = false, ParamLog = false;
    // A password handed over for an unattended run; choosing a router must not replace it.
    bool KeepPassword = false;
    QString romId = QStringLiteral("Ulvika");
    qint16 HaveUpgradeFile = 0;
    qint16 UpgradeMethod = 0;
    std::atomic<qint16> UpgradePhase{0};
    StopCounter stopCounter{0};
    quint16 StopLimit = 40;
    bool LogShown = false;
    qint16 ListDetail = 111;
    int FullHeight = 0;
    bool AutoStart = false, Interactive = false, OrderFromSettings = false;
    bool FactoryRelease = false, SectionCheck = false;
    QString sectionList;
    QString UpgradeSection;
    QString UserId;
    ExtractionList extractionCopy;
    std::unique_ptr<EmbeddedPackage> package;
    bool ExitRequested = false;

    bool releaseToUser() const { return settings.settingFlags() & SettingsRecord::ReleaseToUser; }
    bool logEnabled() const { return settings.settingFlags() & SettingsRecord::LogEnabled; }

    // How the run ends (see ExitStatus); the front returns it from main().
    int exitStatus = ExitStatus::Ok;
    // The ROM read-back wrote its file: a window left open for reading the log ends with 0.
    bool ReadBackSucceeded = false;

    // A transfer is marked running (phase 11, 121 or 131).
    bool transferRunning() const;
    // Nothing will happen without a person: no StopTimer and no transfer running.
    bool idle() const;
    // The exit status of a headless run that ends because it became idle: what was already
    // decided, else by the last transfer (succeeded 0, failed 1), else 3.
    int idleExitStatus() const;
    // Where SetLayout last put the groups (client pixels).
    int groupTop(Group g) const { return groupTop_[size_t(g)]; }

    // The most files Browse accepts (the extraction list copy's capacity).
    static constexpr int MaxBrowsedFiles = ExtractionList::Capacity;

private:
    void log(const QString& line);
    void endProgram();
    void readCommandLine(const QStringList& args);
    void parameterError();
    void useSingleFile(const QString& path);
    int unattendedPut(int startCode);
    void probe(const QString& address);
    void setGroup(Group g, int top, bool visible);
    void stackLayout(bool password, bool file);
    void markFailedExit();

    MainView& view_;
    DeviceSearch& search_;
    Config config_;
    std::unique_ptr<UpgradeController> controller_;
    // Design positions until the first SetLayout.
    std::array<int, 6> groupTop_{0, 56, 89, 144, 180, 204};
};

} // namespace fw

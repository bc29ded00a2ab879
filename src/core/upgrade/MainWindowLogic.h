#pragma once
// The main window's logic, no widget: start-up, the command line and settings, the router choice,
// the layouts, Exit and closing. The widget (MainWindow) only forwards its events here; the
// upgrade controller (UpgradeController) runs Upgrade and the StopTimer. GUI thread.

#include "package/EmbeddedPackage.h"
#include "settings/SettingsRecord.h"
#include "transfer/ExtractionList.h"
#include "transfer/RunState.h"
#include "upgrade/MainView.h"
#include "upgrade/RunHost.h"

#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace fw {

class DeviceSearch;
class UpgradeController;

// Key codes ExitKeyDown understands (with Alt held).
enum class ServiceKey { F1, F2, F3, F5, Other };

struct MainWindowLogicConfig {
    QString tempBase;     // empty: from the environment
    quint16 webPort = 80; // the router's web server (tests use an ephemeral port)
    // Probes one address and adds what answers to the device list. Empty: the device search's
    // own SearchDevices. Tests replace it so that no probe leaves the machine.
    std::function<void(const QString& address)> probe;
};

// The run's state is its base (RunState); the controller and the read-back take that and the
// RunHost side, never the whole of this class.
class MainWindowLogic : public RunState, public RunHost {
public:
    using Config = MainWindowLogicConfig;
    MainWindowLogic(MainView& view, DeviceSearch& search, Config config = Config{});
    ~MainWindowLogic() override;
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // --- start-up
    // `args` are the parameters after the program name; `exePath` the running executable.
    void FormCreate(const QStringList& args, const QString& exePath);
    // Whether the command line `args` takes its password from standard input ("-").
    static bool PasswordFromInput(const QStringList& args);
    void FormActivate();
    int ReadSettings();
    void FormClose();

    // --- main window and device entry
    void SetLayout(int mode);
    void FillDeviceList();
    static QString FirstWord(const QString& text);
    void IPComBoxChange();
    void IPComBoxKeyPress(int character); // acts on 13 (Enter) only
    // Ignored while a search runs.
    void IPReFreshClick();
    void PasswordComBoxChange();
    void UserIDComBoxChange();
    void BrowseClick();
    void ExitClick() override;
    bool FormCloseQuery(); // true: the window may close
    void ExitKeyDown(ServiceKey key, bool altHeld);

    // --- upgrade controller (forwarded; ignored while a search runs)
    void UpgradeClick();
    void StopTimerTimer();

    MainView& view() override { return view_; }
    DeviceSearch& search() override { return search_; }
    // --- RunHost
    const SettingsRecord& runSettings() const override { return settings; }
    quint16 webPort() const override { return config_.webPort; }
    bool logShown() const override { return LogShown; }
    void showLogIfEnabled() override;
    void refreshRouters() override;
    void releasePackage() override { package.reset(); }

    UpgradeController& controller() { return *controller_; }
    const Config& config() const { return config_; }

    // --- state (names as the window's fields)
    SettingsRecord settings;
    bool ParamMode = false, ParamLog = false;
    // A password handed over for an unattended run; choosing a router must not replace it.
    bool KeepPassword = false;
    // The line read from standard input for a password argument "-" (set before FormCreate;
    // without it "-" is taken as the password itself).
    std::optional<QString> StandardInputPassword;
    QString romId = QStringLiteral("Ulvika");
    bool LogShown = false;
    qint16 ListDetail = 111;
    int FullHeight = 0;
    std::unique_ptr<EmbeddedPackage> package;
    bool ExitRequested = false;

    bool releaseToUser() const { return settings.settingFlags() & SettingsRecord::ReleaseToUser; }
    bool logEnabled() const { return settings.settingFlags() & SettingsRecord::LogEnabled; }

    // Nothing will happen without a person: no StopTimer and no transfer running.
    bool idle() const;
    // The exit status of a headless run that ends because it became idle (RunState::outcome).
    int idleExitStatus() const { return outcome(); }
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
    // Runs `search` with Refresh, Enter and Upgrade ignored until the input given meanwhile
    // has been delivered.
    void searching(const std::function<void()>& search);

    MainView& view_;
    DeviceSearch& search_;
    Config config_;
    std::unique_ptr<UpgradeController> controller_;
    bool searchRunning_ = false;
    // Design positions until the first SetLayout.
    std::array<int, 6> groupTop_{0, 56, 89, 144, 180, 204};
};

} // namespace fw

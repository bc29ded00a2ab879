#pragma once
// What the upgrade controller and the ROM read-back need from the main window's logic besides the
// run's state (RunState): the window, the search, the settings and the few window actions they
// start. MainWindowLogic implements it. GUI thread.

#include "settings/SettingsRecord.h"

#include <QtGlobal>

namespace fw {

class DeviceSearch;
class MainView;

class RunHost {
public:
    virtual ~RunHost() = default;
    virtual MainView& view() = 0;
    virtual DeviceSearch& search() = 0;
    virtual const SettingsRecord& runSettings() const = 0;
    // The router's web server port (80; tests use an ephemeral one).
    virtual quint16 webPort() const = 0;
    // The System Log is shown (the window then stays open for reading it).
    virtual bool logShown() const = 0;
    // Shows the System Log and the detailed list when the settings enable the log.
    virtual void showLogIfEnabled() = 0;
    virtual void ExitClick() = 0;
    // A new search and the choice of its first router (IPReFreshClick, IPComBoxChange).
    virtual void refreshRouters() = 0;
    // Deletes the extracted files now.
    virtual void releasePackage() = 0;
};

} // namespace fw

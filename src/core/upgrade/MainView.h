#pragma once
// What the main window's decisions need from the window itself. MainWindow implements it with
// widgets; tests implement it with plain fields. Everything here runs on the GUI thread.

#include "ui/Sinks.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <optional>

namespace fw {

enum class Group { Search, Password, UpgradeFile, Tool, Progress, SystemLog };

// The order in which the sorted IPComBox shows its lines: without regard to case, ties in
// case-sensitive order, equal lines kept.
inline QStringList sortedIpItems(QStringList lines) {
    std::stable_sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.compare(b, Qt::CaseSensitive) < 0;
    });
    return lines;
}

class MainView {
public:
    virtual ~MainView() = default;

    // The progress sinks (Memo1, StatusBar1, ProgressBar1), boxes and message windows.
    virtual Sinks sinks() = 0;

    virtual void setCaption(const QString& caption) = 0;
    virtual QString caption() const = 0;

    // IPComBox: editable and sorted; items are shown in sorted order.
    virtual QString ipText() const = 0;
    virtual void setIpText(const QString& text) = 0;
    virtual void setIpItems(const QStringList& lines) = 0; // replaces the items, clears the text
    virtual QStringList ipItems() const = 0;               // in the combo's (sorted) order
    virtual void focusIp() = 0;

    // PasswordComBox (masked), UserIDComBox with UserLabel, Label2.
    virtual QString passwordText() const = 0;
    virtual void setPasswordText(const QString& text) = 0;
    virtual void setPasswordEnabled(bool enabled) = 0;
    virtual void setPasswordWhite() = 0; // white background instead of the menu colour
    virtual void setPasswordGeometry(int left, int width) = 0;
    virtual void setLabel2Left(int left) = 0;
    virtual QString userIdText() const = 0;
    virtual void setUserIdText(const QString& text) = 0;
    virtual void setUserIdShown(bool shown) = 0; // UserIDComBox and UserLabel together
    // After a refused password: the focus in the password field, its text selected, so that
    // the corrected one replaces it.
    virtual void focusPassword() {}

    virtual QString updateFileNameText() const = 0;
    virtual void setUpdateFileNameText(const QString& text) = 0;

    virtual void setUpgradeEnabled(bool enabled) = 0;
    virtual bool upgradeEnabled() const = 0;
    virtual void setExitEnabled(bool enabled) = 0;

    // Group boxes and the window height (client pixels at 96 dpi).
    virtual int groupHeight(Group g) const = 0;
    virtual void placeGroup(Group g, int top, bool visible) = 0;
    virtual int windowHeight() const = 0;
    virtual void setWindowHeight(int height) = 0;

    // StopTimer, 1000 ms.
    virtual void startStopTimer() = 0;
    virtual void stopStopTimer() = 0;
    virtual bool stopTimerActive() const = 0;

    // A close attempt: runs FormCloseQuery and, when allowed, FormClose.
    virtual void closeWindow() = 0;
    // Closes and destroys the window without asking.
    virtual void releaseWindow() = 0;
    virtual void terminateApplication() = 0;

    // Shows the search window modally (it runs the broadcast search); returns when it closes.
    virtual void showSearchWindow() = 0;
    // The multi-select file dialog; nullopt when cancelled.
    virtual std::optional<QStringList> chooseUpgradeFiles() = 0;
    // Waits while the event loop keeps turning.
    virtual void waitMs(int ms) = 0;
    // Delivers the input a person gave while the GUI thread was held by a search, so that it
    // reaches the window while the caller still ignores Refresh and Upgrade (no timers run).
    virtual void settleInput() {}
};

} // namespace fw

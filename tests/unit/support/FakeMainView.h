#pragma once
// A main window made of plain fields, for tests that drive MainWindowLogic and the controller
// without widgets. Records every report (log, status, progress, boxes, message windows) and every
// window request; boxes are answered from a queue, the file dialog from a field. Test thread only.

#include "message/MessageRecord.h"
#include "process/ProcessState.h"
#include "search/DeviceSearch.h"
#include "upgrade/MainView.h"
#include "upgrade/MainWindowLogic.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>

// Readable QString values in test failure messages.
#ifndef FW_TEST_QSTRING_PRINTERS
#define FW_TEST_QSTRING_PRINTERS
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < l.size(); ++i)
        *os << (i ? ", \"" : "\"") << l[i].toStdString() << '"';
    *os << '}';
}
#endif

namespace fw::test {

struct RecordedBox {
    QString text;
    QString caption; // null when the box has no caption of its own
    BoxButtons buttons = BoxButtons::Ok;
    BoxIcon icon = BoxIcon::None;
};

class FakeMainView : public MainView,
                     public LogSink,
                     public StatusSink,
                     public ProgressSink,
                     public BoxSink,
                     public MessageWindowSink {
public:
    FakeMainView();

    // Close attempts then run FormCloseQuery and, when allowed, FormClose; tick() runs
    // StopTimerTimer. (Inline, so test programs that never attach need no MainWindowLogic.)
    void attach(MainWindowLogic& form) {
        onCloseQuery = [&form] {
            if (!form.FormCloseQuery())
                return false;
            form.FormClose();
            return true;
        };
        onTick = [&form] { form.StopTimerTimer(); };
    }

    // --- MainView
    Sinks sinks() override;
    void setCaption(const QString& c) override { caption_ = c; }
    QString caption() const override { return caption_; }
    QString ipText() const override { return ipText_; }
    void setIpText(const QString& t) override { ipText_ = t; }
    void setIpItems(const QStringList& lines) override;
    QStringList ipItems() const override { return ipItems_; }
    void focusIp() override { ++focusIpCount; }
    QString passwordText() const override { return password; }
    void setPasswordText(const QString& t) override { password = t; }
    void setPasswordEnabled(bool e) override { passwordEnabled = e; }
    void setPasswordWhite() override { passwordWhite = true; }
    void setPasswordGeometry(int left, int width) override;
    void setLabel2Left(int left) override { label2Left = left; }
    QString userIdText() const override { return userId; }
    void setUserIdText(const QString& t) override { userId = t; }
    void setUserIdShown(bool s) override { userIdShown = s; }
    QString updateFileNameText() const override { return updateFileName; }
    void setUpdateFileNameText(const QString& t) override { updateFileName = t; }
    void setUpgradeEnabled(bool e) override { upgradeEnabled_ = e; }
    bool upgradeEnabled() const override { return upgradeEnabled_; }
    void setExitEnabled(bool e) override { exitEnabled = e; }
    int groupHeight(Group g) const override { return heights[size_t(g)]; }
    void placeGroup(Group g, int top, bool visible) override;
    int windowHeight() const override { return height; }
    void setWindowHeight(int h) override { height = h; }
    void startStopTimer() override;
    void stopStopTimer() override { timerActive = false; }
    bool stopTimerActive() const override { return timerActive; }
    void closeWindow() override;
    void releaseWindow() override;
    void terminateApplication() override { ++terminateCount; }
    void showSearchWindow() override;
    std::optional<QStringList> chooseUpgradeFiles() override;
    void waitMs(int ms) override { waits.append(ms); }

    // --- sinks
    void appendLog(const QString& line) override { log.append(line); }
    void setStatusText(const QString& text) override { statuses.append(text); }
    void setProgressMaximum(qint64 m) override { progressMaximum = m; }
    void setProgressPosition(qint64 p) override { progressPosition = p; }
    void advanceProgress(qint64 d) override { progressPosition += d; }
    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                      BoxIcon icon) override;
    void showMessageWindow(const MessageRecord& record) override { messages.append(record); }

    // StopTimerTimer once when StopTimer runs (attached form); false when it does not run.
    bool tick();

    // The last status text, or a null text when none was set.
    QString status() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    // Log lines from `from` on.
    QStringList logFrom(qsizetype from) const { return log.mid(from); }

    // --- recorded state (public so tests read and preset it directly)
    QStringList log;
    QStringList statuses;
    qint64 progressMaximum = 100;
    qint64 progressPosition = 0;
    QList<RecordedBox> boxes;
    // Answers for the next boxes; when empty, the first button of the set.
    std::deque<BoxAnswer> boxAnswers;
    QList<MessageRecord> messages;

    QString password;
    bool passwordEnabled = false;
    bool passwordWhite = false;
    int passwordLeft = 70;
    int passwordWidth = 259;
    int label2Left = 10;
    QString userId;
    bool userIdShown = false;
    QString updateFileName;
    bool exitEnabled = true;
    int focusIpCount = 0;

    // Group heights and where SetLayout put the groups (design values at first).
    std::array<int, 6> heights{57, 41, 57, 40, 25, 137};
    std::array<int, 6> tops{0, 56, 89, 144, 180, 204};
    std::array<bool, 6> visible{true, true, true, true, true, true};
    int height = 359;
    int top(Group g) const { return tops[size_t(g)]; }
    bool shown(Group g) const { return visible[size_t(g)]; }

    bool timerActive = false;
    int timerStarts = 0;
    int closeAttempts = 0;
    bool closed = false;
    int releaseCount = 0;
    int terminateCount = 0;
    int searchWindowShown = 0;
    QList<int> waits;

    // What the search window does when shown (e.g. fill the device list); may be empty.
    std::function<void()> onSearchWindow;
    // What the file dialog returns; nullopt = cancelled.
    std::optional<QStringList> filesToChoose;
    int fileDialogShown = 0;

    // Set by attach(): the close question (true: closed) and the timer event.
    std::function<bool()> onCloseQuery;
    std::function<void()> onTick;

private:
    QString caption_ = QStringLiteral("Firmware Upgrade  V1.1.1");
    QString ipText_;
    QStringList ipItems_;
    bool upgradeEnabled_ = false;
};

// A main window's decisions over a FakeMainView and a device search whose probes never leave the
// process: each probe is recorded and handed to `onProbe`, which may append devices by hand.
// Extracted files go to a private temporary directory. Everything is inline so that only the
// test programs that use it need MainWindowLogic.
struct FormHarness {
    QTemporaryDir temp;
    DeviceSearch search;
    FakeMainView view;
    QStringList probed;
    std::function<void(const QString&)> onProbe;
    MainWindowLogic form;

    FormHarness() : form(view, search, makeConfig()) {
        ProcessState::quitAtStart = false;
        view.attach(form);
    }

    MainWindowLogicConfig makeConfig() {
        MainWindowLogicConfig c;
        c.tempBase = temp.path();
        c.probe = [this](const QString& address) {
            probed.append(address);
            if (onProbe)
                onProbe(address);
        };
        return c;
    }

    void addDevice(qint32 type, const QString& address, const QString& romId = QString(),
                   const QString& detail = QString()) {
        search.devices().append(DeviceRecord{type, address, romId, detail});
    }

    // Chooses a router the way the list does: the address typed or selected, then the event.
    void choose(const QString& address) {
        view.setIpText(address);
        form.IPComBoxChange();
    }
};

} // namespace fw::test

#pragma once
// The main window: a fixed-size dialog with the router list, password, upgrade files, Upgrade and
// Exit, the progress bar, the System Log and the status line. It owns the main window's decisions
// (MainWindowLogic) and forwards every event to them; it implements MainView for them. GUI thread.

#include "BoxPresenter.h"
#include "HeadlessPolicy.h"
#include "MemoSink.h"
#include "MessageWindowForward.h"
#include "ProgressBarSink.h"
#include "StatusBarSink.h"
#include "upgrade/MainView.h"
#include "upgrade/MainWindowLogic.h"

#include <QTimer>
#include <QValidator>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace fw {

class DeviceSearch;

// Refuses typed or pasted input that would make a line edit's text longer than `limit`; a
// longer text the program put there (allowLength first, then setText, which is never validated)
// stays whole and can still be edited down. GUI thread.
class TypedLengthValidator final : public QValidator {
    Q_OBJECT
public:
    TypedLengthValidator(int limit, QLineEdit* edit);
    State validate(QString& input, int& pos) const override;
    void allowLength(qsizetype length) { accepted_ = length; }

private:
    int limit_;
    qsizetype accepted_ = 0;
};

class MainWindow final : public QWidget, public MainView {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 344;
    static constexpr int ClientHeight = 359;
    static constexpr int PasswordTypedLimit = 9;
    static constexpr std::chrono::milliseconds StopTimerInterval{1000};
    // How often a headless run looks whether it is left waiting for a person.
    static constexpr std::chrono::milliseconds IdleCheckInterval{500};
    static constexpr int IdleChecksBeforeEnd = 2;
    static inline const QString Caption = QStringLiteral("Firmware Upgrade  V1.1.1");
    static inline const QString OpenDialogFilter =
        QStringLiteral("(BIN Files)|*.bin|(EXE Files)|*.exe|(All Files)|*.*");

    explicit MainWindow(DeviceSearch& search, MainWindowLogicConfig config = {},
                           HeadlessPolicy policy = HeadlessPolicy::fromEnvironment(),
                           QWidget* parent = nullptr);
    ~MainWindow() override;

    MainWindowLogic& form() { return *form_; }

    // The search window, shown modally by Refresh (e.g. [&] { searchWindow.exec(); }).
    void setSearchWindow(std::function<void()> showModal) { searchWindow_ = std::move(showModal); }
    // Where message windows go (the sink may be set at any time; null shows none).
    void setMessageWindowSink(MessageWindowSink* sink) { messageForward_.setTarget(sink); }
    // Whether the first showing runs FormActivate (tests of the bare widget turn it off).
    void setStartOnActivate(bool on) { startOnActivate_ = on; }
    bool released() const { return released_; }

    // "Text|pattern|Text|pattern" filters as Qt name filters ("*.*" means every file).
    static QStringList qtNameFilters(const QString& pairs);

    // --- MainView
    Sinks sinks() override;
    void setCaption(const QString& caption) override;
    QString caption() const override;
    QString ipText() const override;
    void setIpText(const QString& text) override;
    void setIpItems(const QStringList& lines) override;
    QStringList ipItems() const override;
    void focusIp() override;
    QString passwordText() const override;
    void setPasswordText(const QString& text) override;
    void setPasswordEnabled(bool enabled) override;
    void setPasswordWhite() override;
    void setPasswordGeometry(int left, int width) override;
    void setLabel2Left(int left) override;
    QString userIdText() const override;
    void setUserIdText(const QString& text) override;
    void setUserIdShown(bool shown) override;
    void focusPassword() override;
    QString updateFileNameText() const override;
    void setUpdateFileNameText(const QString& text) override;
    void setUpgradeEnabled(bool enabled) override;
    bool upgradeEnabled() const override;
    void setExitEnabled(bool enabled) override;
    int groupHeight(Group g) const override;
    void placeGroup(Group g, int top, bool visible) override;
    int windowHeight() const override;
    void setWindowHeight(int height) override;
    void startStopTimer() override;
    void stopStopTimer() override;
    bool stopTimerActive() const override;
    void closeWindow() override;
    void releaseWindow() override;
    void terminateApplication() override;
    void showSearchWindow() override;
    std::optional<QStringList> chooseUpgradeFiles() override;
    void waitMs(int ms) override;
    void settleInput() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void connectEvents();
    QGroupBox* group(Group g) const;
    void runFormActivate();
    void checkIdle();
    void placePasswordLabels();
    void fitIpPopup();
    void showIpStart();

    HeadlessPolicy policy_;
    QGroupBox* SearchGroup = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* IPComBox = nullptr;
    QPushButton* IPReFresh = nullptr;
    QGroupBox* PasswordGroup = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* UserLabel = nullptr;
    QLineEdit* PasswordComBox = nullptr;
    TypedLengthValidator* passwordLimit_ = nullptr;
    QLineEdit* UserIDComBox = nullptr;
    QGroupBox* UpgreadFileGroup = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* UpdateFileName = nullptr;
    QPushButton* Browse = nullptr;
    QGroupBox* ToolGroup = nullptr;
    QPushButton* Upgrade = nullptr;
    QPushButton* Exit = nullptr;
    QGroupBox* ProgressGroup = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QGroupBox* GSystemLog = nullptr;
    SystemLogView* Memo1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QTimer* StopTimer = nullptr;
    QTimer idleCheck_;
    int idleChecks_ = 0;
    int label2Left_ = 10;

    std::unique_ptr<MemoSink> memoSink_;
    std::unique_ptr<StatusBarSink> statusSink_;
    std::unique_ptr<ProgressBarSink> progressSink_;
    std::unique_ptr<BoxPresenter> boxPresenter_;
    MessageWindowForward messageForward_;
    HeadlessEventSink eventSink_{policy_};

    std::function<void()> searchWindow_;
    bool startOnActivate_ = true;
    bool activated_ = false;
    bool released_ = false;
    bool closed_ = false;
    int modalDepth_ = 0;

    // Last: its controller reads the sinks above when it is built.
    std::unique_ptr<MainWindowLogic> form_;
};

} // namespace fw

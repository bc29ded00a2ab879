// The main window widget offscreen: its controls, layouts, keys, sinks and headless behaviour.

#include "SystemLogView.h"
#include "MainWindow.h"
#include "process/ProcessState.h"
#include "search/DeviceSearch.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace fw;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "mainwindow_widget_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QApplication(argc, argv);
    return *a;
}

// A main window whose probes stay in the process and whose extraction goes to a private
// directory; headless reports are captured.
struct Window {
    QTemporaryDir temp;
    DeviceSearch search;
    QStringList probed;
    QStringList out, err;
    MainWindow w;

    explicit Window(bool headless = false)
        : w(search, config(), headless ? capture() : HeadlessPolicy::interactive()) {
        w.setStartOnActivate(false);
    }

    MainWindowLogicConfig config() {
        app();
        MainWindowLogicConfig c;
        c.tempBase = temp.path();
        c.probe = [this](const QString& a) { probed << a; };
        return c;
    }
    HeadlessPolicy capture() {
        return HeadlessPolicy::capture([this](const QString& l) { out << l; },
                                       [this](const QString& l) { err << l; });
    }
    // FormCreate over an executable without a package.
    void create(const QStringList& args = {}) {
        const QString exe = temp.filePath(QStringLiteral("plain.exe"));
        QFile f(exe);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("MZ");
        f.close();
        w.form().FormCreate(args, exe);
    }
    template <class T> T* child(const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QGroupBox* group(const char* name) { return child<QGroupBox>(name); }
};

} // namespace

TEST(MainWindowWidget, ControlsTextsAndInitialStates) {
    Window t;
    MainWindow& w = t.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Firmware Upgrade  V1.1.1"));
    EXPECT_EQ(w.size(), QSize(344, 359));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());

    const std::tuple<const char*, int, int> groups[] = {
        {"SearchGroup", 0, 57}, {"PasswordGroup", 56, 41},  {"UpgreadFileGroup", 89, 57},
        {"ToolGroup", 144, 40}, {"ProgressGroup", 180, 25}, {"GSystemLog", 204, 137}};
    for (const auto& [name, top, height] : groups) {
        QGroupBox* g = t.group(name);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->y(), top) << name;
        EXPECT_EQ(g->height(), height) << name;
        EXPECT_LE(g->geometry().right(), 343) << name;
        EXPECT_FALSE(g->isHidden()) << name;
    }
    EXPECT_EQ(t.group("GSystemLog")->title(), QStringLiteral("System Log"));

    EXPECT_EQ(t.child<QLabel>("Label1")->text(),
              QStringLiteral("Select one device. Or you can input IP manually :"));
    EXPECT_EQ(t.child<QLabel>("Label2")->text(), QStringLiteral("Password"));
    EXPECT_EQ(t.child<QLabel>("UserLabel")->text(), QStringLiteral("UserID"));
    EXPECT_TRUE(t.child<QLabel>("UserLabel")->isHidden());
    EXPECT_EQ(t.child<QLabel>("Label3")->text(), QStringLiteral("Select Update File by yourself"));

    auto* ip = t.child<QComboBox>("IPComBox");
    EXPECT_TRUE(ip->isEditable());
    EXPECT_EQ(ip->insertPolicy(), QComboBox::NoInsert);
    EXPECT_EQ(ip->count(), 0);
    EXPECT_EQ(ip->currentText(), QString());
    EXPECT_EQ(t.child<QPushButton>("IPReFresh")->text(), QStringLiteral("Refresh"));

    auto* password = t.child<QLineEdit>("PasswordComBox");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(password->isEnabled());
    EXPECT_TRUE(password->styleSheet().contains(QStringLiteral("lineedit-password-character: 42")));
    EXPECT_TRUE(password->styleSheet().contains(QStringLiteral("palette(window)")));
    EXPECT_EQ(password->geometry(), QRect(70, 12, 259, 21));
    auto* user = t.child<QLineEdit>("UserIDComBox");
    EXPECT_TRUE(user->isHidden());
    EXPECT_EQ(user->x(), 50);
    EXPECT_EQ(user->width(), 90);

    auto* file = t.child<QLineEdit>("UpdateFileName");
    EXPECT_TRUE(file->isReadOnly());
    EXPECT_EQ(file->text(), QString());
    EXPECT_EQ(t.child<QPushButton>("Browse")->text(), QStringLiteral("Browse"));
    EXPECT_EQ(t.child<QPushButton>("Upgrade")->text(), QStringLiteral("Upgrade"));
    EXPECT_FALSE(t.child<QPushButton>("Upgrade")->isEnabled());
    EXPECT_EQ(t.child<QPushButton>("Exit")->text(), QStringLiteral("Exit"));
    EXPECT_TRUE(t.child<QPushButton>("Exit")->isEnabled());

    auto* bar = t.child<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    auto* memo = t.child<SystemLogView>("Memo1");
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->toPlainText(), QString());
    auto* status = t.child<QStatusBar>("StatusBar1");
    EXPECT_EQ(status->currentMessage(), QString());
    EXPECT_EQ(status->geometry().bottom(), 358);

    auto* timer = t.child<QTimer>("StopTimer");
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_FALSE(timer->isActive());
}

TEST(MainWindowWidget, FormCreateFillsTheWindow) {
    Window t;
    t.create({QStringLiteral("put"), QStringLiteral("10.0.0.1"), QStringLiteral("pw"),
              QStringLiteral("R"), QStringLiteral("image.bin")});
    EXPECT_EQ(t.child<QComboBox>("IPComBox")->currentText(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(t.child<QLineEdit>("PasswordComBox")->text(), QStringLiteral("pw"));
    EXPECT_EQ(t.child<QLineEdit>("UpdateFileName")->text(), QStringLiteral("image.bin;"));
    EXPECT_EQ(t.child<QLineEdit>("UserIDComBox")->text(), QStringLiteral("admin"));
    EXPECT_EQ(t.w.form().FullHeight, 359);
    const QStringList memo =
        t.child<SystemLogView>("Memo1")->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(memo.first(), QStringLiteral("Program Version V1.1.1f "));
    EXPECT_EQ(memo.last(), QStringLiteral("Set ROMID = R in parameter input"));
}

TEST(MainWindowWidget, LayoutHeights) {
    Window t;
    t.create();
    MainWindowLogic& f = t.w.form();
    struct Case {
        int mode;
        int logHidden;
        bool password, file;
    };
    const Case cases[] = {{2, 359 - 137 - 41 + 14, false, true},
                          {3, 359 - 137 + 4, true, true},
                          {4, 359 - 137 - 41 - 57 + 4, false, false},
                          {5, 359 - 137 - 57 + 4, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        f.LogShown = false;
        f.SetLayout(c.mode);
        EXPECT_EQ(t.w.height(), c.logHidden);
        EXPECT_EQ(t.w.minimumHeight(), c.logHidden); // still fixed
        EXPECT_EQ(t.group("PasswordGroup")->isHidden(), !c.password);
        EXPECT_EQ(t.group("UpgreadFileGroup")->isHidden(), !c.file);
        EXPECT_TRUE(t.group("GSystemLog")->isHidden());
        EXPECT_EQ(t.group("ProgressGroup")->y(), t.group("ToolGroup")->y() + 40);
        EXPECT_EQ(t.child<QStatusBar>("StatusBar1")->geometry().bottom(), c.logHidden - 1);

        f.SetLayout(6);
        f.LogShown = true;
        EXPECT_EQ(t.w.height(), c.logHidden + 137);
        EXPECT_FALSE(t.group("GSystemLog")->isHidden());
        EXPECT_EQ(t.group("GSystemLog")->y(), t.group("ProgressGroup")->y() + 25);
        f.SetLayout(7);
        f.LogShown = false;
    }
    f.SetLayout(1);
    EXPECT_EQ(t.w.height(), 359);
    EXPECT_EQ(t.group("GSystemLog")->y(), 204);
    EXPECT_FALSE(t.group("PasswordGroup")->isHidden());
}

TEST(MainWindowWidget, AltKeysOnExitOnly) {
    Window t;
    t.create();
    t.w.show();
    MainWindowLogic& f = t.w.form();
    f.SetLayout(4);
    const int small = t.w.height();
    auto* exit = t.child<QPushButton>("Exit");
    auto* refresh = t.child<QPushButton>("IPReFresh");

    QTest::keyClick(refresh, Qt::Key_F1, Qt::AltModifier); // not on Exit
    EXPECT_FALSE(f.LogShown);
    QTest::keyClick(exit, Qt::Key_F1); // no Alt
    EXPECT_FALSE(f.LogShown);

    QTest::keyClick(exit, Qt::Key_F1, Qt::AltModifier);
    EXPECT_TRUE(f.LogShown);
    EXPECT_EQ(t.w.height(), small + 137);
    EXPECT_FALSE(t.group("GSystemLog")->isHidden());

    t.w.startStopTimer();
    QTest::keyClick(exit, Qt::Key_F5, Qt::AltModifier);
    EXPECT_FALSE(t.w.stopTimerActive());

    QTest::keyClick(exit, Qt::Key_F2, Qt::AltModifier);
    EXPECT_FALSE(f.LogShown);
    EXPECT_EQ(t.w.height(), small);

    QTest::keyClick(exit, Qt::Key_F3, Qt::AltModifier);
    EXPECT_TRUE(f.LogShown);
    EXPECT_EQ(f.HaveUpgradeFile, 0);
    EXPECT_EQ(t.w.height(), 359);
    EXPECT_FALSE(t.group("PasswordGroup")->isHidden());
    t.w.hide();
}

TEST(MainWindowWidget, PasswordTypingIsLimitedButPresetsStayWhole) {
    Window t;
    t.w.show();
    auto* password = t.child<QLineEdit>("PasswordComBox");
    password->setEnabled(true);
    QTest::keyClicks(password, QStringLiteral("1234567890ab"));
    EXPECT_EQ(password->text(), QStringLiteral("123456789"));
    EXPECT_TRUE(t.child<QPushButton>("Upgrade")->isEnabled()); // PasswordComBoxChange ran
    // The whole text as the tooltip when the line must cut it.
    const QString confirm =
        QStringLiteral("Confirm your password and press Upgrade button to upgrade");
    auto* status = t.child<QStatusBar>("StatusBar1");
    if (status->currentMessage() != confirm) {
        EXPECT_TRUE(status->currentMessage().endsWith(QChar(0x2026)));
        EXPECT_EQ(status->toolTip(), confirm);
    }

    const QString longOne = QStringLiteral("a-password-of-24-letters");
    t.w.setPasswordText(longOne);
    EXPECT_EQ(t.w.passwordText(), longOne);
    QTest::keyClick(password, Qt::Key_End);
    QTest::keyClicks(password, QStringLiteral("x"));
    EXPECT_EQ(t.w.passwordText(), longOne); // no growth by typing
    QTest::keyClick(password, Qt::Key_Backspace);
    EXPECT_EQ(t.w.passwordText(), longOne.chopped(1)); // but editing down works
    t.w.hide();
}

TEST(MainWindowWidget, TypingAndEnterInTheRouterList) {
    Window t;
    t.create();
    t.w.show();
    t.w.form().HaveUpgradeFile = 1;
    t.search.devices().append(DeviceRecord{DeviceType::Normal, QStringLiteral("10.0.0.1"),
                                           QStringLiteral("ABC"), QStringLiteral("d")});
    auto* ip = t.child<QComboBox>("IPComBox");
    // The keys a person types go to the widget with the focus: the combo box itself.
    t.w.focusIp();
    QWidget* focused = QApplication::focusWidget() ? QApplication::focusWidget() : ip;
    QTest::keyClicks(focused, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(t.w.form().UpgradeMethod, Method::Http); // IPComBoxChange on typing
    EXPECT_TRUE(t.child<QPushButton>("Upgrade")->isEnabled());

    t.w.setIpText(QStringLiteral("10.0.0.8"));
    QTest::keyClick(ip, Qt::Key_Return);
    EXPECT_EQ(t.probed, QStringList{QStringLiteral("10.0.0.8")});
    EXPECT_EQ(t.search.devices().count(), 0);
    EXPECT_EQ(t.child<QStatusBar>("StatusBar1")->currentMessage(),
              QStringLiteral("0 device found"));
    // The keypad's Enter does the same.
    t.w.setIpText(QStringLiteral("10.0.0.9"));
    QTest::keyClick(ip, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(t.probed, (QStringList{QStringLiteral("10.0.0.8"), QStringLiteral("10.0.0.9")}));
    t.w.hide();
}

TEST(MainWindowWidget, RouterListIsSortedAndFirstLineChosen) {
    Window t;
    for (const char* a : {"10.0.0.3", "10.0.0.20", "10.0.0.100"})
        t.search.devices().append(DeviceRecord{1, QString::fromLatin1(a), {}, {}});
    t.w.form().FillDeviceList();
    EXPECT_EQ(t.w.ipItems(), QStringList({QStringLiteral("10.0.0.100"), QStringLiteral("10.0.0.20"),
                                          QStringLiteral("10.0.0.3")}));
    EXPECT_EQ(t.child<QComboBox>("IPComBox")->currentText(), QStringLiteral("10.0.0.100"));
    EXPECT_TRUE(t.err.isEmpty()); // not headless: nothing written
}

TEST(MainWindowWidget, HeadlessReportsGoToTheStreams) {
    Window t(true);
    auto* memo = t.child<SystemLogView>("Memo1");
    const Sinks s = t.w.sinks();
    s.logLine(QStringLiteral("Set DstIP = 10.0.0.1"));
    EXPECT_EQ(t.out, QStringList{QStringLiteral("Set DstIP = 10.0.0.1")});
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("Set DstIP = 10.0.0.1"));

    s.setStatus(QStringLiteral("2 devices found"));
    EXPECT_EQ(t.child<QStatusBar>("StatusBar1")->currentMessage(),
              QStringLiteral("2 devices found"));

    EXPECT_EQ(s.showBox(QStringLiteral("Unconnect to router"),
                        QStringLiteral("Router connection failure"), BoxButtons::Ok),
              BoxAnswer::Ok);
    EXPECT_EQ(s.showBox(QStringLiteral("Could not detect upgrade method !"), QString(),
                        BoxButtons::OkCancel),
              BoxAnswer::Ok);
    EXPECT_EQ(s.showBox(QStringLiteral("Read file : x error!"), QStringLiteral("Function Error"),
                        BoxButtons::YesNoCancel),
              BoxAnswer::Yes);
    EXPECT_EQ(s.showBox(QStringLiteral("Incorrect upgrade file. Please check again!"), QString(),
                        BoxButtons::YesOnly),
              BoxAnswer::Yes);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    t.w.setIpItems({QStringLiteral("10.0.0.3   crash"), QStringLiteral("10.0.0.100")});
    EXPECT_FALSE(t.w.chooseUpgradeFiles().has_value());

    EXPECT_EQ(t.err,
              QStringList({QStringLiteral("status: 2 devices found"),
                           QStringLiteral("box: Router connection failure: Unconnect to router"),
                           QStringLiteral("box: : Could not detect upgrade method !"),
                           QStringLiteral("box: Function Error: Read file : x error!"),
                           QStringLiteral("box: : Incorrect upgrade file. Please check again!"),
                           QStringLiteral("list: 10.0.0.100"),
                           QStringLiteral("list: 10.0.0.3   crash")}));
    EXPECT_EQ(t.out.size(), 1);
}

TEST(MainWindowWidget, HeadlessInteractiveStartEndsWaitingForAPerson) {
    Window t(true);
    t.create();
    int searches = 0;
    t.w.setSearchWindow([&] {
        ++searches;
        t.search.devices().append(DeviceRecord{1, QStringLiteral("10.0.0.1"), {}, {}});
    });
    t.w.setStartOnActivate(true);
    t.w.show();
    QElapsedTimer clock;
    clock.start();
    while (!t.w.released() && clock.elapsed() < 5000)
        QTest::qWait(50);
    EXPECT_TRUE(t.w.released());
    EXPECT_EQ(searches, 1);
    EXPECT_EQ(t.w.form().exitStatus, ExitStatus::NeedsPerson);
    EXPECT_TRUE(t.err.contains(QStringLiteral("list: 10.0.0.1")));
    EXPECT_EQ(t.w.form().package, nullptr); // FormClose ran
}

TEST(MainWindowWidget, ProgressBarScalesByteCounts) {
    Window t;
    auto* bar = t.child<QProgressBar>("ProgressBar1");
    const Sinks s = t.w.sinks();
    s.setProgressMaximum(0);
    s.setProgressPosition(0);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_GT(bar->maximum(), bar->minimum()); // never a busy indicator
    s.setProgressMaximum(10'000'000'000LL);
    s.setProgressPosition(5'000'000'000LL);
    EXPECT_NEAR(double(bar->value()) / bar->maximum(), 0.5, 0.001);
    s.advanceProgress(20'000'000'000LL); // beyond the end: full
    EXPECT_EQ(bar->value(), bar->maximum());
    s.setProgressMaximum(300);
    s.setProgressPosition(150);
    EXPECT_EQ(bar->maximum(), 300);
    EXPECT_EQ(bar->value(), 150);
}

TEST(MainWindowWidget, FileDialogFilters) {
    EXPECT_EQ(
        MainWindow::qtNameFilters(MainWindow::OpenDialogFilter),
        QStringList({QStringLiteral("(BIN Files) (*.bin)"), QStringLiteral("(EXE Files) (*.exe)"),
                     QStringLiteral("(All Files) (*)")}));
}

TEST(MainWindowWidget, CloseDuringATransferAsksAndReleases) {
    Window t(true); // the headless box answers OK
    t.create();
    t.w.show();
    t.w.form().UpgradePhase = Phase::HttpRunning;
    t.w.startStopTimer();
    EXPECT_TRUE(t.w.close());
    EXPECT_TRUE(t.w.released());
    EXPECT_FALSE(t.w.stopTimerActive());
    EXPECT_EQ(t.w.form().exitStatus, ExitStatus::Failed);
    EXPECT_TRUE(
        t.out.contains(QStringLiteral("Upgrade stopped by the user before the transfer ended")));
    EXPECT_TRUE(t.err.contains(
        QStringLiteral("box: Upgrade Warning: Upgrade Not complete, Do you really want to exit "
                       "program ?")));
    t.w.startStopTimer(); // a closed window keeps no watchdog
    EXPECT_FALSE(t.w.stopTimerActive());
}

TEST(MainWindowWidget, ANewBoxClosesTheStaleOneFirst) {
    Window t;
    // Ends asked for by earlier tests' windows must not end this test's loops.
    QCoreApplication::processEvents();
    t.w.show();
    t.w.form().UpgradePhase = Phase::HttpRunning;
    int shown = -1;
    QString caption;
    const auto visibleBoxes = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<QMessageBox*>(w) && w->isVisible() ? 1 : 0;
        return n;
    };
    // While "Don't Exit ..." is open the upload ends and its result box comes.
    QTimer::singleShot(50, [&] {
        QTimer::singleShot(50, [&] {
            shown = visibleBoxes();
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                caption = box->windowTitle();
                box->done(QMessageBox::Ok);
            }
        });
        t.w.sinks().showBox(QStringLiteral("Upgrade Successfully"), QStringLiteral("Success"),
                            BoxButtons::Ok);
    });
    QTimer::singleShot(3000, [] { // never hang the suite
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    t.w.form().ExitClick();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(caption, QStringLiteral("Success"));
    EXPECT_EQ(visibleBoxes(), 0);
    t.w.hide();
}

TEST(MainWindowWidget, UnreadablePackageEndsBeforeTheLoop) {
    Window t(true);
    ProcessState::quitAtStart = false;
    t.w.form().FormCreate({}, t.temp.filePath(QStringLiteral("missing.exe")));
    EXPECT_TRUE(ProcessState::quitAtStart);
    EXPECT_TRUE(t.w.released());
    EXPECT_EQ(t.w.form().exitStatus, ExitStatus::StartupEnded);
    EXPECT_TRUE(t.err.contains(QStringLiteral("box: Initial Error: Read Imbed File Error !!")));
    EXPECT_EQ(t.out.first(), QStringLiteral("Program Version V1.1.1f "));
    // Nothing is ended by hand-driven event processing: only a running loop is ended.
    QTest::qWait(20);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ProcessState::quitAtStart = false;
}

TEST(MainWindowWidget, ChoosingALineFromTheList) {
    Window t;
    t.w.show();
    t.w.form().HaveUpgradeFile = 1;
    t.search.devices().append(DeviceRecord{DeviceType::Crash, QStringLiteral("10.0.0.1"), {}, {}});
    t.search.devices().append(
        DeviceRecord{DeviceType::EchoOnly, QStringLiteral("10.0.0.2"), {}, {}});
    t.w.form().FillDeviceList();
    auto* ip = t.child<QComboBox>("IPComBox");
    ASSERT_EQ(ip->count(), 2);
    EXPECT_EQ(t.w.form().UpgradeMethod, Method::None); // filling chooses nothing by itself
    ip->setCurrentIndex(1);
    ip->lineEdit()->end(false);
    emit ip->activated(1); // what a click on the second line raises
    EXPECT_EQ(t.w.form().UpgradeMethod, Method::Ftp);
    EXPECT_EQ(ip->lineEdit()->cursorPosition(), 0); // the address in view, not the line's end
    t.w.hide();
}

TEST(MainWindowWidget, TextsFitTheirPlaces) {
    Window t;
    t.w.show();
    // The detailed list's lines fit its drop-down, which may be wider than the field.
    const QString longLine =
        QStringLiteral("192.168.123.254  QR240-LONG-ROM-ID - Router with a long detail   normal");
    t.search.devices().append(DeviceRecord{DeviceType::Normal, QStringLiteral("192.168.123.254"),
                                           QStringLiteral("QR240-LONG-ROM-ID"),
                                           QStringLiteral("Router with a long detail")});
    t.w.form().ListDetail = 222;
    t.w.form().FillDeviceList();
    auto* ip = t.child<QComboBox>("IPComBox");
    ASSERT_EQ(ip->itemText(0), longLine);
    EXPECT_GT(ip->view()->minimumWidth(), ip->view()->fontMetrics().horizontalAdvance(longLine));

    // The user-name layout: every label shows its whole text and ends before its field.
    t.w.setUserIdShown(true);
    t.w.setLabel2Left(160);
    t.w.setPasswordGeometry(215, 110);
    for (const auto& [label, field] :
         {std::pair{"UserLabel", "UserIDComBox"}, std::pair{"Label2", "PasswordComBox"}}) {
        auto* l = t.child<QLabel>(label);
        EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance(l->text())) << label;
        EXPECT_LT(l->geometry().right(), t.child<QLineEdit>(field)->x()) << label;
    }
    t.w.hide();
}

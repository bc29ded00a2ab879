#include "MainWindow.h"

#include "ui/SecretText.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QValidator>

namespace fw {

namespace {

constexpr int kGroupLeft = 4;
constexpr int kGroupWidth = 336;
constexpr int kStatusBarHeight = 18;
constexpr int kPasswordTop = 12;
constexpr int kEditHeight = 21;
constexpr int kUserLabelLeft = 10;
constexpr int kLabelMinLeft = 2;
constexpr int kLabelGap = 3;   // between a label's text and its field
constexpr int kLabelSlack = 2; // a label a shade wider than its text's advance
constexpr int kPopupMargin = 24; // the list's frame, margins and scroll bar

const QString kPasswordStyle = QStringLiteral(
    "QLineEdit#PasswordComBox { lineedit-password-character: 42; background-color: %1; }");

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    return b;
}

QGroupBox* groupBox(QWidget* parent, const char* name, const QString& title, int top, int height) {
    auto* g = new QGroupBox(title, parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(kGroupLeft, top, kGroupWidth, height);
    return g;
}

} // namespace

MainWindow::MainWindow(DeviceSearch& search, MainWindowLogicConfig config,
                             HeadlessPolicy policy, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      policy_(std::move(policy)) {
    setObjectName(QStringLiteral("UpgradeForm1"));
    setWindowTitle(Caption);
    buildControls();

    memoSink_ = std::make_unique<MemoSink>(Memo1, policy_);
    statusSink_ = std::make_unique<StatusBarSink>(StatusBar1, policy_);
    progressSink_ = std::make_unique<ProgressBarSink>(ProgressBar1, policy_);
    boxPresenter_ = std::make_unique<BoxPresenter>(this, policy_);

    setFixedSize(ClientWidth, ClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    form_ = std::make_unique<MainWindowLogic>(*this, search, std::move(config));
    connectEvents();

    idleCheck_.setInterval(IdleCheckInterval);
    connect(&idleCheck_, &QTimer::timeout, this, &MainWindow::checkIdle);
}

MainWindow::~MainWindow() {
    idleCheck_.stop();
    StopTimer->stop();
    // The decisions (and the controller's worker) go before the widgets they report to.
    form_.reset();
}

void MainWindow::buildControls() {
    SearchGroup = groupBox(this, "SearchGroup", QString(), 0, 57);
    Label1 = label(SearchGroup, "Label1",
                   QStringLiteral("Select one device. Or you can input IP manually :"),
                   QRect(8, 10, 320, 16));
    IPComBox = new QComboBox(SearchGroup);
    IPComBox->setObjectName(QStringLiteral("IPComBox"));
    IPComBox->setEditable(true);
    IPComBox->setInsertPolicy(QComboBox::NoInsert);
    IPComBox->setDuplicatesEnabled(true);
    IPComBox->setGeometry(8, 28, 240, 22);
    IPComBox->setEditText(QString());
    IPReFresh = button(SearchGroup, "IPReFresh", QStringLiteral("Refresh"), QRect(256, 27, 72, 24));

    PasswordGroup = groupBox(this, "PasswordGroup", QString(), 56, 41);
    Label2 = label(PasswordGroup, "Label2", QStringLiteral("Password"), QRect(10, 14, 56, 16));
    UserLabel = label(PasswordGroup, "UserLabel", QStringLiteral("UserID"), QRect(10, 14, 38, 16));
    UserLabel->hide();
    PasswordComBox = new QLineEdit(PasswordGroup);
    PasswordComBox->setObjectName(QStringLiteral("PasswordComBox"));
    PasswordComBox->setGeometry(70, kPasswordTop, 259, kEditHeight);
    PasswordComBox->setEchoMode(QLineEdit::Password);
    passwordLimit_ = new TypedLengthValidator(PasswordTypedLimit, PasswordComBox);
    PasswordComBox->setValidator(passwordLimit_);
    PasswordComBox->setStyleSheet(kPasswordStyle.arg(QStringLiteral("palette(window)")));
    PasswordComBox->setEnabled(false);
    UserIDComBox = new QLineEdit(PasswordGroup);
    UserIDComBox->setObjectName(QStringLiteral("UserIDComBox"));
    UserIDComBox->setGeometry(50, kPasswordTop, 90, kEditHeight);
    UserIDComBox->hide();
    placePasswordLabels();

    UpgreadFileGroup = groupBox(this, "UpgreadFileGroup", QString(), 89, 57);
    Label3 = label(UpgreadFileGroup, "Label3", QStringLiteral("Select Update File by yourself"),
                   QRect(8, 10, 320, 16));
    UpdateFileName = new QLineEdit(UpgreadFileGroup);
    UpdateFileName->setObjectName(QStringLiteral("UpdateFileName"));
    UpdateFileName->setReadOnly(true);
    UpdateFileName->setGeometry(8, 28, 240, kEditHeight);
    Browse = button(UpgreadFileGroup, "Browse", QStringLiteral("Browse"), QRect(256, 27, 72, 24));

    ToolGroup = groupBox(this, "ToolGroup", QString(), 144, 40);
    Upgrade = button(ToolGroup, "Upgrade", QStringLiteral("Upgrade"), QRect(60, 9, 90, 24));
    Upgrade->setEnabled(false);
    Exit = button(ToolGroup, "Exit", QStringLiteral("Exit"), QRect(186, 9, 90, 24));

    ProgressGroup = groupBox(this, "ProgressGroup", QString(), 180, 25);
    ProgressBar1 = new QProgressBar(ProgressGroup);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(8, 7, 320, 13);

    GSystemLog = groupBox(this, "GSystemLog", QStringLiteral("System Log"), 204, 137);
    Memo1 = new SystemLogView(GSystemLog);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(8, 18, 320, 112);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, ClientHeight - kStatusBarHeight, ClientWidth, kStatusBarHeight);

    StopTimer = new QTimer(this);
    StopTimer->setObjectName(QStringLiteral("StopTimer"));
    StopTimer->setInterval(StopTimerInterval);
}

void MainWindow::connectEvents() {
    // Only what a person does raises the change events; the program's own settings do not.
    connect(IPComBox, &QComboBox::activated, this, [this] {
        // A chosen line shows from its start: the address is what tells it apart.
        IPComBox->lineEdit()->setCursorPosition(0);
        form_->IPComBoxChange();
    });
    connect(IPComBox->lineEdit(), &QLineEdit::textEdited, this,
            [this] { form_->IPComBoxChange(); });
    // A person's keys reach the combo box, which holds the focus; its line edit gets them only
    // from the combo box (or from a caller that sends them there).
    IPComBox->installEventFilter(this);
    IPComBox->lineEdit()->installEventFilter(this);
    connect(IPReFresh, &QPushButton::clicked, this, [this] { form_->IPReFreshClick(); });
    connect(PasswordComBox, &QLineEdit::textEdited, this,
            [this] { form_->PasswordComBoxChange(); });
    connect(UserIDComBox, &QLineEdit::textEdited, this, [this] { form_->UserIDComBoxChange(); });
    connect(Browse, &QPushButton::clicked, this, [this] { form_->BrowseClick(); });
    connect(Upgrade, &QPushButton::clicked, this, [this] { form_->UpgradeClick(); });
    connect(Exit, &QPushButton::clicked, this, [this] { form_->ExitClick(); });
    // Return (or the keypad's Enter) presses the focused button, as Space does.
    for (QPushButton* b : {IPReFresh, Browse, Upgrade, Exit})
        b->installEventFilter(this);
    // ... and, in the password and user fields, Upgrade when it may be pressed.
    for (QLineEdit* field : {PasswordComBox, UserIDComBox})
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (Upgrade->isEnabled() && Upgrade->isVisible())
                Upgrade->click();
        });
    connect(StopTimer, &QTimer::timeout, this, [this] { form_->StopTimerTimer(); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && watched == IPComBox) {
        // Tabbed into, the combo box selects its whole line; its start is shown once it has.
        const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
        if (why == Qt::TabFocusReason || why == Qt::BacktabFocusReason)
            QTimer::singleShot(0, this, &MainWindow::showIpStart);
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (auto* b = qobject_cast<QPushButton*>(watched);
        b && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        if (!key->isAutoRepeat() && b->isEnabled())
            b->click();
        return true;
    }
    if ((watched == IPComBox || watched == IPComBox->lineEdit()) &&
        (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        form_->IPComBoxKeyPress(13);
        return true; // the combo must not choose a line of its own on Enter
    }
    if (watched == Exit) {
        ServiceKey k = ServiceKey::Other;
        switch (key->key()) {
        case Qt::Key_F1:
            k = ServiceKey::F1;
            break;
        case Qt::Key_F2:
            k = ServiceKey::F2;
            break;
        case Qt::Key_F3:
            k = ServiceKey::F3;
            break;
        case Qt::Key_F5:
            k = ServiceKey::F5;
            break;
        default:
            break;
        }
        form_->ExitKeyDown(k, key->modifiers() & Qt::AltModifier);
    }
    return QWidget::eventFilter(watched, event);
}

QGroupBox* MainWindow::group(Group g) const {
    switch (g) {
    case Group::Search:
        return SearchGroup;
    case Group::Password:
        return PasswordGroup;
    case Group::UpgradeFile:
        return UpgreadFileGroup;
    case Group::Tool:
        return ToolGroup;
    case Group::Progress:
        return ProgressGroup;
    case Group::SystemLog:
        return GSystemLog;
    }
    return SearchGroup;
}

QStringList MainWindow::qtNameFilters(const QString& pairs) {
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (pattern == QStringLiteral("*.*"))
            pattern = QStringLiteral("*");
        filters << parts[i] + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return filters;
}

TypedLengthValidator::TypedLengthValidator(int limit, QLineEdit* edit)
    : QValidator(edit), limit_(limit) {
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString& t) { accepted_ = t.size(); });
}

QValidator::State TypedLengthValidator::validate(QString& input, int&) const {
    return input.size() > limit_ && input.size() > accepted_ ? Invalid : Acceptable;
}

// --- MainView

Sinks MainWindow::sinks() {
    Sinks s;
    s.log = memoSink_.get();
    s.status = statusSink_.get();
    s.progress = progressSink_.get();
    s.box = boxPresenter_.get();
    s.messageWindow = &messageForward_;
    s.events = &eventSink_;
    return s;
}

void MainWindow::setCaption(const QString& caption) {
    setWindowTitle(shownText(caption)); // the settings' caption is stored in the package
}

QString MainWindow::caption() const {
    return windowTitle();
}

QString MainWindow::ipText() const {
    return IPComBox->currentText();
}

void MainWindow::setIpText(const QString& text) {
    const int i = IPComBox->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i >= 0)
        IPComBox->setCurrentIndex(i);
    IPComBox->setEditText(text);
    IPComBox->lineEdit()->setCursorPosition(0); // the address, not the line's tail, in view
}

void MainWindow::setIpItems(const QStringList& lines) {
    const QStringList sorted = sortedIpItems(lines);
    IPComBox->clear();
    // Discovery texts come from the network: shown with their control characters visible.
    for (const QString& line : sorted)
        IPComBox->addItem(shownText(line));
    fitIpPopup();
    IPComBox->setCurrentIndex(-1);
    IPComBox->setEditText(QString());
    for (const QString& line : sorted)
        policy_.report(QStringLiteral("list"), line);
}

// The drop-down is as wide as its longest line, within the screen; a line that still does not
// fit loses its end, never the address at its start.
void MainWindow::fitIpPopup() {
    QAbstractItemView* list = IPComBox->view();
    list->setTextElideMode(Qt::ElideRight);
    int widest = 0;
    for (int i = 0; i < IPComBox->count(); ++i)
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(IPComBox->itemText(i)));
    int width = std::max(IPComBox->width(), widest + kPopupMargin);
    if (const QScreen* screen = IPComBox->screen())
        width = std::min(width, screen->availableGeometry().width());
    list->setMinimumWidth(width);
}

QStringList MainWindow::ipItems() const {
    QStringList items;
    for (int i = 0; i < IPComBox->count(); ++i)
        items << IPComBox->itemText(i);
    return items;
}

void MainWindow::focusIp() {
    IPComBox->setFocus();
}

// The line stays selected (typing replaces it), the cursor at its start, so the address shows.
void MainWindow::showIpStart() {
    QLineEdit* edit = IPComBox->lineEdit();
    if (!edit || !edit->hasFocus())
        return;
    const int length = int(edit->text().size());
    if (edit->selectedText().size() == length && length > 0)
        edit->setSelection(length, -length);
    else
        edit->setCursorPosition(0);
}

void MainWindow::focusPassword() {
    if (!PasswordComBox->isEnabled())
        return;
    PasswordComBox->setFocus(Qt::OtherFocusReason);
    PasswordComBox->selectAll();
}

QString MainWindow::passwordText() const {
    return PasswordComBox->text();
}

void MainWindow::setPasswordText(const QString& text) {
    // The program's own text is kept whole, however long.
    passwordLimit_->allowLength(text.size());
    PasswordComBox->setText(text);
}

void MainWindow::setPasswordEnabled(bool enabled) {
    PasswordComBox->setEnabled(enabled);
}

void MainWindow::setPasswordWhite() {
    PasswordComBox->setStyleSheet(kPasswordStyle.arg(QStringLiteral("white")));
}

void MainWindow::setPasswordGeometry(int left, int width) {
    PasswordComBox->setGeometry(left, kPasswordTop, width, kEditHeight);
    placePasswordLabels();
}

void MainWindow::setLabel2Left(int left) {
    label2Left_ = left;
    placePasswordLabels();
}

// Each label is as wide as its text and ends a little before its field: the given left is
// kept unless the text would run into the field.
void MainWindow::placePasswordLabels() {
    const auto place = [](QLabel* l, int left, int fieldLeft) {
        const int width = l->fontMetrics().horizontalAdvance(l->text()) + kLabelSlack;
        const int x = std::max(kLabelMinLeft, std::min(left, fieldLeft - kLabelGap - width));
        l->setGeometry(x, l->y(), width, l->height());
    };
    place(Label2, label2Left_, PasswordComBox->x());
    place(UserLabel, kUserLabelLeft, UserIDComBox->x());
}

QString MainWindow::userIdText() const {
    return UserIDComBox->text();
}

void MainWindow::setUserIdText(const QString& text) {
    UserIDComBox->setText(text);
}

void MainWindow::setUserIdShown(bool shown) {
    UserIDComBox->setHidden(!shown);
    UserLabel->setHidden(!shown);
}

QString MainWindow::updateFileNameText() const {
    return UpdateFileName->text();
}

void MainWindow::setUpdateFileNameText(const QString& text) {
    UpdateFileName->setText(text);
}

void MainWindow::setUpgradeEnabled(bool enabled) {
    Upgrade->setEnabled(enabled);
}

bool MainWindow::upgradeEnabled() const {
    return Upgrade->isEnabled();
}

void MainWindow::setExitEnabled(bool enabled) {
    Exit->setEnabled(enabled);
}

int MainWindow::groupHeight(Group g) const {
    return group(g)->height();
}

void MainWindow::placeGroup(Group g, int top, bool visible) {
    QGroupBox* box = group(g);
    box->move(kGroupLeft, top);
    box->setHidden(!visible);
}

int MainWindow::windowHeight() const {
    return height();
}

void MainWindow::setWindowHeight(int h) {
    setFixedSize(ClientWidth, h);
    StatusBar1->setGeometry(0, h - kStatusBarHeight, ClientWidth, kStatusBarHeight);
}

void MainWindow::startStopTimer() {
    // A closed window keeps no watchdog.
    if (!released_ && !closed_)
        StopTimer->start();
}

void MainWindow::stopStopTimer() {
    StopTimer->stop();
}

bool MainWindow::stopTimerActive() const {
    return StopTimer->isActive();
}

void MainWindow::closeWindow() {
    close();
}

void MainWindow::releaseWindow() {
    if (released_)
        return;
    released_ = true;
    StopTimer->stop();
    idleCheck_.stop();
    progressSink_->flushHeadless();
    form_->FormClose();
    close();
}

void MainWindow::terminateApplication() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    // Queued: it ends the message loop once that runs, also when asked before it started.
    // Without a running loop (a caller that processes events by hand) nothing is ended.
    QMetaObject::invokeMethod(
        app,
        [self = QPointer<MainWindow>(this)] {
            if (QThread::currentThread()->loopLevel() > 0)
                QCoreApplication::exit(self && self->form_ ? self->form_->exitStatus : 0);
        },
        Qt::QueuedConnection);
}

void MainWindow::showSearchWindow() {
    if (!searchWindow_)
        return;
    ++modalDepth_;
    searchWindow_();
    --modalDepth_;
}

std::optional<QStringList> MainWindow::chooseUpgradeFiles() {
    if (policy_.enabled)
        return std::nullopt; // nobody to choose
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(qtNameFilters(OpenDialogFilter));
    dialog.setSizeGripEnabled(true);
    ++modalDepth_;
    const bool accepted = dialog.exec() == QDialog::Accepted;
    --modalDepth_;
    if (!accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles();
}

void MainWindow::waitMs(int ms) {
    QEventLoop loop;
    QTimer::singleShot(std::max(ms, 0), &loop, &QEventLoop::quit);
    ++modalDepth_;
    loop.exec();
    --modalDepth_;
}

void MainWindow::settleInput() {
    if (policy_.enabled)
        return; // no person, no input
    // Clicks and keys queued while a search held the thread come now, and are ignored where
    // they would start a search or an upgrade.
    ++modalDepth_;
    QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers);
    --modalDepth_;
}

// --- events

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!activated_ && startOnActivate_) {
        activated_ = true;
        // After the window is up, from the message loop, as the first activation does.
        QTimer::singleShot(0, this, &MainWindow::runFormActivate);
    }
}

void MainWindow::runFormActivate() {
    if (released_ || closed_)
        return;
    form_->FormActivate();
    if (policy_.enabled && !released_ && !closed_)
        idleCheck_.start();
}

// A headless run left with nothing to do but wait for a person ends, with the status of what
// happened (see MainWindowLogic::idleExitStatus).
void MainWindow::checkIdle() {
    const bool nested = QThread::currentThread()->loopLevel() > 1 || modalDepth_ > 0 ||
                        QApplication::activeModalWidget() != nullptr;
    if (nested || !form_->idle()) {
        idleChecks_ = 0;
        return;
    }
    if (++idleChecks_ < IdleChecksBeforeEnd)
        return;
    idleCheck_.stop();
    form_->exitStatus = form_->idleExitStatus();
    terminateApplication();
    releaseWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    if (!released_ && !form_->FormCloseQuery()) {
        event->ignore();
        return;
    }
    closed_ = true;
    StopTimer->stop();
    idleCheck_.stop();
    progressSink_->flushHeadless();
    form_->FormClose();
    event->accept();
    // The main window closing ends the program, whatever other windows exist.
    terminateApplication();
}

} // namespace fw

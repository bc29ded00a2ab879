#include "SearchWindow.h"

#include "search/DeviceSearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <thread>

namespace fw {

namespace {
const QString Caption = QStringLiteral("Searching for installed device(s)...");
constexpr int ProgressMaximum = 100;
} // namespace

SearchWindow::SearchWindow(DeviceSearch& search, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::CustomizeWindowHint),
      search_(search) {
    setObjectName(QStringLiteral("RefreshForm"));
    setWindowTitle(Caption);
    setModal(true);
    setFixedSize(ClientWidth, ClientHeight);

    Label1 = new QLabel(QStringLiteral("Searching for installed device(s)"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(0, 14, ClientWidth, 20);

    Label2 = new QLabel(QStringLiteral("Please Wait ..."), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setGeometry(0, 38, ClientWidth, 20);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, ProgressMaximum);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(16, 70, ClientWidth - 32, 18);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(Timer1Interval);
    connect(Timer1, &QTimer::timeout, this, &SearchWindow::Timer1Timer);

    search_.setProgress(this);
    search_.setWaitFunction([this](std::chrono::milliseconds ms) { waitPainted(ms); });
}

SearchWindow::~SearchWindow() {
    search_.setWaitFunction({});
    search_.setProgress(nullptr);
}

void SearchWindow::paintBeforeSearch() {
    // The search blocks this thread: until the window system shows the window, and the window
    // has painted itself once, a person would see an empty frame.
    QElapsedTimer clock;
    clock.start();
    while (windowHandle() && !windowHandle()->isExposed() && clock.elapsed() < ExposeWait.count()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        std::this_thread::sleep_for(PaintSlice);
    }
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void SearchWindow::waitPainted(std::chrono::milliseconds wait) {
    // Nothing a person does reaches the program while a probe listens; repaints and timers do.
    QElapsedTimer clock;
    clock.start();
    const int from = ProgressMaximum * waitsDone_ / plannedWaits_;
    const int to = ProgressMaximum * (waitsDone_ + 1) / plannedWaits_;
    while (clock.elapsed() <= wait.count()) {
        if (isVisible()) {
            const qint64 gained = (to - from) * std::min(clock.elapsed(), qint64(wait.count())) /
                                  std::max<qint64>(wait.count(), 1);
            if (from + gained > ProgressBar1->value())
                ProgressBar1->setValue(int(std::min<qint64>(from + gained, ProgressMaximum)));
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        std::this_thread::sleep_for(std::min(PaintSlice, wait));
    }
    waitsDone_ = std::min(waitsDone_ + 1, plannedWaits_);
}

void SearchWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The search blocks the GUI thread: start it once the window is up and the modal loop runs,
    // so that its close ends that loop.
    QMetaObject::invokeMethod(this, &SearchWindow::FormActivate, Qt::QueuedConnection);
}

void SearchWindow::hideEvent(QHideEvent* event) {
    // Hidden by its owner: no search for a window that is gone.
    Timer1->stop();
    QDialog::hideEvent(event);
}

void SearchWindow::reject() {
    if (Timer1->isActive())
        return;
    QDialog::reject();
}

void SearchWindow::FormActivate() {
    if (!isVisible() || Timer1->isActive())
        return;
    search_.ClearDevices();
    ProgressBar1->setRange(0, ProgressMaximum);
    ProgressBar1->setValue(0);
    DeviceSearch::requestRepeat();
    // The bar spans both searches of this showing.
    plannedWaits_ = 2 * std::max(search_.broadcastWaits(), 1);
    waitsDone_ = 0;
    paintBeforeSearch();
    runBroadcastSearch();
    // The repeat runs before the window closes, so whoever showed it reads the final list.
    if (DeviceSearch::repeatRequested() && !search_.lastSearchAbandoned())
        Timer1->start();
    else
        close();
}

void SearchWindow::Timer1Timer() {
    Timer1->stop();
    runBroadcastSearch();
    close();
}

void SearchWindow::runBroadcastSearch() {
    ++searchesRun_;
    search_.broadcastSearch();
}

void SearchWindow::setProgressMaximum(qint64 maximum) {
    ProgressBar1->setMaximum(int(std::clamp<qint64>(maximum, 0, INT_MAX)));
}

void SearchWindow::setProgressPosition(qint64 position) {
    ProgressBar1->setValue(
        int(std::clamp<qint64>(position, ProgressBar1->minimum(), ProgressBar1->maximum())));
}

void SearchWindow::advanceProgress(qint64 delta) {
    setProgressPosition(qint64(ProgressBar1->value()) + delta);
}

} // namespace fw

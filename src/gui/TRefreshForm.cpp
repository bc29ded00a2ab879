#include "TRefreshForm.h"

#include "search/DeviceSearch.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

namespace fw {

namespace {
const QString Caption = QStringLiteral("Searching for installed device(s)...");
constexpr int ProgressMaximum = 100;
} // namespace

TRefreshForm::TRefreshForm(DeviceSearch& search, QWidget* owner)
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
    connect(Timer1, &QTimer::timeout, this, &TRefreshForm::Timer1Timer);

    search_.setProgress(this);
}

TRefreshForm::~TRefreshForm() {
    search_.setProgress(nullptr);
}

void TRefreshForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The search blocks the GUI thread: start it once the window is up and the modal loop runs,
    // so that its close ends that loop.
    QMetaObject::invokeMethod(this, &TRefreshForm::FormActivate, Qt::QueuedConnection);
}

void TRefreshForm::hideEvent(QHideEvent* event) {
    // Hidden by its owner: no search for a window that is gone.
    Timer1->stop();
    QDialog::hideEvent(event);
}

void TRefreshForm::reject() {
    if (Timer1->isActive())
        return;
    QDialog::reject();
}

void TRefreshForm::FormActivate() {
    if (!isVisible() || Timer1->isActive())
        return;
    search_.ClearDevices();
    ProgressBar1->setRange(0, ProgressMaximum);
    ProgressBar1->setValue(0);
    DeviceSearch::requestRepeat();
    runBroadcastSearch();
    // The repeat runs before the window closes, so whoever showed it reads the final list.
    if (DeviceSearch::repeatRequested() && !search_.lastSearchAbandoned())
        Timer1->start();
    else
        close();
}

void TRefreshForm::Timer1Timer() {
    Timer1->stop();
    runBroadcastSearch();
    close();
}

void TRefreshForm::runBroadcastSearch() {
    ++searchesRun_;
    search_.broadcastSearch();
}

void TRefreshForm::setProgressMaximum(qint64 maximum) {
    ProgressBar1->setMaximum(int(std::clamp<qint64>(maximum, 0, INT_MAX)));
}

void TRefreshForm::setProgressPosition(qint64 position) {
    ProgressBar1->setValue(
        int(std::clamp<qint64>(position, ProgressBar1->minimum(), ProgressBar1->maximum())));
}

void TRefreshForm::advanceProgress(qint64 delta) {
    setProgressPosition(qint64(ProgressBar1->value()) + delta);
}

} // namespace fw

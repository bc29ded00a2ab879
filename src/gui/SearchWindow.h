#pragma once
// The search window: a small fixed dialog that runs the broadcast search each time it is shown,
// repeats it once from Timer1 while the process-wide repeat-search flag stays set, and closes
// itself. It is the search's progress bar. GUI thread.

#include "ui/Sinks.h"

#include <QDialog>
#include <chrono>

class QLabel;
class QProgressBar;
class QTimer;

namespace fw {

class DeviceSearch;

class SearchWindow : public QDialog, private ProgressSink {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds Timer1Interval{20};
    static constexpr int ClientWidth = 300;
    static constexpr int ClientHeight = 107;
    // How long the search waits for the window system to show the window before its first
    // probe, and how often the window is repainted while a probe waits.
    static constexpr std::chrono::milliseconds ExposeWait{1000};
    static constexpr std::chrono::milliseconds PaintSlice{10};

    explicit SearchWindow(DeviceSearch& search, QWidget* owner = nullptr);
    ~SearchWindow() override;

    DeviceSearch& search() { return search_; }
    // Broadcast searches run since the window was created.
    int searchesRun() const { return searchesRun_; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QTimer* Timer1 = nullptr;

    // The window's events.
    void FormActivate();
    void Timer1Timer();

    // Escape does not end the window while the repeat search is pending.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void runBroadcastSearch();
    void paintBeforeSearch();
    // A probe's wait: the window stays painted and the bar moves with the time the search takes.
    void waitPainted(std::chrono::milliseconds wait);
    void setProgressMaximum(qint64 maximum) override;
    void setProgressPosition(qint64 position) override;
    void advanceProgress(qint64 delta) override;

    DeviceSearch& search_;
    int searchesRun_ = 0;
    int plannedWaits_ = 1; // probe waits of this showing (both searches)
    int waitsDone_ = 0;
};

} // namespace fw

#pragma once
// The System Log (Memo1): a read-only view of every line logged, with a vertical scroll bar.
// A line is kept at once and shown with the others that came within ShowInterval, so a transfer
// that logs per datagram costs one layout and one repaint per batch, and only the lines in sight
// are ever drawn. It shows the newest line as lines arrive, unless the person scrolled up (it then
// stays there until they scroll back to the end), and whenever its size or scroll bars change;
// only whole lines count as in sight, so the last is never under the horizontal scroll bar.
// Ctrl+C and the context menu copy the whole log. GUI thread.

#include "LogLineStore.h"

#include <QAbstractScrollArea>
#include <QTimer>

#include <chrono>

namespace fw {

class SystemLogView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds ShowInterval{50};
    static constexpr int Margin = 3;

    explicit SystemLogView(QWidget* parent = nullptr);

    void appendLine(const QString& line);
    // Shows the lines kept since the last batch now.
    void showPending();

    int lineCount() const { return store_.count(); }
    int shownCount() const { return shown_; }
    QString line(int i) const { return store_.line(i); }
    // Every line kept, shown or not yet, joined by newlines.
    QString toPlainText() const { return store_.text(0, store_.count()); }
    void copyAll() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int lineHeight() const;
    int linesInSight() const;
    void updateScrollBars();
    void scrolled(int value);

    LogLineStore store_;
    int shown_ = 0;
    int widest_ = 0;         // pixels of the widest line shown
    bool following_ = true;  // the newest line is kept in sight
    bool adjusting_ = false; // the view itself moves the bar
    QTimer showTimer_;
};

} // namespace fw

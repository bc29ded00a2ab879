#include "SystemLogView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace fw {

SystemLogView::SystemLogView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(ShowInterval);
    connect(&showTimer_, &QTimer::timeout, this, &SystemLogView::showPending);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &SystemLogView::scrolled);
    updateScrollBars();
}

void SystemLogView::appendLine(const QString& line) {
    store_.append(line);
    if (!showTimer_.isActive())
        showTimer_.start();
}

void SystemLogView::showPending() {
    showTimer_.stop();
    if (shown_ == store_.count())
        return;
    // Only a line that could be wider than the widest so far is measured.
    const QFontMetrics fm(font());
    const int widestChar = std::max(fm.maxWidth(), 1);
    for (int i = shown_; i < store_.count(); ++i) {
        const QString line = store_.line(i);
        if (line.size() * qsizetype(widestChar) > widest_)
            widest_ = std::max(widest_, fm.horizontalAdvance(line));
    }
    shown_ = store_.count();
    updateScrollBars();
    viewport()->update();
}

int SystemLogView::lineHeight() const {
    return std::max(QFontMetrics(font()).lineSpacing(), 1);
}

int SystemLogView::linesInSight() const {
    return std::max((viewport()->height() - 2 * Margin) / lineHeight(), 1);
}

// Whether the view follows is decided only by what moves the bar from outside: the person's
// wheel, keys and clicks. A range that shrinks or grows under it decides nothing.
void SystemLogView::scrolled(int value) {
    if (!adjusting_)
        following_ = value >= verticalScrollBar()->maximum();
}

// Runs on every change of the lines or of the viewport's size (also when the horizontal scroll
// bar comes or goes and takes its height).
void SystemLogView::updateScrollBars() {
    const bool was = adjusting_;
    adjusting_ = true;
    QScrollBar* bar = verticalScrollBar();
    const int page = linesInSight();
    bar->setRange(0, std::max(shown_ - page, 0));
    bar->setPageStep(page);
    bar->setSingleStep(1);
    const int width = viewport()->width() - 2 * Margin;
    horizontalScrollBar()->setRange(0, std::max(widest_ - width, 0));
    horizontalScrollBar()->setPageStep(std::max(width, 1));
    if (following_)
        bar->setValue(bar->maximum());
    adjusting_ = was;
}

void SystemLogView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.setPen(palette().color(QPalette::Text));
    const QFontMetrics fm(font());
    const int h = lineHeight();
    const int first = verticalScrollBar()->value();
    const int last = std::min(shown_, first + linesInSight() + 1);
    const int x = Margin - horizontalScrollBar()->value();
    for (int i = first; i < last; ++i)
        p.drawText(x, Margin + (i - first) * h + fm.ascent(), store_.line(i));
}

void SystemLogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void SystemLogView::copyAll() const {
    if (QClipboard* clipboard = QApplication::clipboard())
        clipboard->setText(toPlainText());
}

void SystemLogView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copyAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void SystemLogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(tr("Copy"), this, &SystemLogView::copyAll);
    menu.exec(event->globalPos());
}

} // namespace fw
